#include "search/keywords.h"

#include <cstring>

namespace {
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

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
        for (int i = 0; i <= lengths[s]; ++i) folded_[s][i] = Lower(keywords_[s][i]);
    }
}

int KeywordSlots::Excluding(const char* address) const {
    if (foldCase_) {
        address_.assign(address);
        for (char& c : address_) c = Lower(c);
        address = address_.c_str();
    }
    for (int slot = 0; slot < kKeywordSlots; ++slot) {
        const char* keyword = foldCase_ ? folded_[slot] : keywords_[slot];
        if (keyword[0] != '\0' && std::strstr(address, keyword) != nullptr) return slot + 1;
    }
    return 0;
}
