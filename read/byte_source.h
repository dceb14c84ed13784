// The readers at the bottom of an input's chain: a descriptor, and bytes
// already read put back in front of the rest.
#ifndef TALVERON_READ_BYTE_SOURCE_H
#define TALVERON_READ_BYTE_SOURCE_H

#include <cstddef>
#include <memory>

#include "search/byte_source.h"

// The bytes of a descriptor from where it stands; a descriptor in
// non-blocking mode is waited for. Given the `size` of a regular file from
// there (0 or -1: not known, as /proc's files tell), it is read no further:
// its last byte is the end, and a page that one read takes costs one read.
class DescriptorSource final : public ByteSource {
public:
    explicit DescriptorSource(int fd, long long size = -1) : fd_(fd), size_(size) {}
    long Read(unsigned char* buffer, std::size_t size) override;

private:
    int fd_;
    long long size_;
    long long read_ = 0;
    bool ended_ = false;
};

// `head` (bytes already read from `rest`), then the rest.
class HeadThenSource final : public ByteSource {
public:
    HeadThenSource(std::unique_ptr<unsigned char[]> head, std::size_t length, ByteSource& rest)
        : head_(std::move(head)), length_(length), rest_(rest) {}
    const unsigned char* Head() const { return head_.get(); }
    std::unique_ptr<unsigned char[]> TakeHead() { return std::move(head_); }
    std::size_t HeadLength() const { return length_; }
    long Read(unsigned char* buffer, std::size_t size) override;

private:
    std::unique_ptr<unsigned char[]> head_;
    std::size_t length_;
    std::size_t used_ = 0;
    ByteSource& rest_;
};

#endif
