#include "html/character_references.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace {

struct Reference {
    const char* name;
    const char* bytes;
};

const Reference kNamed[] = {
#include "html/entities.inc"
};

constexpr std::size_t kLongestName = 32;  // "CounterClockwiseContourIntegral;"

bool IsAlphanumeric(unsigned char c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c |= 0x20;
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

void AppendUtf8(std::uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// What a numeric reference to `cp` stands for.
std::uint32_t NumericValue(std::uint32_t cp) {
    // 0x80 to 0x9F as windows-1252 has them (0 where it has none).
    static const std::uint16_t kWindows1252[32] = {
        0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
        0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
    if (cp >= 0x80 && cp <= 0x9F && kWindows1252[cp - 0x80]) return kWindows1252[cp - 0x80];
    return cp;
}

// A numeric reference at `value[at]` (behind "&#"): its length from the
// '&', or 0 when no digit follows (the bytes then stand as they are).
std::size_t NumericAt(std::string_view value, std::size_t at, std::string& out) {
    std::size_t k = at + 2;
    bool hex = k < value.size() && (value[k] | 0x20) == 'x';
    if (hex) ++k;
    std::size_t digits = k;
    std::uint32_t cp = 0;
    for (; k < value.size(); ++k) {
        int d = hex ? HexDigit(static_cast<unsigned char>(value[k]))
                    : (value[k] >= '0' && value[k] <= '9' ? value[k] - '0' : -1);
        if (d < 0) break;
        cp = std::min<std::uint32_t>(cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d), 0x110000);
    }
    if (k == digits) return 0;
    if (k < value.size() && value[k] == ';') ++k;
    AppendUtf8(NumericValue(cp), out);
    return k - at;
}

// A named reference at `value[at]` (an '&'): the longest name of the table
// that the bytes behind it begin with. Its length from the '&', or 0 when
// there is none, or when the name lacks its ';' and '=' or a letter or digit
// follows (the bytes then stand as they are).
std::size_t NamedAt(std::string_view value, std::size_t at, std::string& out, bool attribute) {
    std::size_t begin = at + 1, run = begin;
    while (run < value.size() && run - begin < kLongestName && IsAlphanumeric(static_cast<unsigned char>(value[run])))
        ++run;
    if (run < value.size() && value[run] == ';' && run - begin < kLongestName) ++run;
    for (std::size_t length = run - begin; length > 0; --length) {
        const char* bytes = NamedReference(value.substr(begin, length));
        if (!bytes) continue;
        std::size_t next = begin + length;
        if (attribute && value[next - 1] != ';' && next < value.size() &&
            (value[next] == '=' || IsAlphanumeric(static_cast<unsigned char>(value[next]))))
            return 0;
        out += bytes;
        return next - at;
    }
    return 0;
}

}  // namespace

const char* NamedReference(std::string_view name) {
    auto found = std::lower_bound(std::begin(kNamed), std::end(kNamed), name,
                                  [](const Reference& row, std::string_view key) { return row.name < key; });
    return found != std::end(kNamed) && found->name == name ? found->bytes : nullptr;
}

namespace {
void AppendDecoded(std::string_view value, std::string& out, bool attribute) {
    for (std::size_t at = 0; at < value.size();) {
        std::size_t amp = value.find('&', at);
        out.append(value.substr(at, amp == std::string_view::npos ? std::string_view::npos : amp - at));
        if (amp == std::string_view::npos) return;
        std::size_t length = amp + 1 < value.size() && value[amp + 1] == '#' ? NumericAt(value, amp, out)
                                                                              : NamedAt(value, amp, out, attribute);
        if (length == 0) out += '&';  // it begins no reference
        at = amp + (length ? length : 1);
    }
}
}  // namespace

void AppendAttributeValue(std::string_view value, std::string& out) { AppendDecoded(value, out, true); }

void AppendText(std::string_view text, std::string& out) { AppendDecoded(text, out, false); }
