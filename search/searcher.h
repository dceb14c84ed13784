// One search: a value that owns everything the search of one input needs
// and reports to a sink. It composes the search's parts: the input block,
// the anchor scanner, the address capture, the emitter and the records
// gathered. Any number of searchers may run at once, on any threads.
//
// The search reads the input one block at a time but finds what reading it
// one byte at a time finds: every `<a href="http://` anchor (ASCII letters
// in any case), the address behind it up to the closing double quote, its
// end normalised, dropped when a keyword occurs in it or it is too long,
// its non-printable bytes removed.
#ifndef TALVERON_SEARCH_SEARCHER_H
#define TALVERON_SEARCH_SEARCHER_H

#include "search/anchor_scanner.h"
#include "search/input_reader.h"
#include "search/link_capture.h"
#include "search/link_emitter.h"
#include "search/record_buffer.h"
#include "search/scan_kernels.h"
#include "search/search_sink.h"

class Searcher {
public:
    // Bytes asked for per read, and the most that SetBlockSize takes.
    static constexpr unsigned int kBlockSize = InputReader::kBlockSize;

    // Splits `keywordLine` (up to its first 0 byte, at most kKeywordLineMax
    // bytes) into the keyword slots; records end in LF alone when
    // `lfLineEnds`, else CR LF. Throws std::bad_alloc when its buffers
    // cannot be had.
    Searcher(SearchSink& sink, const char* keywordLine, bool lfLineEnds);
    Searcher(const Searcher&) = delete;
    Searcher& operator=(const Searcher&) = delete;

    // 1..kBlockSize (tests put block boundaries everywhere with small blocks).
    void SetBlockSize(unsigned int size) { input_.SetBlockSize(size); }
    // Every read at the end of the input asks it again, as reading a file a
    // byte at a time does, unless `endIsFinal`: then the first end found is
    // the end (a terminal needs one end-of-file key, not several).
    void SetEndIsFinal(bool endIsFinal) { input_.SetEndIsFinal(endIsFinal); }
    // Takes `<a href="https://` anchors as well (the export never does).
    void SetHttps(bool https) { scanner_.SetHttps(https); }
    // Counts the https anchors not taken (HttpsPassedOver).
    void SetCountHttps(bool count, bool untilRecord) { scanner_.SetCountHttps(count, untilRecord); }
    long long HttpsPassedOver() const { return scanner_.HttpsPassedOver(); }
    // Keywords match with ASCII letters in either case (the export's never do).
    void FoldKeywordCase() { emitter_.FoldKeywordCase(); }

    // Searches `fd` from where it stands to its end. False when the sink
    // stopped the search (Stopped()); a failed read ends it too (ReadFailed()).
    bool Search(int fd);
    // Searches the part of a regular file whose anchors' '<' lies in
    // [start, end), beginning with a skip at `start`: reads (without moving
    // the descriptor) from `start` on, past `end` where an address or a
    // comparison runs on. Next() then tells where the search that follows
    // begins. Searching [0, c) and then [Next(), ...) finds what one search
    // of the whole file finds.
    bool SearchRange(int fd, long long start, long long end);
    // Searches the bytes of `source` to its end (a failed read ends it too).
    bool SearchFrom(ByteSource& source);

    // After a search.
    bool Stopped() const { return stopped_; }
    bool ReadFailed() const { return input_.Failed(); }
    int ReadErrno() const { return input_.Errno(); }
    long long BytesRead() const { return input_.BytesRead(); }
    long long Next() const { return scanner_.Next(); }

    // The keyword slots as split: slot 1..kKeywordSlots, "" when empty.
    const char* Keyword(int slot) const { return emitter_.Keywords().Slot(slot); }
    // The first keyword slot (1..6) whose non-empty keyword occurs in
    // `address` (byte-wise, case counts), or 0.
    int ExcludingKeyword(const char* address) const { return emitter_.Keywords().Excluding(address); }
    // The last address captured, as far as it is kept; null before the first.
    const char* Address(int* length) const { return capture_.Address(length); }

    // The input one byte at a time, as the scan's slow path and the tests
    // read it. NextByte gives the next byte (0 at the end), Eof 0 while
    // bytes remain behind the position, 1 at the end, -1 after a failed
    // read; SeekBack moves the position back (at most kKeepBehind bytes).
    void BeginInput(int fd) {
        stopped_ = false;
        input_.Begin(fd);
    }
    int NextByte() { return input_.NextByte(); }
    int Eof() { return input_.Eof(); }
    void SeekBack(int count) { input_.SeekBack(count); }
    long long Offset() const { return input_.Offset(); }
    int Last() const { return input_.Last(); }

    // Bytes already delivered that a refill keeps in front of the new block,
    // so that a move back stays inside the buffer.
    static constexpr unsigned int kKeepBehind = InputReader::kKeepBehind;

private:
    // Scans the input begun.
    bool Run();

    bool stopped_ = false;
    const ScanKernels& kernels_;
    InputReader input_;
    RecordBuffer records_;
    LinkCapture capture_;
    LinkEmitter emitter_;
    AnchorScanner scanner_;
};

#endif
