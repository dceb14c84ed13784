// The exported operation: a search of the named file into OUT.TXT, with the
// module's messages in message boxes and its state (the keyword slots,
// g_strStatus, g_strUrl) kept as the host may look at it. One call at a
// time.
#include <atomic>
#include <cstring>

#include "api/export.h"
#include "messages/messages.h"
#include "lifecycle/module_object.h"
#include "lifecycle/module_state.h"
#include "runtime/runtime.h"
#include "search/searcher.h"

namespace {

std::atomic<unsigned int> s_blockSize{Searcher::kBlockSize};

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

// The records go to OUT.TXT (g_nOutFile) in large writes, not two writes a
// record. What reaches the file, and the messages shown, are those of
// writing each record on its own (its text, then CR LF): when a large write
// fails, the records not yet written are written again one at a time, and
// every record whose text cannot be written shows "errno" (with errno as
// g_strStatus) and is still followed by its CR LF.
class OutTxtSink : public SearchSink {
public:
    void Watch(const Searcher* searcher) { searcher_ = searcher; }

    bool Records(const char* bytes, std::size_t length) override {
        UrlString();  // a record means an anchor was matched
        pending_ = bytes;
        pendingEnd_ = bytes + length;
        while (pending_ < pendingEnd_) {
            int n = rt::_write(g_nOutFile, pending_, static_cast<unsigned int>(pendingEnd_ - pending_));
            if (n <= 0) {
                WriteOneByOne();
                break;
            }
            pending_ += n;
            if (pending_ == pendingEnd_) lastRecordFailed_ = false;
        }
        pending_ = pendingEnd_ = nullptr;
        return true;
    }

    // A failure ends the search: what is gathered and not yet written is
    // written without messages, so that the file holds whole records.
    void Abandoned(const char* bytes, std::size_t length) override {
        if (pending_ < pendingEnd_) rt::WriteAll(g_nOutFile, pending_, static_cast<unsigned int>(pendingEnd_ - pending_));
        pending_ = pendingEnd_ = nullptr;
        if (length) rt::WriteAll(g_nOutFile, bytes, static_cast<unsigned int>(length));
    }

    void Message(const char* text, const char* caption) override { ShowMessage(text, caption); }

    // g_strStatus as reading one byte at a time leaves it: the last byte
    // read as a one-character string (empty for the byte 0), "File End"
    // when a read found the end, and after a record its own write's: the
    // closing quote read before it, or errno when its text failed.
    void Settled(int last) override {
        int length;
        if (const char* address = searcher_->Address(&length)) UrlString() = CString(address, length);
        if (last == kLastWasRecord) {
            if (!lastRecordFailed_) g_strStatus = '"';
        } else if (last == kLastWasEnd) {
            g_strStatus = STATUS_FILE_END;
        } else if (last == 0) {
            g_strStatus.Empty();
        } else if (last > 0) {
            g_strStatus = static_cast<char>(last);
        }
    }

private:
    // Writes the records from pending_ on one at a time: its text (showing
    // "errno" when that fails), then its line end. The text holds no CR
    // (only printable bytes), so a CR starts the line end.
    void WriteOneByOne() {
        while (pending_ < pendingEnd_) {
            if (*pending_ != '\r' && *pending_ != '\n') {
                const char* cr = static_cast<const char*>(std::memchr(pending_, '\r', pendingEnd_ - pending_));
                unsigned int length = static_cast<unsigned int>(cr - pending_);
                lastRecordFailed_ = rt::WriteAll(g_nOutFile, pending_, length) == -1;
                pending_ += length;  // a failure of what follows leaves only the line end to write
                if (lastRecordFailed_) {
                    SetStatusToErrno();
                    ShowMessage(MSG_ERRNO, CAPTION_ERROR);
                }
            }
            // The line end, or what is left of it; its result is not examined.
            unsigned int rest = *pending_ == '\r' ? 2 : 1;
            rt::WriteAll(g_nOutFile, pending_, rest);
            pending_ += rest;
        }
    }

    const Searcher* searcher_ = nullptr;
    const char* pending_ = nullptr;  // of the records being written, what is not yet
    const char* pendingEnd_ = nullptr;
    bool lastRecordFailed_ = false;  // the text of the last record added could not be written
};

// Closes the result file, and then the input file once it is open, on every
// way out of the search, a failure of the string type included.
struct OpenFiles {
    bool inputOpen = false;
    ~OpenFiles() {
        rt::_close(g_nOutFile);
        if (inputOpen) rt::_close(g_nInFile);
    }
};

int Search(const CString& inputPath, const CString& keywordLine) {
    OutTxtSink sink;
    Searcher searcher(sink, keywordLine, false);
    sink.Watch(&searcher);
    searcher.SetBlockSize(s_blockSize.load(std::memory_order_relaxed));

    // The set-up: the keyword line split into the emptied slots, the status
    // emptied, the start message.
    g_strOutFile = "OUT.TXT";
    for (CString& keyword : g_strKeyword) keyword.Empty();
    for (int slot = 1; slot <= kKeywordSlots; ++slot) g_strKeyword[slot - 1] = searcher.Keyword(slot);
    g_strStatus.Empty();
    ShowMessage(MSG_SEARCH_START, CAPTION_ERROR);

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
    g_nInFile = rt::_open(inputPath, _O_BINARY, 0);
    if (g_nInFile == -1) {
        g_strStatus = MSG_INPUT_MISSING;
        ShowMessage(g_strStatus, CAPTION_THIS_IS_AN_ERROR);
        return -1;  // OUT.TXT stays behind, empty
    }
    files.inputOpen = true;
    g_strStatus = STATUS_EXIST_FILE;
    g_strStatus = STATUS_SEARCHING;
    searcher.Search(g_nInFile);
    return 0;
}

}  // namespace

CString& UrlString() {
    static ModuleString g_strUrl("g_strUrl");
    return g_strUrl;
}

void SetInputBlockSize(unsigned int size) { s_blockSize.store(size, std::memory_order_relaxed); }
unsigned int InputBlockSize() { return s_blockSize.load(std::memory_order_relaxed); }

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
    // (of the string type's allocation, or of the search's buffers) ends the
    // search as a file that cannot be opened does, after the records found
    // are written out and both files closed; no message is shown, as one
    // might need memory.
    try {
        return Search(inputPath, keywordLine);
    } catch (...) {
        return -1;
    }
}
