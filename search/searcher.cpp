// A search from beginning to end: the input begun, the scan, and what
// remains gathered handed over however the search ends.
#include "search/searcher.h"

bool Searcher::Run() {
    try {
        ScanAnchors();
        return true;
    } catch (const Stop&) {
        stopped_ = true;
        return false;
    } catch (...) {
        // A failure of the sink: the records gathered are still handed over.
        AbandonGathered();
        throw;
    }
}

bool Searcher::Search(int fd) {
    positional_ = false;
    rangeEnd_ = -1;
    startOffset_ = 0;
    read_ = nullptr;
    BeginInput(fd);
    return Run();
}

bool Searcher::SearchFrom(ReadFunction read, void* context) {
    positional_ = false;
    rangeEnd_ = -1;
    startOffset_ = 0;
    read_ = read;
    readContext_ = context;
    BeginInput(-1);
    return Run();
}

bool Searcher::SearchRange(int fd, long long start, long long end) {
    positional_ = true;
    readOffset_ = startOffset_ = start;
    rangeEnd_ = end;
    next_ = start;
    read_ = nullptr;
    BeginInput(fd);
    bool done = Run();
    if (rangeEnd_ >= 0 && next_ < rangeEnd_) next_ = Offset() > rangeEnd_ ? Offset() : rangeEnd_;
    return done;
}
