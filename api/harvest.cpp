// The library's searches of an open descriptor: the export's search of a
// file, with the records, the addresses that become none, the progress and
// the messages handed to the caller's sink instead of OUT.TXT and message
// boxes. Each call is a search of its own: calls run at once on any threads.
#include <algorithm>
#include <climits>

#include "talveron.h"
#include "api/caller_search.h"
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


extern "C" int talveron_harvest(int fd, const char* keyword_line, const talveron_sink* sink,
                                talveron_result* result) {
    return ReportToCaller(SearchForCaller(keyword_line, sink, true,
                      [&](Searcher& searcher) {
                          searcher.Search(fd);
                      }),
                  result);
}

namespace {

// The bytes that the caller's function hands over.
class CallerSource final : public ByteSource {
public:
    CallerSource(int (*read)(void*, char*, std::size_t), void* context) : read_(read), context_(context) {}
    long Read(unsigned char* buffer, std::size_t size) override {
        return read_(context_, reinterpret_cast<char*>(buffer), size);
    }

private:
    int (*read_)(void*, char*, std::size_t);
    void* context_;
};

}  // namespace

extern "C" int talveron_harvest_read(int (*read)(void*, char*, std::size_t), void* read_context,
                                     const char* keyword_line, const talveron_sink* sink, talveron_result* result) {
    if (!read) return ReportToCaller(Outcome(TALVERON_BAD_ARGUMENTS), result);
    CallerSource caller(read, read_context);
    return ReportToCaller(SearchForCaller(keyword_line, sink, true,
                      [&](Searcher& searcher) {
                          searcher.SearchFrom(caller);
                      }),
                  result);
}

extern "C" int talveron_harvest_range(int fd, long long start, long long end, const char* keyword_line,
                                      const talveron_sink* sink, talveron_result* result) {
    if (start < 0 || end < 0) return ReportToCaller(Outcome(TALVERON_BAD_ARGUMENTS), result);
    if (start >= end) {
        // Nothing of it is left (the range before has run past it): only
        // the start message of a search, when this is its beginning.
        if (!sink || !sink->records) return ReportToCaller(Outcome(TALVERON_BAD_ARGUMENTS), result);
        if (start == 0) CallerSink(*sink).Message(MSG_SEARCH_START, CAPTION_ERROR);
        talveron_result empty = Outcome(TALVERON_COMPLETED);
        empty.next = start;
        return ReportToCaller(empty, result);
    }
    // The parts of a search tell its start once, at the beginning.
    return ReportToCaller(SearchForCaller(keyword_line, sink, start == 0,
                      [&](Searcher& searcher) {
                          searcher.SearchRange(fd, start, end);
                      }),
                  result);
}

extern "C" long long talveron_cut(int fd, long long near, long long window) {
    if (near < 0 || window <= 0) return -1;
    // A window that runs past the largest offset ends there.
    window = std::min(window, LLONG_MAX - near);
    if (window == 0) return -1;
    try {
        return FindRangeCut(fd, near, window);
    } catch (...) {
        return -1;
    }
}
