#include "search/input_reader.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "runtime/runtime.h"
#include "search/scan_kernels.h"

namespace {

// Bytes after a block that a kernel may read (and ignore).
constexpr unsigned int kPadding = 64;
static_assert(kPadding >= kKernelLookahead, "the kernels read this far past a block");

// Reads land behind the bytes kept, on a cache line of their own: a copy
// into memory that is not so aligned splits its stores, and the whole
// search slows by some percent.
constexpr std::uintptr_t kLine = 64;
unsigned char* LineAfterKept(unsigned char* block) {
    std::uintptr_t fresh = reinterpret_cast<std::uintptr_t>(block) + InputReader::kKeepBehind;
    fresh = (fresh + kLine - 1) & ~(kLine - 1);
    return reinterpret_cast<unsigned char*>(fresh) - InputReader::kKeepBehind;
}

}  // namespace

InputReader::InputReader(SearchSink& sink, RecordBuffer& records)
    : sink_(sink),
      records_(records),
      block_(new unsigned char[kLine + kKeepBehind + kBlockSize + kPadding]),
      data_(LineAfterKept(block_.get())),
      pos_(data_),
      end_(data_) {}

void InputReader::SetBlockSize(unsigned int size) { blockSize_ = size == 0 ? 1 : size > kBlockSize ? kBlockSize : size; }

void InputReader::Begin(int fd) {
    positional_ = false;
    startOffset_ = 0;
    source_ = nullptr;
    fd_ = fd;
    Reset();
}

void InputReader::BeginFrom(ByteSource& source) {
    positional_ = false;
    startOffset_ = 0;
    source_ = &source;
    fd_ = -1;
    Reset();
}

void InputReader::BeginAt(int fd, long long start) {
    positional_ = true;
    readOffset_ = startOffset_ = start;
    source_ = nullptr;
    fd_ = fd;
    Reset();
}

void InputReader::Reset() {
    pos_ = end_ = data_;
    last_ = kLastWasNothing;
    failed_ = ended_ = false;
    error_ = 0;
    dataOffset_ = positional_ ? readOffset_ : 0;
}

bool InputReader::Refill() {
    if (failed_ || ended_) return false;
    std::size_t have = static_cast<std::size_t>(end_ - data_);
    std::size_t keep = have < kKeepBehind ? have : kKeepBehind;
    dataOffset_ += static_cast<long long>(have - keep);
    std::memmove(data_, end_ - keep, keep);
    unsigned char* fresh = data_ + keep;
    pos_ = end_ = fresh;
    // The records found so far go out before the read, which may wait for a
    // slow input (a pipe, a network file system).
    records_.Write();
    // Reads at offsets end where those of one search of the whole file end
    // (on multiples of the block), so that a read that fails fails alike.
    unsigned int want = positional_ ? blockSize_ - static_cast<unsigned int>(readOffset_ % blockSize_) : blockSize_;
    long n = positional_ ? rt::ReadAt(fd_, fresh, want, readOffset_)
             : source_   ? source_->Read(fresh, want)
                         : rt::_read(fd_, fresh, want);
    if (n > static_cast<long>(want)) {
        // A reader that tells of more bytes than it was asked for (a
        // caller's read function gone wrong): nothing past the room is
        // taken, and the input fails there.
        failed_ = true;
        error_ = EINVAL;
        failedAt_ = dataOffset_ + static_cast<long long>(keep);
        return false;
    }
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

int InputReader::EofAfterBlock() {
    if (Refill()) return 0;
    return failed_ ? -1 : 1;
}
