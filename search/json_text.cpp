#include "search/json_text.h"

#include <charconv>
#include <cstddef>

#include "search/search_sink.h"

namespace {

// The length of the UTF-8 sequence at `p` (1..4), or 0 when it is none;
// `bad` is then the length of its maximal part (at least 1).
std::size_t SequenceAt(const unsigned char* p, const unsigned char* end, std::size_t& bad) {
    unsigned char b = *p;
    std::size_t need;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        need = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        bad = 1;
        return 0;
    }
    std::size_t i = 1;
    for (; i < need; ++i) {
        if (p + i >= end) break;
        unsigned char c = p[i];
        if (i == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) break;
    }
    if (i == need) return need;
    bad = i;
    return 0;
}

template <bool kAddress>
void Append(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    out += '"';
    while (p < end) {
        // A run that needs nothing.
        const unsigned char* run = p;
        while (p < end && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\') ++p;
        out.append(reinterpret_cast<const char*>(run), p - run);
        if (p == end) break;
        unsigned char b = *p;
        if (b < 0x80) {
            out += '\\';
            switch (b) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '\n': out += 'n'; break;
                case '\r': out += 'r'; break;
                case '\t': out += 't'; break;
                case '\b': out += 'b'; break;
                case '\f': out += 'f'; break;
                default:
                    out += "u00";
                    out += kHex[b >> 4];
                    out += kHex[b & 15];
            }
            ++p;
            continue;
        }
        std::size_t bad = 0;
        if (std::size_t n = SequenceAt(p, end, bad)) {
            out.append(reinterpret_cast<const char*>(p), n);
            p += n;
        } else if (kAddress) {
            for (std::size_t i = 0; i < bad; ++i) {
                out += '%';
                out += kHex[p[i] >> 4];
                out += kHex[p[i] & 15];
            }
            p += bad;
        } else {
            out += "\xEF\xBF\xBD";
            p += bad;
        }
    }
    out += '"';
}

}  // namespace

void AppendJsonText(std::string& out, std::string_view text) { Append<false>(out, text); }

void AppendJsonAddress(std::string& out, std::string_view address) { Append<true>(out, address); }

void AppendJsonLink(std::string& out, const LinkFields& link) {
    auto field = [&out](const char* key, std::string_view value) {
        out += key;
        if (value.data())
            AppendJsonText(out, value);
        else
            out += "null";
    };
    auto name = [](const char* text) { return text ? std::string_view(text) : std::string_view(); };
    out += "{\"url\":";
    AppendJsonAddress(out, link.url);
    field(",\"href\":", link.href);
    field(",\"element\":", name(link.element));
    field(",\"attribute\":", name(link.attribute));
    field(",\"text\":", link.text);
    field(",\"rel\":", link.rel);
    char number[24];
    char* end = std::to_chars(number, number + sizeof number, link.offset).ptr;
    out += ",\"offset\":";
    out.append(number, end);
    out += '}';
}
