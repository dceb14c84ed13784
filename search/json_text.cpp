#include "search/json_text.h"

#include <charconv>
#include <cstddef>
#include <cstring>

#include "search/scan_kernels.h"
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

// The first byte from `p` that a JSON string does not keep as it is: a
// short string byte by byte, a longer one by the scan kernel.
inline const unsigned char* EscapeAt(const unsigned char* p, const unsigned char* end) {
    if (end - p >= 32) return FindJsonEscape(p, end);
    while (p < end && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\') ++p;
    return p;
}

inline bool Kept(std::string_view text) {
    auto* p = reinterpret_cast<const unsigned char*>(text.data());
    return EscapeAt(p, p + text.size()) == p + text.size();
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
        p = EscapeAt(p, end);
        out.append(reinterpret_cast<const char*>(run), p - run);
        if (p == end) break;
        unsigned char b = *p;
        if (b < 0x80) {
            char escape[6] = {'\\', 0, 0, 0, 0, 0};
            std::size_t length = 2;
            switch (b) {
                case '"': escape[1] = '"'; break;
                case '\\': escape[1] = '\\'; break;
                case '\n': escape[1] = 'n'; break;
                case '\r': escape[1] = 'r'; break;
                case '\t': escape[1] = 't'; break;
                case '\b': escape[1] = 'b'; break;
                case '\f': escape[1] = 'f'; break;
                default:
                    escape[1] = 'u';
                    escape[2] = escape[3] = '0';
                    escape[4] = kHex[b >> 4];
                    escape[5] = kHex[b & 15];
                    length = 6;
            }
            out.append(escape, length);
            ++p;
            continue;
        }
        std::size_t bad = 0;
        if (std::size_t n = SequenceAt(p, end, bad)) {
            out.append(reinterpret_cast<const char*>(p), n);
            p += n;
        } else if (kAddress) {
            for (std::size_t i = 0; i < bad; ++i) {
                char percent[3] = {'%', kHex[p[i] >> 4], kHex[p[i] & 15]};
                out.append(percent, 3);
            }
            p += bad;
        } else {
            out.append("\xEF\xBF\xBD", 3);
            p += bad;
        }
    }
    out += '"';
}

}  // namespace

void AppendJsonText(std::string& out, std::string_view text) { Append<false>(out, text); }

void AppendJsonAddress(std::string& out, std::string_view address) { Append<true>(out, address); }

void AppendJsonLink(std::string& out, const LinkFields& link) {
    auto name = [](const char* text) { return text ? std::string_view(text) : std::string_view(); };
    std::string_view element = name(link.element), attribute = name(link.attribute);
    char number[24];
    std::size_t digits = static_cast<std::size_t>(std::to_chars(number, number + sizeof number, link.offset).ptr - number);
    using namespace std::string_view_literals;
    constexpr std::string_view kKeys[] = {"{\"url\":"sv, ",\"href\":"sv, ",\"element\":"sv, ",\"attribute\":"sv,
                                          ",\"text\":"sv, ",\"rel\":"sv, ",\"offset\":"sv};
    const std::string_view values[] = {link.url, link.href, element, attribute, link.text, link.rel};
    // Most records need no escape: their bytes go in place at once. (The
    // url is always a string; another field without a value is null.)
    std::size_t size = kKeys[6].size() + digits + 1;
    bool kept = true;
    for (std::size_t k = 0; k < 6 && kept; ++k) {
        size += kKeys[k].size() + (values[k].data() || k == 0 ? values[k].size() + 2 : 4);
        kept = Kept(values[k]);
    }
    if (kept) {
        std::size_t at = out.size();
        out.resize(at + size);
        char* w = &out[at];
        auto put = [&w](std::string_view bytes) {
            std::memcpy(w, bytes.data(), bytes.size());
            w += bytes.size();
        };
        for (std::size_t k = 0; k < 6; ++k) {
            put(kKeys[k]);
            if (values[k].data() || k == 0) {
                *w++ = '"';
                put(values[k]);
                *w++ = '"';
            } else {
                put("null"sv);
            }
        }
        put(kKeys[6]);
        put(std::string_view(number, digits));
        *w++ = '}';
        return;
    }
    out.append(kKeys[0].data(), kKeys[0].size());
    AppendJsonAddress(out, link.url);
    for (std::size_t k = 1; k < 6; ++k) {
        out.append(kKeys[k].data(), kKeys[k].size());
        if (values[k].data())
            AppendJsonText(out, values[k]);
        else
            out.append("null", 4);
    }
    out.append(kKeys[6].data(), kKeys[6].size());
    out.append(number, digits);
    out += '}';
}
