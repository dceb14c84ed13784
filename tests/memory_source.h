// Bytes in memory as a reader hands them over: in pieces of a chosen size,
// as a pipe or a terminal does.
#ifndef TALVERON_TESTS_MEMORY_SOURCE_H
#define TALVERON_TESTS_MEMORY_SOURCE_H

#include <algorithm>
#include <cstring>
#include <string>

#include "read/byte_source.h"

class MemorySource final : public ByteSource {
public:
    MemorySource(std::string bytes, std::size_t piece) : bytes_(std::move(bytes)), piece_(piece) {}
    long Read(unsigned char* buffer, std::size_t size) override {
        std::size_t n = std::min({size, piece_, bytes_.size() - at_});
        std::memcpy(buffer, bytes_.data() + at_, n);
        at_ += n;
        return static_cast<long>(n);
    }

private:
    std::string bytes_;
    std::size_t piece_, at_ = 0;
};

#endif
