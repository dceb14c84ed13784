// The library's search of an open descriptor: the export's search of a file,
// with the records, the addresses that become none, the progress and the
// messages handed to the caller's sink instead of OUT.TXT and message boxes.
#include "module/talveron.h"
#include "module/module_state.h"
#include "runtime/runtime.h"
#include "search/input_reader.h"
#include "search/result_writer.h"
#include "search/search.h"

namespace {

const talveron_sink* s_sink = nullptr;  // the sink of the call in progress

int SinkMessage(void*, const char* text, const char* caption, unsigned int) {
    if (s_sink->message) s_sink->message(s_sink->context, text, caption);
    return IDYES;
}

// Routes the search's messages and reports to `sink` for the scope.
class SinkInstalled {
public:
    explicit SinkInstalled(const talveron_sink* sink) {
        s_sink = sink;
        // This thread's messages only: the process-wide handler is the
        // export's, which talveron_set_message_handler may change meanwhile.
        previousHandler_ = rt::SetCallMessageHandler(SinkMessage);
        g_searchHooks = {sink->context, sink->rejected, sink->progress};
    }
    ~SinkInstalled() {
        g_searchHooks = {nullptr, nullptr, nullptr};
        rt::SetCallMessageHandler(previousHandler_);
        s_sink = nullptr;
    }
    SinkInstalled(const SinkInstalled&) = delete;
    SinkInstalled& operator=(const SinkInstalled&) = delete;

private:
    rt::MessageHandler previousHandler_;
};

}  // namespace

extern "C" int talveron_harvest(int fd, const char* keyword_line, const talveron_sink* sink,
                                talveron_result* result) {
    talveron_result outcome = {0, 0, 0};
    int status = -1;
    if (sink && sink->records) {
        rt::CallTurn turn;
        if (turn.begun) {
            SinkInstalled installed(sink);
            bool scanned = false;  // the input was begun
            // As at the export, nothing is thrown out to the caller.
            try {
                PrepareSearch(keyword_line ? keyword_line : "");
                g_nInFile = fd;
                BeginOutput(sink->records, sink->context, sink->lf_line_ends != 0);
                scanned = true;
                // An input that ended stays ended: a terminal needs one
                // end-of-file key, and a file one read at its end.
                RunScan(true);
                outcome.read_errno = g_input.failed ? g_input.error : 0;
                status = g_input.failed ? -1 : 0;
            } catch (const OutputStopped&) {
                outcome.stopped = 1;
            } catch (...) {
            }
            if (scanned) outcome.bytes = g_input.dataOffset + (g_input.end - g_input.data);
        }
    }
    if (result) *result = outcome;
    return status;
}
