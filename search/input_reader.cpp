#include "search/input_reader.h"

#include <cstring>

#include "module/messages.h"
#include "module/module_state.h"
#include "runtime/runtime.h"
#include "search/result_writer.h"
#include "search/search.h"

InputBuffer g_input = {nullptr, nullptr, kLastWasStatus, false, 0, false, false, 0, kInputBlockSize, {}};

void BeginInput(bool endIsFinal) {
    g_input.pos = g_input.end = g_input.data;
    g_input.last = kLastWasStatus;
    g_input.failed = false;
    g_input.error = 0;
    g_input.endIsFinal = endIsFinal;
    g_input.ended = false;
    g_input.dataOffset = 0;
}

bool RefillInput() {
    if (g_input.failed || g_input.ended) return false;
    std::size_t have = static_cast<std::size_t>(g_input.end - g_input.data);
    std::size_t keep = have < kInputKeepBehind ? have : kInputKeepBehind;
    g_input.dataOffset += static_cast<long long>(have - keep);
    std::memmove(g_input.data, g_input.end - keep, keep);
    unsigned char* fresh = g_input.data + keep;
    g_input.pos = g_input.end = fresh;
    // The records found so far reach the file before the read, which may
    // wait for a slow input (a pipe, a network file system).
    WriteGathered();
    int n = rt::_read(g_nInFile, fresh, g_input.blockSize);
    if (n > 0) {
        g_input.end = fresh + n;
        if (g_searchHooks.progress) g_searchHooks.progress(g_searchHooks.context, g_input.dataOffset + keep + n);
        return true;
    }
    if (n < 0) {
        g_input.failed = true;
        g_input.error = rt::LastErrno();
    }
    g_input.ended = n == 0 && g_input.endIsFinal;
    return false;
}

int InputEofAfterBlock() {
    if (RefillInput()) return 0;
    return g_input.failed ? -1 : 1;
}

void InputSeekBack(int count) {
    std::ptrdiff_t behind = g_input.pos - g_input.data;
    g_input.pos -= count < behind ? count : behind;
}

void SyncInputStatus() {
    if (g_input.last < kLastWasEnd) return;  // set by its writer since (see FlushOutput)
    if (g_input.last == kLastWasEnd)
        g_strStatus = STATUS_FILE_END;
    else if (g_input.last == 0)
        g_strStatus.Empty();
    else
        g_strStatus = static_cast<char>(g_input.last);
    NoteStatusSet();
}

CString ReadInputChar() {
    NextInputByte();
    bool atEnd = g_input.last == kLastWasEnd;
    SyncInputStatus();
    return atEnd ? CString() : g_strStatus;
}

void SetInputBlockSize(unsigned int size) {
    g_input.blockSize = size == 0 ? 1 : size > kInputBlockSize ? kInputBlockSize : size;
}
