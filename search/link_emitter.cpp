#include "search/link_emitter.h"

#include <cstdint>
#include <cstring>

#include "runtime/runtime.h"

LinkEmitter::LinkEmitter(SearchSink& sink, RecordBuffer& records, const char* keywordLine)
    : sink_(sink), records_(records), keywords_(keywordLine) {
    rt::PrintableBytes(printable_);
    for (int byte = 0; byte < 256; ++byte)
        if (printable_[byte] != (byte >= 0x20 && byte <= 0x7E)) printableIsAscii_ = false;
}

void LinkEmitter::Reject(const CapturedLink& link, int reason, int keyword) {
    // As far as the address is kept: its first kRecordBufferSize bytes.
    int length = link.length < kRecordBufferSize ? link.length : kRecordBufferSize;
    sink_.Rejected(reason, keyword, link.offset, link.text, static_cast<std::size_t>(length));
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

// Copies the printable bytes of `address`, whose first 0 byte stands at
// `length` (at most kMaxAddress), into `record` (kRecordBufferSize bytes),
// followed by a 0 byte; returns how many were copied.
int LinkEmitter::StripNonPrintable(const char* address, int length, char* record) const {
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

bool LinkEmitter::Emit(const CapturedLink& link) {
    // From here on the address ends at its first 0 byte; longer addresses do
    // not fit the record buffer and are dropped.
    if (link.textLength > kMaxAddress) {
        Reject(link, kRejectTooLong, 0);
        return false;
    }
    if (keywords_.Any()) {
        if (int slot = keywords_.Excluding(link.text)) {
            Reject(link, kRejectExcluded, slot);
            return false;
        }
    }
    // The record is made in place among the records gathered.
    records_.End(StripNonPrintable(link.text, link.textLength, records_.Begin()));
    return true;
}
