// Keyword filter and result record.
#include <cstdint>
#include <cstring>

#include "runtime/runtime.h"
#include "search/searcher.h"

int Searcher::ExcludingKeyword(const char* address) const {
    for (int slot = 0; slot < kKeywordSlots; ++slot) {
        const char* keyword = keywords_[slot];
        if (keyword[0] != '\0' && std::strstr(address, keyword) != nullptr) return slot + 1;
    }
    return 0;
}

void Searcher::RejectLink(int reason, int keyword) {
    // As far as the address is kept: its first kRecordBufferSize bytes.
    int length = urlLength_ < kRecordBufferSize ? urlLength_ : kRecordBufferSize;
    sink_.Rejected(reason, keyword, urlOffset_, url_, static_cast<std::size_t>(length));
}

namespace {

// True when none of the 8 bytes in `word` lies outside 0x20..0x7E.
inline bool AllAsciiPrintable(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    std::uint64_t below = (word - kOnes * 0x20) & ~word & kHighs;           // a byte < 0x20
    std::uint64_t above = ((word + kOnes * (127 - 0x7E)) | word) & kHighs;  // a byte > 0x7E
    return (below | above) == 0;
}

}  // namespace

// The C runtime's isprint is taken when the search begins: the caller may
// change its locale between searches.
void Searcher::PrepareStrip() {
    anyKeyword_ = false;
    for (const char* keyword : keywords_) anyKeyword_ |= keyword[0] != '\0';
    rt::PrintableBytes(printable_);
    printableIsAscii_ = true;
    for (int byte = 0; byte < 256; ++byte)
        if (printable_[byte] != (byte >= 0x20 && byte <= 0x7E)) printableIsAscii_ = false;
}

// Copies the printable bytes of `address`, whose first 0 byte stands at
// `length` (at most kMaxAddress), into `record` (kRecordBufferSize bytes),
// followed by a 0 byte; returns how many were copied.
int Searcher::StripNonPrintable(const char* address, int length, char* record) const {
    int kept = 0;
    int i = 0;
    if (length > kRecordBufferSize - 1) length = kRecordBufferSize - 1;
    if (printableIsAscii_) {
        // Whole words of printable bytes are copied as they are.
        for (std::uint64_t word; i + 8 <= length; i += 8, kept += 8) {
            std::memcpy(&word, address + i, 8);
            if (!AllAsciiPrintable(word)) break;
            std::memcpy(record + kept, &word, 8);
        }
    }
    for (; i < length; ++i) {
        // Every byte is stored; only a printable one moves the end on.
        unsigned char byte = static_cast<unsigned char>(address[i]);
        record[kept] = static_cast<char>(byte);
        kept += printable_[byte];
    }
    record[kept] = '\0';
    return kept;
}

void Searcher::EmitLink() {
    // From here on the address ends at its first 0 byte; longer addresses do
    // not fit the record buffer and are dropped.
    if (urlTextLength_ > kMaxAddress) return RejectLink(kRejectTooLong, 0);
    if (anyKeyword_) {
        if (int slot = ExcludingKeyword(url_)) return RejectLink(kRejectExcluded, slot);
    }
    // The record is made in place among the records gathered.
    EndRecord(StripNonPrintable(url_, urlTextLength_, BeginRecord()));
    last_ = kLastWasRecord;
}

const char* Searcher::Address(int* length) const {
    if (length) *length = urlLength_ < 0 ? 0 : urlLength_;
    return urlLength_ < 0 ? nullptr : url_;
}
