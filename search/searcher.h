// One search: a value that owns everything the search of one input needs
// (the input block, the records gathered, the address being captured, the
// keyword and printable tables) and reports to a sink. Any number of
// searchers may run at once, on any threads.
//
// The search reads the input one block at a time but finds what reading it
// one byte at a time finds: every `<a href="http://` anchor (ASCII letters
// in any case), the address behind it up to the closing double quote, its
// end normalised, dropped when a keyword occurs in it or it is too long,
// its non-printable bytes removed. Its steps live in files of their own:
// input_reader.cpp (the block), anchor_scan.cpp (the cycles of skip and
// compare), link_capture.cpp (the address and its end), link_emit.cpp
// (keywords, the record), record_buffer.cpp (the records gathered),
// keywords.cpp (the keyword line), searcher.cpp (from beginning to end).
#ifndef TALVERON_SEARCH_SEARCHER_H
#define TALVERON_SEARCH_SEARCHER_H

#include <cstddef>
#include <memory>

#include "lifecycle/limits.h"
#include "search/scan_kernels.h"

// Why an address behind a recognised anchor becomes no record.
enum RejectReason { kRejectExcluded = 1, kRejectTooLong = 2, kRejectUnfinished = 3 };

// What the last step of a search delivered, besides a byte (0..255).
constexpr int kLastWasEnd = -1;      // a read found the end of the input
constexpr int kLastWasNothing = -2;  // nothing yet
constexpr int kLastWasRecord = -3;   // a record was added

// Where a search reports. Only Records must be given.
class SearchSink {
public:
    // Whole records, each ended by the search's line end, in input order:
    // before every read of the input and whenever the records gathered fill
    // their buffer. False stops the search.
    virtual bool Records(const char* bytes, std::size_t length) = 0;
    // The records gathered when a failure (of the sink itself) ends the
    // search early: whatever can be kept.
    virtual void Abandoned(const char* bytes, std::size_t length) { (void)bytes, (void)length; }
    // An address that becomes no record: the reason, the keyword slot (1..6)
    // for kRejectExcluded, the input offset of its anchor's '<', and the
    // address as far as it is kept (kRecordBufferSize bytes).
    virtual void Rejected(int reason, int keyword, long long offset, const char* address, std::size_t length) {
        (void)reason, (void)keyword, (void)offset, (void)address, (void)length;
    }
    // After each read: the bytes read so far.
    virtual void Progress(long long bytes) { (void)bytes; }
    // A message of the search (a read that failed), Shift_JIS text and caption.
    virtual void Message(const char* text, const char* caption) { (void)text, (void)caption; }
    // Where reading one byte at a time could be watched: before a message and
    // at the end. `last` is what the last step delivered (a byte or kLastWas...).
    virtual void Settled(int last) { (void)last; }

protected:
    ~SearchSink() = default;
};

class Searcher {
public:
    // Bytes asked for per read, and the most that SetBlockSize takes.
    static constexpr unsigned int kBlockSize = 128 * 1024;

    // Splits `keywordLine` (up to its first 0 byte, at most kKeywordLineMax
    // bytes) into the keyword slots; records end in LF alone when
    // `lfLineEnds`, else CR LF. Throws std::bad_alloc when its buffers
    // cannot be had.
    Searcher(SearchSink& sink, const char* keywordLine, bool lfLineEnds);
    ~Searcher();
    Searcher(const Searcher&) = delete;
    Searcher& operator=(const Searcher&) = delete;

    // 1..kBlockSize (tests put block boundaries everywhere with small blocks).
    void SetBlockSize(unsigned int size);
    // Every read at the end of the input asks it again, as reading a file a
    // byte at a time does, unless `endIsFinal`: then the first end found is
    // the end (a terminal needs one end-of-file key, not several).
    void SetEndIsFinal(bool endIsFinal) { endIsFinal_ = endIsFinal; }
    // Takes `<a href="https://` anchors as well (the export never does).
    void SetHttps(bool https) {
        https_ = https;
        find_ = https ? kernels_.findAnchorOrRunHttps : kernels_.findAnchorOrRun;
    }

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
    // Searches the bytes that `read` gives: up to `size` of them into
    // `buffer`, their count returned, 0 at the end, -1 after a failure (with
    // errno set).
    using ReadFunction = int (*)(void* context, unsigned char* buffer, unsigned int size);
    bool SearchFrom(ReadFunction read, void* context);

    // After a search.
    bool Stopped() const { return stopped_; }
    bool ReadFailed() const { return failed_; }
    int ReadErrno() const { return error_; }
    long long BytesRead() const;
    long long Next() const { return next_; }

