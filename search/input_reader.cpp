// The input reader: hands the input to the search one byte at a time, as if
// each byte were one read of length 1 at the input's position, but reads it
// in large blocks.
//
// The position that the search sees is the count of bytes delivered, moved
// back by SeekBack; Eof and SeekBack refer to that position, never to how far
// the input has been read. Nothing is remembered about the end of the input
// (unless the end is final): every read attempted there asks the input
// again. A read that fails delivers no byte; from then on nothing more is
// read and Eof reports -1.
#include <cstdint>
#include <cstring>
#include <new>

#include "runtime/runtime.h"
#include "search/searcher.h"

namespace {

// Bytes after a block that a kernel may read (and ignore).
constexpr unsigned int kPadding = 64;
static_assert(kPadding >= kKernelLookahead, "the kernels read this far past a block");

// Reads land behind the bytes kept, on a cache line of their own: a copy
// into memory that is not so aligned splits its stores, and the whole
// search slows by some percent.
constexpr std::uintptr_t kLine = 64;
unsigned char* LineAfterKept(unsigned char* block) {
    std::uintptr_t fresh = reinterpret_cast<std::uintptr_t>(block) + Searcher::kKeepBehind;
    fresh = (fresh + kLine - 1) & ~(kLine - 1);
    return reinterpret_cast<unsigned char*>(fresh) - Searcher::kKeepBehind;
}


}  // namespace

Searcher::Searcher(SearchSink& sink, const char* keywordLine, bool lfLineEnds)
    : sink_(sink),
      kernels_(CurrentScanKernels()),
      find_(kernels_.findAnchorOrRun),
      block_(new unsigned char[kLine + kKeepBehind + kBlockSize + kPadding]),
      data_(LineAfterKept(block_.get())),
      pos_(data_),
      end_(data_),
      records_(new char[kRecordsSize]),
      lineEnd_{lfLineEnds ? '\n' : '\r', '\n'},
      lineEndLength_(lfLineEnds ? 1 : 2) {
    SplitKeywordLine(keywordLine ? keywordLine : "");
    PrepareStrip();
}

Searcher::~Searcher() = default;

void Searcher::SetBlockSize(unsigned int size) { blockSize_ = size == 0 ? 1 : size > kBlockSize ? kBlockSize : size; }

void Searcher::BeginInput(int fd) {
    fd_ = fd;
    pos_ = end_ = data_;
    last_ = kLastWasNothing;
    failed_ = ended_ = stopped_ = false;
    error_ = 0;
    dataOffset_ = positional_ ? readOffset_ : 0;
}

long long Searcher::BytesRead() const { return dataOffset_ + (end_ - data_) - startOffset_; }

bool Searcher::Refill() {
    if (failed_ || ended_) return false;
    std::size_t have = static_cast<std::size_t>(end_ - data_);
    std::size_t keep = have < kKeepBehind ? have : kKeepBehind;
    dataOffset_ += static_cast<long long>(have - keep);
    std::memmove(data_, end_ - keep, keep);
    unsigned char* fresh = data_ + keep;
    pos_ = end_ = fresh;
    // The records found so far go out before the read, which may wait for a
    // slow input (a pipe, a network file system).
    WriteGathered();
    // A range's reads end where those of one search of the whole file end
    // (on multiples of the block), so that a read that fails fails alike.
    unsigned int want = positional_ ? blockSize_ - static_cast<unsigned int>(readOffset_ % blockSize_) : blockSize_;
    int n = positional_ ? rt::ReadAt(fd_, fresh, want, readOffset_)
            : read_     ? read_(readContext_, fresh, want)
                        : rt::_read(fd_, fresh, want);
    if (n > 0) {
        end_ = fresh + n;
        readOffset_ += n;
        sink_.Progress(dataOffset_ + static_cast<long long>(keep) + n - startOffset_);
        return true;
    }
    if (n < 0) {
        failed_ = true;
        error_ = rt::LastErrno();
        failedAt_ = dataOffset_ + static_cast<long long>(keep);
    }
    ended_ = n == 0 && endIsFinal_;
    return false;
}

int Searcher::EofAfterBlock() {
    if (Refill()) return 0;
    return failed_ ? -1 : 1;
}

void Searcher::SeekBack(int count) {
    std::ptrdiff_t behind = pos_ - data_;
    pos_ -= count < behind ? count : behind;
}
