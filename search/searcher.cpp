#include "search/searcher.h"

// The block is had before the records' buffer.
Searcher::Searcher(SearchSink& sink, const char* keywordLine, bool lfLineEnds)
    : kernels_(CurrentScanKernels()),
      input_(sink, records_),
      records_(sink, lfLineEnds),
      capture_(kernels_),
      emitter_(sink, records_, keywordLine ? keywordLine : ""),
      scanner_(sink, records_, kernels_) {}

// The scan and the parts it drives compile as one piece, so that each
// part's members lie at a fixed place of the searcher: the scan is hot.
#if defined(__GNUC__)
__attribute__((flatten))
#endif
bool Searcher::Run() {
    try {
        scanner_.Scan(input_, capture_, emitter_);
        return true;
    } catch (const RecordsRefused&) {
        stopped_ = true;
        return false;
    } catch (...) {
        // A failure of the sink: the records gathered are still handed over.
        records_.Abandon();
        throw;
    }
}

bool Searcher::Search(int fd) {
    BeginInput(fd);
    scanner_.TakeWholeInput();
    return Run();
}

bool Searcher::SearchFrom(ByteSource& source) {
    stopped_ = false;
    input_.BeginFrom(source);
    scanner_.TakeWholeInput();
    return Run();
}

bool Searcher::SearchRange(int fd, long long start, long long end) {
    stopped_ = false;
    input_.BeginAt(fd, start);
    scanner_.TakeRange(start, end);
    bool done = Run();
    scanner_.FinishRange(input_);
    return done;
}
