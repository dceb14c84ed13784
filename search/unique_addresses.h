// The addresses a page has given so far, so that each becomes one record:
// a set of their 128-bit XXH3 hashes, 16 bytes an address in an open table
// kept at most half full, not the addresses themselves. Two addresses that
// differ share a hash with a chance of about 2^-128: none will be lost.
#ifndef TALVERON_SEARCH_UNIQUE_ADDRESSES_H
#define TALVERON_SEARCH_UNIQUE_ADDRESSES_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

class UniqueAddresses {
public:
    // True the first time `address` comes, false every time after. Throws
    // std::bad_alloc when the table cannot grow.
    bool Insert(std::string_view address);
    // Forgets every address (a new page); keeps the table's memory.
    void Clear();
    std::size_t Size() const { return count_ + (haveZero_ ? 1 : 0); }

private:
    struct Hash {
        std::uint64_t low, high;  // (0, 0) marks an empty slot
    };
    bool Put(Hash hash);
    void Grow();

    std::unique_ptr<Hash[]> table_;
    std::size_t capacity_ = 0;  // a power of two, or 0 before the first
    std::size_t count_ = 0;     // the hashes in the table
    bool haveZero_ = false;     // the hash (0, 0), which the table cannot hold
};

#endif
