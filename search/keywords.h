// The keyword slots: the keyword line split at its spaces, and the first
// slot whose keyword occurs in an address.
#ifndef TALVERON_SEARCH_KEYWORDS_H
#define TALVERON_SEARCH_KEYWORDS_H

#include <string>

#include "lifecycle/limits.h"

class KeywordSlots {
public:
    // Splits `line` up to its first 0 byte, at most kKeywordLineMax bytes of
    // it: every space moves on to the next slot; every other byte goes to the
    // current slot while it is one of the six; the rest is dropped.
    explicit KeywordSlots(const char* line);

    // Slot 1..kKeywordSlots, "" when empty.
    const char* Slot(int slot) const { return keywords_[slot - 1]; }
    // Whether any slot is filled.
    bool Any() const { return any_; }
    // The first slot (1..6) whose non-empty keyword occurs in `address`
    // (byte-wise, case counts, unless FoldCase), or 0.
    int Excluding(const char* address) const;
    // From now on ASCII letters match in either case (the slots keep the
    // keywords as written).
    void FoldCase() { foldCase_ = true; }

private:
    char keywords_[kKeywordSlots][kKeywordLineCapacity];
    bool any_ = false;
    bool foldCase_ = false;
    // With FoldCase: the keywords and the address in lower case.
    char folded_[kKeywordSlots][kKeywordLineCapacity];
    mutable std::string address_;
};

#endif