    // The keyword slots as split: slot 1..kKeywordSlots, "" when empty.
    const char* Keyword(int slot) const { return keywords_[slot - 1]; }
    // The first keyword slot (1..6) whose non-empty keyword occurs in
    // `address` (byte-wise, case counts), or 0.
    int ExcludingKeyword(const char* address) const;
    // The last address captured, as far as it is kept; null before the first.
    const char* Address(int* length) const;

    // The input one byte at a time, as the scan's slow path and the tests
    // read it. NextByte gives the next byte (0 at the end), Eof 0 while
    // bytes remain behind the position, 1 at the end, -1 after a failed
    // read; SeekBack moves the position back (at most kKeepBehind bytes).
    void BeginInput(int fd);
    int NextByte() {
        if (pos_ == end_ && !Refill()) {
            last_ = kLastWasEnd;
            return 0;
        }
        return last_ = *pos_++;
    }
    int Eof() { return pos_ != end_ ? 0 : EofAfterBlock(); }
    void SeekBack(int count);
    long long Offset() const { return dataOffset_ + (pos_ - data_); }
    int Last() const { return last_; }

    // Bytes already delivered that a refill keeps in front of the new block,
    // so that a move back stays inside the buffer.
    static constexpr unsigned int kKeepBehind = 16;

private:
    struct Stop {};  // the sink stopped the search

    // input_reader.cpp
    bool Refill();
    int EofAfterBlock();
    // anchor_scan.cpp
    void ScanAnchors();
    bool SkipToLessThan();
    bool SkipToCandidate();
    int CompareWithPattern(int* read);
    void Settle();
    // link_capture.cpp
    bool CaptureLink(bool https);
    void NormaliseLink();
    // link_emit.cpp
    void EmitLink();
    void RejectLink(int reason, int keyword);
    void PrepareStrip();
    int StripNonPrintable(const char* address, int length, char* record) const;
    // record_buffer.cpp
    char* BeginRecord();
    void EndRecord(int length);
    void WriteGathered();
    void AbandonGathered();
    // keywords.cpp
    void SplitKeywordLine(const char* line);

    bool Run();

    SearchSink& sink_;
    const ScanKernels& kernels_;
    bool https_ = false;
    const unsigned char* (*find_)(const unsigned char*, const unsigned char*);  // the kernel's, for the openings taken

    // The input.
    int fd_ = -1;
    ReadFunction read_ = nullptr;  // reads instead of fd_ when given
    void* readContext_ = nullptr;
    bool positional_ = false;     // read at readOffset_ without moving the descriptor
    long long readOffset_ = 0;    // where the next positional read starts
    long long startOffset_ = 0;   // where the search began
    long long rangeEnd_ = -1;     // a range's end, or -1
    bool endIsFinal_ = false;
    bool ended_ = false;          // a read found the end, and endIsFinal_
    bool failed_ = false;
    int error_ = 0;
    long long failedAt_ = 0;      // the input offset of the read that failed
    bool stopped_ = false;
    long long next_ = 0;
    unsigned int blockSize_ = kBlockSize;
    // The block, behind the bytes kept, and room that kernels may read past
    // its end (what stands there means nothing).
    std::unique_ptr<unsigned char[]> block_;
    unsigned char* data_;
    const unsigned char* pos_;    // next byte to deliver
    const unsigned char* end_;    // end of the bytes read
    long long dataOffset_ = 0;    // the input offset of data_[0]
    int last_ = kLastWasNothing;  // last byte delivered, or kLastWas...

    // The records gathered, not yet handed to the sink.
    static constexpr unsigned int kRecordsSize = 64 * 1024;
    std::unique_ptr<char[]> records_;
    unsigned int used_ = 0;
    char lineEnd_[2];
    unsigned int lineEndLength_;

    // The address being handled: its first kRecordBufferSize bytes (and room
    // for a "/" and a 0 byte), its length as kept, its length up to its first
    // 0 byte, and the offset of its anchor's '<'.
    char url_[kRecordBufferSize + 2];
    int urlLength_ = -1;
    int urlTextLength_ = 0;
    long long urlOffset_ = 0;

    // The keyword slots, each ended by a 0 byte, and whether any is filled.
    char keywords_[kKeywordSlots][kKeywordLineCapacity];
    bool anyKeyword_ = false;
    // The C runtime's isprint for each byte, taken when the search begins,
    // and whether it is the "C" locale's (0x20 to 0x7E).
    bool printable_[256];
    bool printableIsAscii_ = true;
};

#endif
