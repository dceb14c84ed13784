// The one read signature of the inputs a search reads besides a descriptor:
// a decompressor's output, a record of a web archive, an HTTP body, the
// bytes a library caller's function hands over. Readers stack on one
// another through it.
#ifndef TALVERON_SEARCH_BYTE_SOURCE_H
#define TALVERON_SEARCH_BYTE_SOURCE_H

#include <cstddef>

class ByteSource {
public:
    // Up to `size` bytes into `buffer`: their count, 0 at the end, -1 after
    // a failure (errno set).
    virtual long Read(unsigned char* buffer, std::size_t size) = 0;

protected:
    ~ByteSource() = default;
};

#endif
