// Keyword filter and result record.
#include <cstdint>
#include <cstring>

#include "module/module_state.h"
#include "runtime/runtime.h"
#include "search/input_reader.h"
#include "search/result_writer.h"
#include "search/search.h"

int ExcludingKeyword(const char* address) {
    for (int slot = 0; slot < kKeywordSlots; ++slot) {
        const CString& keyword = g_strKeyword[slot];
        if (!keyword.IsEmpty() && std::strstr(address, keyword) != nullptr) return slot + 1;
    }
    return 0;
}

SearchHooks g_searchHooks = {nullptr, nullptr, nullptr};

void RejectLink(int reason, int keyword) {
    if (!g_searchHooks.rejected) return;
    // As far as the address is kept: its first kRecordBufferSize bytes.
    const CString& url = UrlString();
    int length = url.GetLength() < kRecordBufferSize ? url.GetLength() : kRecordBufferSize;
    g_searchHooks.rejected(g_searchHooks.context, reason, keyword, UrlOffset(), url,
                           static_cast<std::size_t>(length));
}

namespace {

bool s_printable[256];    // the C runtime's isprint, taken at the start of each search
bool s_printableIsAscii;  // and it is the "C" locale's: 0x20 to 0x7E
bool s_anyKeyword;        // a keyword slot is not empty

// True when none of the 8 bytes in `word` lies outside 0x20..0x7E.
inline bool AllAsciiPrintable(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    std::uint64_t below = (word - kOnes * 0x20) & ~word & kHighs;       // a byte < 0x20
    std::uint64_t above = ((word + kOnes * (127 - 0x7E)) | word) & kHighs;  // a byte > 0x7E
    return (below | above) == 0;
}

}  // namespace

void PrepareStrip() {
    s_anyKeyword = false;
    for (const CString& keyword : g_strKeyword) s_anyKeyword |= !keyword.IsEmpty();
    // The table is taken again only when the locale has changed since.
    static char s_tableLocale[128];  // "" before the first table
    const char* locale = rt::CtypeLocaleName();
    bool named = locale && std::strlen(locale) < sizeof s_tableLocale;
    if (named && std::strcmp(locale, s_tableLocale) == 0) return;
    std::strcpy(s_tableLocale, named ? locale : "");
    s_printableIsAscii = true;
    for (int byte = 0; byte < 256; ++byte) {
        s_printable[byte] = rt::IsPrintByte(static_cast<unsigned char>(byte));
        if (s_printable[byte] != (byte >= 0x20 && byte <= 0x7E)) s_printableIsAscii = false;
    }
}

int StripNonPrintable(const char* address, int length, char* record) {
    int kept = 0;
    int i = 0;
    if (length > kRecordBufferSize - 1) length = kRecordBufferSize - 1;
    if (s_printableIsAscii) {
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
        kept += s_printable[byte];
    }
    record[kept] = '\0';
    return kept;
}

void EmitLink() {
    const char* address = UrlString();  // from here on the address ends at its first 0 byte
    // Longer addresses do not fit the record buffer and are dropped.
    int length = UrlTextLength();
    if (length > kMaxAddress) return RejectLink(kRejectTooLong, 0);
    if (s_anyKeyword) {
        if (int slot = ExcludingKeyword(address)) return RejectLink(kRejectExcluded, slot);
    }

    // The record is made in place in the result writer's buffer.
    EndRecord(StripNonPrintable(address, length, BeginRecord()));
    g_input.last = kLastWasRecord;
}
