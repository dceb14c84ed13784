#include "read/byte_source.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

long DescriptorSource::Read(unsigned char* buffer, std::size_t size) {
    if (ended_) return 0;
    if (size_ > 0) {
        // No further than the size: bytes behind it are none of this input's.
        if (read_ >= size_) return 0;
        if (static_cast<unsigned long long>(size_ - read_) < size) size = static_cast<std::size_t>(size_ - read_);
    }
    for (;;) {
        ssize_t n = ::read(fd_, buffer, size);
        if (n >= 0) {
            read_ += n;
            ended_ = size_ > 0 && read_ >= size_;
            return static_cast<long>(n);
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        pollfd ready = {fd_, POLLIN, 0};
        ::poll(&ready, 1, -1);
    }
}

long HeadThenSource::Read(unsigned char* buffer, std::size_t size) {
    if (used_ == length_) return rest_.Read(buffer, size);
    std::size_t n = std::min(size, length_ - used_);
    std::memcpy(buffer, head_.get() + used_, n);
    used_ += n;
    return static_cast<long>(n);
}
