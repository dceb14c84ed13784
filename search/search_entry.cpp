// The exported operation: set-up, the scan, and the closing of both files.
#include "module/export.h"
#include "module/messages.h"
#include "module/module_state.h"
#include "runtime/runtime.h"
#include "search/input_reader.h"
#include "search/result_writer.h"
#include "search/search.h"

void SplitKeywordLine(const char* line, int length) {
    int slot = 1;
    for (int i = 0; i < length; ++i) {
        if (line[i] == ' ')
            ++slot;
        else if (slot <= kKeywordSlots)
            g_strKeyword[slot - 1] += line[i];
    }
}

namespace {

// Closes the result file, and then the input file once it is open, on every
// way out of the search, a failure of the string type included.
struct OpenFiles {
    bool inputOpen = false;
    ~OpenFiles() {
        AbandonOutput();  // records gathered before a failure are kept
        rt::_close(g_nOutFile);
        if (inputOpen) rt::_close(g_nInFile);
    }
};

int Search(const CString& inputPath, const CString& keywordLine) {
    PrepareSearch(keywordLine);

    // Creating OUT.TXT empties it: when it is the input itself (reached
    // through a link or under another name) that would destroy the page
    // before it is read, so it is refused as an output that cannot be opened.
    if (rt::SameFile(g_strOutFile, inputPath)) {
        ShowMessage(MSG_OUTPUT_NOT_OPENED, CAPTION_ERROR);
        return -1;
    }
    g_nOutFile = rt::_open(g_strOutFile, _O_BINARY | _O_TRUNC | _O_CREAT | _O_RDWR, _S_IWRITE);
    if (g_nOutFile == -1) {
        ShowMessage(MSG_OUTPUT_NOT_OPENED, CAPTION_ERROR);
        return -1;
    }
    OpenFiles files;
    BeginOutput();
    g_nInFile = rt::_open(inputPath, _O_BINARY, 0);
    if (g_nInFile == -1) {
        g_strStatus = MSG_INPUT_MISSING;
        ShowMessage(g_strStatus, CAPTION_THIS_IS_AN_ERROR);
        return -1;  // OUT.TXT stays behind, empty
    }
    files.inputOpen = true;
    g_strStatus = STATUS_EXIST_FILE;
    g_strStatus = STATUS_SEARCHING;
    RunScan();
    return 0;
}

}  // namespace

void PrepareSearch(const char* keywordLine) {
    // The line is copied up to its first 0 byte; a line longer than the buffer
    // is cut to its first kKeywordLineCapacity - 1 bytes.
    char line[kKeywordLineCapacity];
    int length = 0;
    while (length < kKeywordLineCapacity - 1 && keywordLine[length] != '\0') {
        line[length] = keywordLine[length];
        ++length;
    }
    line[length] = '\0';

    g_strOutFile = "OUT.TXT";
    for (CString& keyword : g_strKeyword) keyword.Empty();
    SplitKeywordLine(line, length);

    g_strStatus.Empty();
    ShowMessage(MSG_SEARCH_START, CAPTION_ERROR);
}

void RunScan(bool endIsFinal) {
    BeginInput(endIsFinal);
    PrepareStrip();
    ScanAnchors();
}

extern "C" int TALVERON_CALL BEGIN_SEARCH_ADD(char* strInputPath, char* strKeywordLine,
                                              int /*nUnused3*/, int /*nUnused4*/) {
    // Take over both argument strings at once, so that they are released on
    // every way out.
    CString inputPath = CString::Adopt(strInputPath);
    CString keywordLine = CString::Adopt(strKeywordLine);

    // One call at a time: another thread's call waits its turn; a call from
    // inside this thread's own call (a message box lets the host's window
    // call again) would run on that call's state and files, and is refused.
    rt::CallTurn turn;
    if (!turn.begun) return -1;

    // Nothing may be thrown out of the export: a C caller, or a host built by
    // another compiler, cannot catch it, and the process would end. A failure
    // (of the string type's allocation) ends the search as a file that
    // cannot be opened does, after the records found are written out and
    // both files closed; no message is shown, as one might need memory.
    try {
        return Search(inputPath, keywordLine);
    } catch (...) {
        return -1;
    }
}
