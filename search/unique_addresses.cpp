#include "search/unique_addresses.h"

#include <cstring>

// The hash compiled in here (Debian's libxxhash-dev, its header alone): no
// library to load, and the short addresses hashed at full speed.
#define XXH_INLINE_ALL
#include <xxhash.h>

bool UniqueAddresses::Insert(std::string_view address) {
    XXH128_hash_t h = XXH3_128bits(address.data(), address.size());
    Hash hash = {h.low64, h.high64};
    if (hash.low == 0 && hash.high == 0) {
        bool first = !haveZero_;
        haveZero_ = true;
        return first;
    }
    if ((count_ + 1) * 2 > capacity_) Grow();
    return Put(hash);
}

bool UniqueAddresses::Put(Hash hash) {
    std::size_t mask = capacity_ - 1;
    for (std::size_t i = static_cast<std::size_t>(hash.low) & mask;; i = (i + 1) & mask) {
        Hash& slot = table_[i];
        if (slot.low == hash.low && slot.high == hash.high) return false;
        if (slot.low == 0 && slot.high == 0) {
            slot = hash;
            ++count_;
            return true;
        }
    }
}

void UniqueAddresses::Grow() {
    std::size_t capacity = capacity_ ? capacity_ * 2 : 64;
    std::unique_ptr<Hash[]> old(new Hash[capacity]());
    old.swap(table_);
    std::size_t oldCapacity = capacity_;
    capacity_ = capacity;
    count_ = 0;
    for (std::size_t i = 0; i < oldCapacity; ++i)
        if (old[i].low != 0 || old[i].high != 0) Put(old[i]);
}

void UniqueAddresses::Clear() {
    if (count_) std::memset(static_cast<void*>(table_.get()), 0, capacity_ * sizeof(Hash));
    count_ = 0;
    haveZero_ = false;
}
