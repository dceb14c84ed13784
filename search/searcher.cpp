#include "search/searcher.h"

// The block is had before the records' buffer.
Searcher::Searcher(SearchSink& sink, const char* keywordLine, bool lfLineEnds)
    : kernels_(CurrentScanKernels()),
      input_(sink, records_),
      records_(sink, lfLineEnds),
      capture_(input_, kernels_),
      emitter_(sink, records_, keywordLine ? keywordLine : ""),
      scanner_(sink, input_, capture_, emitter_, records_, kernels_) {}

bool Searcher::Run(bool range, long long end) {
    try {
        if (range)
            scanner_.ScanRange(end);
        else
            scanner_.ScanAll();
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
    return Run(false, 0);
}

bool Searcher::SearchFrom(ReadFunction read, void* context) {
    stopped_ = false;
    input_.BeginFrom(read, context);
    return Run(false, 0);
}

bool Searcher::SearchRange(int fd, long long start, long long end) {
    stopped_ = false;
    input_.BeginAt(fd, start);
    bool done = Run(true, end);
    scanner_.FinishRange();
    return done;
}
