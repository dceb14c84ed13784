// The keyword line, split into the keyword slots.
#include "search/searcher.h"

// The line is read up to its first 0 byte, at most kKeywordLineMax bytes of
// it. Every space moves on to the next slot; every other byte goes to the
// current slot while it is one of the six; the rest is dropped.
void Searcher::SplitKeywordLine(const char* line) {
    int lengths[kKeywordSlots] = {};
    int slot = 0;
    for (int i = 0; i < kKeywordLineMax && line[i] != '\0'; ++i) {
        if (line[i] == ' ')
            ++slot;
        else if (slot < kKeywordSlots)
            keywords_[slot][lengths[slot]++] = line[i];
    }
    for (int s = 0; s < kKeywordSlots; ++s) keywords_[s][lengths[s]] = '\0';
}
