// Web archives (WARC/0.18 to 1.2): the records of an archive one after
// the other, each a header block and a block of Content-Length bytes, then
// an empty line. A record that breaks these rules is told and passed over:
// reading goes on at the next line that begins a record.
#ifndef TALVERON_READ_WARC_H
#define TALVERON_READ_WARC_H

#include <cstddef>
#include <memory>
#include <string>

#include "read/byte_source.h"

// Header blocks, as a record and its HTTP response both have them: where
// the block in `bytes` ends (behind its empty line; LF line ends taken
// too), or 0 when it does not end there; and a field's value with the
// blanks and CR around it trimmed.
std::size_t HeaderBlockEnd(const unsigned char* bytes, std::size_t length);
std::string FieldValue(const char* begin, const char* end);

// What every record's first line begins with.
constexpr char kWarcVersionPrefix[] = "WARC/";

struct WarcRecord {
    long long offset = 0;  // where its first line begins in the archive (decompressed)
    std::string type;      // WARC-Type
    std::string target;    // WARC-Target-URI, angle brackets removed
    std::string contentType;  // Content-Type, of the block
    long long length = 0;  // Content-Length
    // Segmentation: its WARC-Record-ID; WARC-Segment-Number (0 when none);
    // of a continuation, WARC-Segment-Origin-ID; of the last segment,
    // WARC-Segment-Total-Length (else -1).
    std::string id, origin;
    long long segment = 0, totalLength = -1;
};

class WarcReader {
public:
    // `size`: the archive's length in bytes when known (a regular file read
    // as it stands), else -1.
    explicit WarcReader(ByteSource& in, long long size = -1);


    enum class Next {
        kRecord,     // `record` is the next record; its block can be read
        kEnd,        // the archive has ended
        kMalformed,  // the record at record.offset broke the rules (`problem`)
        kFailed,     // a read failed (Errno())
    };
    // Moves past what is left of the record read, to the next record.
    Next NextRecord(WarcRecord& record, std::string& problem);

    // The bytes of the record's block, as they come: Peek gives those at
    // hand (at least `want` of them where the block has that many; none at
    // its end or after a failed read), Consume passes over them. The block
    // of a record cut in segments (WARC-Segment-Number 1) goes on into the
    // blocks of its continuation records when each follows the segment
    // before; else it ends, and BlockProblem() names the segment missing.
    const unsigned char* Peek(std::size_t& available, std::size_t want = 1);
    void Consume(std::size_t count);
    bool Failed() const { return failed_; }
    const std::string& BlockProblem() const { return blockProblem_; }
    // The WARC-Record-ID of the last record read whose segments followed it:
    // its continuations met later are passed over.
    const std::string& LastSegmented() const { return lastSegmented_; }
    int Errno() const { return errno_; }
    // The bytes taken from the archive so far.
    long long BytesRead() const { return bufferOffset_ + static_cast<long long>(end_); }

    // The most that the header of a record (and of its HTTP response) may hold.
    static constexpr std::size_t kHeaderMax = 64 * 1024;

private:
    bool Fill(std::size_t want);
    Next Resynchronise();
    Next ReadHeader(WarcRecord& record, std::string& problem);
    bool ParseHeader(WarcRecord& record, std::string& problem, std::size_t& length);
    bool PassEmptyLine();
    void NextSegment();
    void EndAtARecord();
    long long Offset() const { return bufferOffset_ + static_cast<long long>(start_); }

    ByteSource& in_;
    long long size_;
    static constexpr std::size_t kBufferSize = 256 * 1024;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t start_ = 0, end_ = 0;
    long long bufferOffset_ = 0;  // the archive offset of buffer_[0]
    bool ended_ = false, failed_ = false;
    int errno_ = 0;
    bool inRecord_ = false;       // a record's block is being read
    bool resynchronise_ = false;  // look for the next record's first line
    long long blockLeft_ = 0;
    long long recordOffset_ = 0;  // of the record read
    long long recordLength_ = 0;
    std::string segmentsOf_;      // the record whose next segment ends this block
    std::string lastSegmented_;
    long long nextSegment_ = 0;
    static constexpr std::size_t kNotPinned = static_cast<std::size_t>(-1);
    std::size_t pinned_ = kNotPinned;  // while a segment is joined: the first byte Fill keeps
    std::string blockProblem_;
    long long declaredLength_ = 0;  // a Content-Length past the end: the block is what the archive holds
    bool cutAtRecord_ = false;      // ... and it ended before a record met inside it
    bool lineStart_ = true;         // the block's next byte begins a line
};

#endif
