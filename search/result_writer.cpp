#include "search/result_writer.h"

#include <cstring>

#include "module/messages.h"
#include "module/module_state.h"
#include "runtime/runtime.h"
#include "search/input_reader.h"
#include "search/search.h"

namespace {

constexpr unsigned int kOutputBufferSize = 64 * 1024;

char s_buffer[kOutputBufferSize];
unsigned int s_used = 0;     // bytes gathered
unsigned int s_written = 0;  // of them, bytes already handed to the file
bool s_lastRecordFailed = false;  // the text of the last record added could not be written
RecordSink s_sink = nullptr;      // where the records go instead of g_nOutFile
void* s_sinkContext = nullptr;
char s_lineEndFirst = '\r';       // a record's line end: this byte, then LF
unsigned int s_lineEndLength = 2;  // unless it is LF itself

// errno in decimal, as the status text of a failed write.
void SetStatusToErrno() {
    int value = rt::LastErrno();
    char digits[16];
    char* p = digits + sizeof digits;
    *--p = '\0';
    unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--p = '-';
    g_strStatus = p;
}

// Writes the records from s_written on one at a time, as each record on its
// own: its text (showing "errno" when that fails), then its line end. The
// text holds no CR (only printable bytes), so a CR starts the line end.
void WriteOneByOne() {
    while (s_written < s_used) {
        const char* start = s_buffer + s_written;
        if (*start != '\r' && *start != '\n') {
            const char* cr = static_cast<const char*>(std::memchr(start, '\r', s_used - s_written));
            unsigned int length = static_cast<unsigned int>(cr - start);
            s_lastRecordFailed = rt::WriteAll(g_nOutFile, start, length) == -1;
            s_written += length;  // a failure of what follows leaves only the line end to write
            if (s_lastRecordFailed) {
                SetStatusToErrno();
                ShowMessage(MSG_ERRNO, CAPTION_ERROR);
            }
        }
        // The line end, or what is left of it; its result is not examined.
        unsigned int rest = s_buffer[s_written] == '\r' ? 2 : 1;
        rt::WriteAll(g_nOutFile, s_buffer + s_written, rest);
        s_written += rest;
    }
}

}  // namespace

void WriteGathered() {
    if (s_used == 0) return;
    if (s_sink) {
        unsigned int used = s_used;
        s_used = 0;
        if (s_sink(s_sinkContext, s_buffer, used) != 0) throw OutputStopped();
        return;
    }
    while (s_written < s_used) {
        int n = rt::_write(g_nOutFile, s_buffer + s_written, s_used - s_written);
        if (n <= 0) {
            WriteOneByOne();
            break;
        }
        s_written += static_cast<unsigned int>(n);
        if (s_written == s_used) s_lastRecordFailed = false;
    }
    s_used = s_written = 0;
}

void BeginOutput(RecordSink sink, void* context, bool lfOnly) {
    s_used = s_written = 0;
    s_lastRecordFailed = false;
    s_sink = sink;
    s_sinkContext = context;
    s_lineEndFirst = sink && lfOnly ? '\n' : '\r';
    s_lineEndLength = sink && lfOnly ? 1 : 2;
}

char* BeginRecord() {
    if (s_used + kRecordBufferSize + 2 > kOutputBufferSize) WriteGathered();
    return s_buffer + s_used;
}

void EndRecord(int length) {
    // Two bytes are stored either way; with LF alone the second is the next
    // record's first.
    s_buffer[s_used + length] = s_lineEndFirst;
    s_buffer[s_used + length + 1] = '\n';
    s_used += static_cast<unsigned int>(length) + s_lineEndLength;
}

void FlushOutput() {
    WriteGathered();
    if (g_input.last == kLastWasRecord) {
        if (!s_lastRecordFailed) g_strStatus = '"';
        NoteStatusSet();
    }
}

void AbandonOutput() {
    if (s_written < s_used) rt::WriteAll(g_nOutFile, s_buffer + s_written, s_used - s_written);
    s_used = s_written = 0;
}
