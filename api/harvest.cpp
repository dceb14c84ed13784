// The library's searches of an open descriptor: the export's search of a
// file, with the records, the addresses that become none, the progress and
// the messages handed to the caller's sink instead of OUT.TXT and message
// boxes. Each call is a search of its own: calls run at once on any threads.
#include <new>

#include "talveron.h"
#include "lifecycle/limits.h"
#include "messages/messages.h"
#include "search/range_cut.h"
#include "search/searcher.h"

static_assert(TALVERON_KEYWORD_SLOTS == kKeywordSlots, "the header names the module's limits");
static_assert(TALVERON_KEYWORD_LINE_MAX == kKeywordLineMax, "the header names the module's limits");
static_assert(TALVERON_ADDRESS_MAX == kMaxAddress, "the header names the module's limits");
static_assert(TALVERON_ADDRESS_KEPT == kRecordBufferSize, "the header names the module's limits");
static_assert(int{TALVERON_EXCLUDED} == kRejectExcluded && int{TALVERON_TOO_LONG} == kRejectTooLong &&
                  int{TALVERON_UNFINISHED} == kRejectUnfinished,
              "the reasons are the search's");

namespace {

class CallerSink : public SearchSink {
public:
    explicit CallerSink(const talveron_sink& sink) : sink_(sink) {}
    bool Records(const char* bytes, std::size_t length) override {
        return sink_.records(sink_.context, bytes, length) == 0;
    }
    void Rejected(int reason, int keyword, long long offset, const char* address, std::size_t length) override {
        if (sink_.rejected) sink_.rejected(sink_.context, reason, keyword, offset, address, length);
    }
    void Progress(long long bytes) override {
        if (sink_.progress) sink_.progress(sink_.context, bytes);
    }
    void Message(const char* text, const char* caption) override {
        if (sink_.message) sink_.message(sink_.context, text, caption);
    }

private:
    const talveron_sink& sink_;
};

// Runs `search` on a new searcher reporting to `sink`, and tells how it ended.
template <typename Search>
talveron_result Run(const char* keywordLine, const talveron_sink* sink, bool beginning, Search search) {
    talveron_result outcome = {TALVERON_BAD_ARGUMENTS, 0, 0, 0};
    if (!sink || !sink->records) return outcome;
    CallerSink caller(*sink);
    // Nothing is thrown out to the caller, who may be a C program.
    try {
        if (beginning) caller.Message(MSG_SEARCH_START, CAPTION_ERROR);
        Searcher searcher(caller, keywordLine, sink->lf_line_ends != 0);
        searcher.SetHttps(sink->https != 0);
        search(searcher);
        outcome.status = searcher.Stopped()      ? TALVERON_STOPPED
                         : searcher.ReadFailed() ? TALVERON_READ_FAILED
                                                 : TALVERON_COMPLETED;
        outcome.read_errno = searcher.ReadErrno();
        outcome.bytes = searcher.BytesRead();
        outcome.next = searcher.Next();
    } catch (const std::bad_alloc&) {
        outcome.status = TALVERON_OUT_OF_MEMORY;
    } catch (...) {
        outcome.status = TALVERON_STOPPED;  // the caller's own function failed
    }
    return outcome;
}

int Report(const talveron_result& outcome, talveron_result* result) {
    if (result) *result = outcome;
    return outcome.status == TALVERON_COMPLETED ? 0 : -1;
}

}  // namespace

extern "C" int talveron_harvest(int fd, const char* keyword_line, const talveron_sink* sink,
                                talveron_result* result) {
    return Report(Run(keyword_line, sink, true,
                      [&](Searcher& searcher) {
                          // An input that ended stays ended: a terminal needs
                          // one end-of-file key, and a file one read at its end.
                          searcher.SetEndIsFinal(true);
                          searcher.Search(fd);
                      }),
                  result);
}

namespace {

struct CallerRead {
    int (*read)(void*, char*, std::size_t);
    void* context;
};

int ReadThroughCaller(void* context, unsigned char* buffer, unsigned int size) {
    CallerRead& caller = *static_cast<CallerRead*>(context);
    return caller.read(caller.context, reinterpret_cast<char*>(buffer), size);
}

}  // namespace

extern "C" int talveron_harvest_read(int (*read)(void*, char*, std::size_t), void* read_context,
                                     const char* keyword_line, const talveron_sink* sink, talveron_result* result) {
    if (!read) return Report({TALVERON_BAD_ARGUMENTS, 0, 0, 0}, result);
    CallerRead caller = {read, read_context};
    return Report(Run(keyword_line, sink, true,
                      [&](Searcher& searcher) {
                          searcher.SetEndIsFinal(true);
                          searcher.SearchFrom(ReadThroughCaller, &caller);
                      }),
                  result);
}

extern "C" int talveron_harvest_range(int fd, long long start, long long end, const char* keyword_line,
                                      const talveron_sink* sink, talveron_result* result) {
    if (start < 0 || end < 0) return Report({TALVERON_BAD_ARGUMENTS, 0, 0, 0}, result);
    if (start >= end) {
        // Nothing of it is left (the range before has run past it): only
        // the start message of a search, when this is its beginning.
        if (!sink || !sink->records) return Report({TALVERON_BAD_ARGUMENTS, 0, 0, 0}, result);
        if (start == 0 && sink->message) sink->message(sink->context, MSG_SEARCH_START, CAPTION_ERROR);
        return Report({TALVERON_COMPLETED, 0, 0, start}, result);
    }
    // The parts of a search tell its start once, at the beginning.
    return Report(Run(keyword_line, sink, start == 0,
                      [&](Searcher& searcher) {
                          searcher.SetEndIsFinal(true);
                          searcher.SearchRange(fd, start, end);
                      }),
                  result);
}

extern "C" long long talveron_cut(int fd, long long near, long long window) {
    if (near < 0 || window <= 0) return -1;
    try {
        return FindRangeCut(fd, near, window);
    } catch (...) {
        return -1;
    }
}
