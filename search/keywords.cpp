#include "search/keywords.h"

#include <cstring>

KeywordSlots::KeywordSlots(const char* line) {
    int lengths[kKeywordSlots] = {};
    int slot = 0;
    for (int i = 0; i < kKeywordLineMax && line[i] != '\0'; ++i) {
        if (line[i] == ' ')
            ++slot;
        else if (slot < kKeywordSlots)
            keywords_[slot][lengths[slot]++] = line[i];
    }
    for (int s = 0; s < kKeywordSlots; ++s) {
        keywords_[s][lengths[s]] = '\0';
        any_ |= lengths[s] != 0;
    }
}

int KeywordSlots::Excluding(const char* address) const {
    for (int slot = 0; slot < kKeywordSlots; ++slot) {
        const char* keyword = keywords_[slot];
        if (keyword[0] != '\0' && std::strstr(address, keyword) != nullptr) return slot + 1;
    }
    return 0;
}
