// The input block: hands the input to the search one byte at a time, as if
// each byte were one read of length 1 at the input's position, but reads it
// in large blocks, in order or at offsets, and hands the records gathered to
// the sink before every read.
//
// The position that the search sees is the count of bytes delivered, moved
// back by SeekBack; Eof and SeekBack refer to that position, never to how far
// the input has been read. Nothing is remembered about the end of the input
// (unless the end is final): every read attempted there asks the input
// again. A read that fails delivers no byte; from then on nothing more is
// read and Eof reports -1.
#ifndef TALVERON_SEARCH_INPUT_READER_H
#define TALVERON_SEARCH_INPUT_READER_H

#include <cstddef>
#include <memory>

#include "search/byte_source.h"
#include "search/record_buffer.h"
#include "search/search_sink.h"

class InputReader {
public:
    // Bytes asked for per read, and the most that SetBlockSize takes.
    static constexpr unsigned int kBlockSize = 128 * 1024;
    // Bytes already delivered that a refill keeps in front of the new block,
    // so that a move back stays inside the buffer.
    static constexpr unsigned int kKeepBehind = 16;

    // Reports progress to `sink`; hands `records` to it before every read.
    // Throws std::bad_alloc when the block cannot be had.
    InputReader(SearchSink& sink, RecordBuffer& records);
    InputReader(const InputReader&) = delete;
    InputReader& operator=(const InputReader&) = delete;

    // 1..kBlockSize.
    void SetBlockSize(unsigned int size);
    void SetEndIsFinal(bool endIsFinal) { endIsFinal_ = endIsFinal; }

    // Begins the input: `fd` from where it stands; the bytes of `source`;
    // or `fd` from `start` on, read at offsets without moving it.
    void Begin(int fd);
    void BeginFrom(ByteSource& source);
    void BeginAt(int fd, long long start);

    // The next byte (0 at the end).
    int NextByte() {
        if (pos_ == end_ && !Refill()) {
            last_ = kLastWasEnd;
            return 0;
        }
        return last_ = *pos_++;
    }
    // 0 while bytes remain behind the position, 1 at the end, -1 after a
    // failed read.
    int Eof() { return pos_ != end_ ? 0 : EofAfterBlock(); }
    // Moves the position back (at most kKeepBehind bytes).
    void SeekBack(int count) {
        std::ptrdiff_t behind = pos_ - data_;
        pos_ -= count < behind ? count : behind;
    }
    // The input offset of the position.
    long long Offset() const { return OffsetOf(pos_); }
    // What the last step delivered: a byte, or kLastWas...
    int Last() const { return last_; }
    void SetLast(int last) { last_ = last; }

    // The block in memory: the bytes not yet delivered are [Pos(), End());
    // kKernelLookahead bytes behind End() may be read (they mean nothing),
    // and the kKeepBehind bytes before the block's first stay in front of it.
    const unsigned char* Pos() const { return pos_; }
    const unsigned char* End() const { return end_; }
    // Delivers the bytes up to `to`, without a step's last byte.
    void MoveTo(const unsigned char* to) { pos_ = to; }
    // The input offset of `at` in the block, and the block's byte at `offset`.
    long long OffsetOf(const unsigned char* at) const { return dataOffset_ + (at - data_); }
    const unsigned char* At(long long offset) const { return data_ + (offset - dataOffset_); }
    // Reads the next block behind the bytes kept, when every byte is
    // delivered. False when none was read: at the end, or the read failed.
    bool Refill();

    // After the input.
    bool Failed() const { return failed_; }
    int Errno() const { return error_; }
    // The input offset of the read that failed.
    long long FailedAt() const { return failedAt_; }
    // Takes a failed read as not having happened (it belongs to a search
    // that follows).
    void ForgetFailure() {
        failed_ = false;
        error_ = 0;
    }
    long long BytesRead() const { return OffsetOf(end_) - startOffset_; }

private:
    void Reset();
    int EofAfterBlock();

    SearchSink& sink_;
    RecordBuffer& records_;

    int fd_ = -1;
    ByteSource* source_ = nullptr;  // read instead of fd_ when given
    bool positional_ = false;     // read at readOffset_ without moving the descriptor
    long long readOffset_ = 0;    // where the next positional read starts
    long long startOffset_ = 0;   // where the input began
    bool endIsFinal_ = false;
    bool ended_ = false;          // a read found the end, and endIsFinal_
    bool failed_ = false;
    int error_ = 0;
    long long failedAt_ = 0;
    unsigned int blockSize_ = kBlockSize;
    // The block, behind the bytes kept, and room that kernels may read past
    // its end.
    std::unique_ptr<unsigned char[]> block_;
    unsigned char* data_;
    const unsigned char* pos_;    // next byte to deliver
    const unsigned char* end_;    // end of the bytes read
    long long dataOffset_ = 0;    // the input offset of data_[0]
    int last_ = kLastWasNothing;
};

#endif
