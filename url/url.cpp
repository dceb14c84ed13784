// The WHATWG URL Standard's basic URL parser (without a state override) and
// URL serializer. The parser walks the input byte by byte: it branches on
// ASCII characters only and percent-encodes every byte from 0x80 up, so
// that, once the input is valid UTF-8, a byte walk does what the standard's
// walk over code points does.
#include "url/url.h"

#include <dlfcn.h>
#include <unicode/uidna.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr int kEof = -1;

[[noreturn]] void ThrowConversionError(const std::string& why) {
    throw UrlConversionError("international domain names cannot be converted: " + why);
}

bool IsAlpha(int c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; }

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c |= 0x20;
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// What the parser asks of a byte, as bits of a table: which of the
// standard's percent-encode sets it is in (every byte from 0x80 up is in
// every set), whether it is a forbidden host code point or a forbidden
// domain code point (those, C0 controls, '%' and DEL), and whether it is one
// of the characters that end a path segment, a path or a query.
enum : std::uint16_t {
    kC0ControlSet = 1,
    kFragmentSet = 2,
    kQuerySet = 4,
    kSpecialQuerySet = 8,
    kPathSet = 16,
    kUserinfoSet = 32,
    kForbiddenHost = 64,
    kForbiddenDomain = 128,
    kHash = 256,
    kQuestion = 512,
    kSlash = 1024,
    kBackslash = 2048,
};

constexpr std::array<std::uint16_t, 256> MakeByteClasses() {
    std::array<std::uint16_t, 256> classes{};
    for (std::size_t c = 0; c < 256; ++c) {
        if (c >= 0x80) {
            classes[c] = kC0ControlSet | kFragmentSet | kQuerySet | kSpecialQuerySet | kPathSet | kUserinfoSet;
            continue;
        }
        const bool c0 = c < 0x20 || c == 0x7F;
        const bool fragment = c0 || c == ' ' || c == '"' || c == '<' || c == '>' || c == '`';
        const bool query = c0 || c == ' ' || c == '"' || c == '#' || c == '<' || c == '>';
        const bool special_query = query || c == '\'';
        const bool path = query || c == '?' || c == '`' || c == '{' || c == '}';
        const bool userinfo = path || c == '/' || c == ':' || c == ';' || c == '=' || c == '@' ||
                              (c >= '[' && c <= '^') || c == '|';
        const bool host = c == 0 || c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '#' || c == '/' ||
                          c == ':' || c == '<' || c == '>' || c == '?' || c == '@' || c == '[' || c == '\\' ||
                          c == ']' || c == '^' || c == '|';
        const bool domain = host || c0 || c == '%';
        classes[c] = static_cast<std::uint16_t>(
            (c0 ? kC0ControlSet : 0) | (fragment ? kFragmentSet : 0) | (query ? kQuerySet : 0) |
            (special_query ? kSpecialQuerySet : 0) | (path ? kPathSet : 0) | (userinfo ? kUserinfoSet : 0) |
            (host ? kForbiddenHost : 0) | (domain ? kForbiddenDomain : 0) | (c == '#' ? kHash : 0) |
            (c == '?' ? kQuestion : 0) | (c == '/' ? kSlash : 0) | (c == '\\' ? kBackslash : 0));
    }
    return classes;
}

constexpr std::array<std::uint16_t, 256> kByteClasses = MakeByteClasses();

bool Is(unsigned char c, std::uint16_t bits) { return (kByteClasses[c] & bits) != 0; }

void AppendPercent(std::string& out, unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    const char escape[3] = {'%', kHex[c >> 4], kHex[c & 15]};
    out.append(escape, 3);
}

// Appends `in` to `out` up to its first byte of class `stop`, each byte of
// `set` percent-encoded; runs of bytes outside the set go over in one piece.
// Returns how many bytes it took.
std::size_t AppendEncoded(std::string& out, std::string_view in, std::uint16_t set, std::uint16_t stop = 0) {
    std::size_t run = 0, i = 0;
    for (; i < in.size(); ++i) {
        const std::uint16_t classes = kByteClasses[static_cast<unsigned char>(in[i])];
        if ((classes & (set | stop)) == 0) continue;
        if (classes & stop) break;
        out.append(in.data() + run, i - run);
        AppendPercent(out, static_cast<unsigned char>(in[i]));
        run = i + 1;
    }
    out.append(in.data() + run, i - run);
    return i;
}

// The UTF-8 sequence at in[i] as the standard's UTF-8 decoder reads it (no
// overlong forms, no surrogates, nothing past U+10FFFF): its length, and
// whether it is valid. An invalid one is its lead byte and the continuation
// bytes that were still acceptable when it broke, which a decoder with
// replacement turns into one U+FFFD.
std::size_t Utf8Sequence(std::string_view in, std::size_t i, bool& valid) {
    const auto b = static_cast<unsigned char>(in[i]);
    valid = true;
    if (b < 0x80) return 1;
    std::size_t need;
    unsigned char lower = 0x80, upper = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        if (b == 0xE0) lower = 0xA0;
        if (b == 0xED) upper = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        if (b == 0xF0) lower = 0x90;
        if (b == 0xF4) upper = 0x8F;
    } else {
        valid = false;
        return 1;
    }
    std::size_t k = 1;
    for (; k <= need && i + k < in.size(); ++k) {
        const auto next = static_cast<unsigned char>(in[i + k]);
        if (next < lower || next > upper) break;
        lower = 0x80;
        upper = 0xBF;
    }
    valid = k == need + 1;
    return k;
}

bool IsValidUtf8(std::string_view in) {
    bool valid = true;
    for (std::size_t i = 0; i < in.size() && valid;) i += Utf8Sequence(in, i, valid);
    return valid;
}

bool IsWindowsDriveLetter(std::string_view s) {
    return s.size() == 2 && IsAlpha(static_cast<unsigned char>(s[0])) && (s[1] == ':' || s[1] == '|');
}

// Whether s starts with a Windows drive letter followed by nothing or by
// one of "/\?#".
bool StartsWithWindowsDriveLetter(std::string_view s) {
    if (s.size() < 2 || !IsWindowsDriveLetter(s.substr(0, 2))) return false;
    if (s.size() == 2) return true;
    const char c = s[2];
    return c == '/' || c == '\\' || c == '?' || c == '#';
}

// A path whose first segment is a normalized Windows drive letter ("/C:",
// "/C:/...").
bool FirstSegmentIsDriveLetter(const std::string& path) {
    return path.size() >= 3 && path[0] == '/' && IsAlpha(static_cast<unsigned char>(path[1])) && path[2] == ':' &&
           (path.size() == 3 || path[3] == '/');
}

bool IsPercent2e(std::string_view s) { return s.size() == 3 && s[0] == '%' && s[1] == '2' && (s[2] | 0x20) == 'e'; }
bool IsSingleDot(std::string_view s) { return s == "." || IsPercent2e(s); }
bool IsDoubleDot(std::string_view s) {
    switch (s.size()) {
    case 2:
        return s == "..";
    case 4:
        return (s[0] == '.' && IsPercent2e(s.substr(1))) || (IsPercent2e(s.substr(0, 3)) && s[3] == '.');
    case 6:
        return IsPercent2e(s.substr(0, 3)) && IsPercent2e(s.substr(3));
    default:
        return false;
    }
}

int DefaultPort(int kind_number) {
    // In the order of Url::Kind: not special, http, https, ws, wss, ftp, file.
    static const int kPorts[] = {-1, 80, 443, 80, 443, 21, -1};
    return kPorts[kind_number];
}

void AppendDecimal(std::string& out, std::uint32_t n) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    while (count > 0) out += digits[--count];
}

// The standard's IPv4 number parser: decimal, octal after a "0", hex after
// "0x" ("0x" alone is 0). Values saturate well past 2^32, which every
// caller rejects all the same.
bool ParseIpv4Number(std::string_view s, std::uint64_t& value) {
    if (s.empty()) return false;
    unsigned radix = 10;
    if (s.size() >= 2 && s[0] == '0' && (s[1] | 0x20) == 'x') {
        s.remove_prefix(2);
        radix = 16;
    } else if (s.size() >= 2 && s[0] == '0') {
        s.remove_prefix(1);
        radix = 8;
    }
    std::uint64_t v = 0;
    for (const char ch : s) {
        const int digit = HexValue(static_cast<unsigned char>(ch));
        if (digit < 0 || static_cast<unsigned>(digit) >= radix) return false;
        v = v * radix + static_cast<unsigned>(digit);
        if (v > (std::uint64_t{1} << 40)) v = std::uint64_t{1} << 40;
    }
    value = v;
    return true;
}

// The standard's "ends in a number": the last label (a trailing dot aside)
// is all digits or parses as an IPv4 number.
bool EndsInNumber(std::string_view s) {
    if (!s.empty() && s.back() == '.') s.remove_suffix(1);
    const std::size_t dot = s.rfind('.');
    const std::string_view last = dot == std::string_view::npos ? s : s.substr(dot + 1);
    if (last.empty()) return false;
    bool digits = true;
    for (const char ch : last) digits = digits && IsDigit(static_cast<unsigned char>(ch));
    std::uint64_t ignored;
    return digits || ParseIpv4Number(last, ignored);
}

bool ParseIpv4(std::string_view s, std::uint32_t& address) {
    if (s.size() > 1 && s.back() == '.') s.remove_suffix(1);
    std::uint64_t numbers[4];
    std::size_t count = 0;
    for (;;) {
        const std::size_t dot = s.find('.');
        if (count == 4) return false;
        if (!ParseIpv4Number(s.substr(0, dot), numbers[count++])) return false;
        if (dot == std::string_view::npos) break;
        s.remove_prefix(dot + 1);
    }
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (numbers[i] > 255) return false;
    }
    if (numbers[count - 1] >= (std::uint64_t{1} << (8 * (5 - count)))) return false;
    std::uint64_t ipv4 = numbers[count - 1];
    for (std::size_t i = 0; i + 1 < count; ++i) ipv4 += numbers[i] << (8 * (3 - i));
    address = static_cast<std::uint32_t>(ipv4);
    return true;
}

void SerializeIpv4(std::uint32_t address, std::string& out) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        AppendDecimal(out, (address >> shift) & 0xFF);
        if (shift != 0) out += '.';
    }
}

// The standard's IPv6 parser, on what stands between the brackets.
bool ParseIpv6(std::string_view s, std::uint16_t (&address)[8]) {
    for (auto& piece : address) piece = 0;
    const std::size_t n = s.size();
    auto at = [&](std::size_t i) -> int { return i < n ? static_cast<unsigned char>(s[i]) : kEof; };
    int piece_index = 0;
    int compress = -1;
    std::size_t p = 0;
    if (at(p) == ':') {
        if (at(p + 1) != ':') return false;
        p += 2;
        compress = ++piece_index;
    }
    while (at(p) != kEof) {
        if (piece_index == 8) return false;
        if (at(p) == ':') {
            if (compress >= 0) return false;
            ++p;
            compress = ++piece_index;
            continue;
        }
        unsigned value = 0;
        std::size_t length = 0;
        while (length < 4 && at(p) != kEof && HexValue(static_cast<unsigned char>(at(p))) >= 0) {
            value = value * 16 + static_cast<unsigned>(HexValue(static_cast<unsigned char>(at(p))));
            ++p;
            ++length;
        }
        if (at(p) == '.') {
            // An IPv4 address in the last two pieces.
            if (length == 0) return false;
            p -= length;
            if (piece_index > 6) return false;
            int numbers_seen = 0;
            while (at(p) != kEof) {
                int ipv4_piece = -1;
                if (numbers_seen > 0) {
                    if (at(p) == '.' && numbers_seen < 4) {
                        ++p;
                    } else {
                        return false;
                    }
                }
                if (!IsDigit(at(p))) return false;
                while (IsDigit(at(p))) {
                    const int number = at(p) - '0';
                    if (ipv4_piece < 0) {
                        ipv4_piece = number;
                    } else if (ipv4_piece == 0) {
                        return false;
                    } else {
                        ipv4_piece = ipv4_piece * 10 + number;
                    }
                    if (ipv4_piece > 255) return false;
                    ++p;
                }
                address[piece_index] = static_cast<std::uint16_t>(address[piece_index] * 0x100 + ipv4_piece);
                ++numbers_seen;
                if (numbers_seen == 2 || numbers_seen == 4) ++piece_index;
            }
            if (numbers_seen != 4) return false;
            break;
        }
        if (at(p) == ':') {
            ++p;
            if (at(p) == kEof) return false;
        } else if (at(p) != kEof) {
            return false;
        }
        address[piece_index++] = static_cast<std::uint16_t>(value);
    }
    if (compress >= 0) {
        int swaps = piece_index - compress;
        piece_index = 7;
        while (piece_index != 0 && swaps > 0) {
            const std::uint16_t moved = address[compress + swaps - 1];
            address[compress + swaps - 1] = address[piece_index];
            address[piece_index] = moved;
            --piece_index;
            --swaps;
        }
    } else if (piece_index != 8) {
        return false;
    }
    return true;
}

// The standard's IPv6 serializer: lower-case hex pieces, the first longest
// run of two or more zero pieces compressed to "::".
void SerializeIpv6(const std::uint16_t (&address)[8], std::string& out) {
    int compress = -1, longest = 1;
    for (int i = 0; i < 8;) {
        if (address[i] != 0) {
            ++i;
            continue;
        }
        int end = i;
        while (end < 8 && address[end] == 0) ++end;
        if (end - i > longest) {
            longest = end - i;
            compress = i;
        }
        i = end;
    }
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 8; ++i) {
        if (i == compress) {
            out += i == 0 ? "::" : ":";
            i += longest - 1;
            continue;
        }
        const unsigned piece = address[i];
        bool leading = true;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (piece >> shift) & 15;
            if (leading && digit == 0 && shift != 0) continue;
            leading = false;
            out += kHex[digit];
        }
        if (i != 7) out += ':';
    }
}

bool StartsWithAcePrefix(std::string_view label) {
    return label.size() >= 4 && (label[0] | 0x20) == 'x' && (label[1] | 0x20) == 'n' && label[2] == '-' &&
           label[3] == '-';
}

}  // namespace

bool Url::Parse(std::string_view input, const Url* base) {
    if (base == this) {
        const Url copy(*this);
        return Parse(input, &copy);
    }
    scheme_.clear();
    username_.clear();
    password_.clear();
    host_.clear();
    path_.clear();
    query_.clear();
    fragment_.clear();
    port_ = -1;
    kind_ = Kind::kNotSpecial;
    has_host_ = opaque_path_ = has_query_ = has_fragment_ = false;
    from_ = base;
    from_scheme_ = from_authority_ = from_query_ = false;
    path_kept_ = 0;
    too_long_ = false;
    slashes_made_ = false;
    if (!Run(Prepare(input), base)) return false;
    too_long_ = HrefSize() > max_length_;
    if (too_long_) return false;
    TakeFromBase();
    Serialize();
    return true;
}

// The input as the parser reads it: without leading and trailing C0
// controls and spaces, without tabs and newlines, invalid UTF-8 replaced by
// U+FFFD. Invalid sequences are replaced before tabs and newlines go, as the
// decoding of the bytes comes before the parser: "\xC3\t\xA9" is two U+FFFD,
// not "é".
std::string_view Url::Prepare(std::string_view in) {
    std::size_t begin = 0, end = in.size();
    while (begin < end && static_cast<unsigned char>(in[begin]) <= 0x20) ++begin;
    while (end > begin && static_cast<unsigned char>(in[end - 1]) <= 0x20) --end;
    in = in.substr(begin, end - begin);
    bool strip = false, non_ascii = false;
    std::size_t i = 0;
    // Eight bytes at a time while all are printable ASCII (0x21 to 0x7F),
    // as they are in ordinary links: a byte below 0x21 borrows into its top
    // bit when 0x21 is taken from it, a byte from 0x80 up has it set.
    constexpr std::uint64_t kOnes = 0x0101010101010101, kTops = 0x8080808080808080;
    for (; i + 8 <= in.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, in.data() + i, 8);
        if ((((word - 0x21 * kOnes) & ~word) | word) & kTops) break;
    }
    for (; i < in.size(); ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        strip = strip || c == '\t' || c == '\n' || c == '\r';
        non_ascii = non_ascii || c >= 0x80;
    }
    const bool replace = non_ascii && !IsValidUtf8(in);
    if (!strip && !replace) return in;
    input_.clear();
    for (i = 0; i < in.size();) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            if (c != '\t' && c != '\n' && c != '\r') input_ += static_cast<char>(c);
            ++i;
            continue;
        }
        bool valid;
        const std::size_t length = Utf8Sequence(in, i, valid);
        if (valid) {
            input_.append(in.data() + i, length);
        } else {
            input_ += "\xEF\xBF\xBD";
        }
        i += length;
    }
    return input_;
}

bool Url::Run(std::string_view input, const Url* base) {
    enum class State {
        kSchemeStart,
        kScheme,
        kNoScheme,
        kSpecialRelativeOrAuthority,
        kPathOrAuthority,
        kRelative,
        kRelativeSlash,
        kSpecialAuthoritySlashes,
        kSpecialAuthorityIgnoreSlashes,
        kAuthority,
        kHost,
        kPort,
        kFile,
        kFileSlash,
        kFileHost,
        kPathStart,
        kPath,
        kOpaquePath,
        kQuery,
        kFragment,
    };
    const char* const s = input.data();
    const auto n = static_cast<std::ptrdiff_t>(input.size());
    auto at = [&](std::ptrdiff_t i) -> int { return i < n ? static_cast<unsigned char>(s[i]) : kEof; };
    // The base's authority, taken at the end.
    auto take_authority = [&](const Url& from) {
        from_authority_ = true;
        has_host_ = from.has_host_;
        port_ = from.port_;
    };

    State state = State::kSchemeStart;
    std::ptrdiff_t p = 0;
    // Where the standard's buffer starts in the input, in the scheme,
    // authority, host and file host states (it runs up to p).
    std::ptrdiff_t mark = 0;
    bool at_sign_seen = false, inside_brackets = false, password_token_seen = false;
    std::uint32_t port = 0;
    bool port_digits = false;
    // The path segment being read is path_ from here (after its '/'); -1
    // when none is.
    std::ptrdiff_t segment = -1;

    for (;;) {
        const int c = at(p);
        const bool special = kind_ != Kind::kNotSpecial;
        switch (state) {
        case State::kSchemeStart:
            if (IsAlpha(c)) {
                state = State::kScheme;
                mark = p;
            } else {
                state = State::kNoScheme;
                --p;
            }
            break;

        case State::kScheme:
            while (p < n && (IsAlpha(s[p]) || IsDigit(s[p]) || s[p] == '+' || s[p] == '-' || s[p] == '.')) ++p;
            if (at(p) != ':') {
                // No scheme after all: start over.
                state = State::kNoScheme;
                p = -1;
                break;
            }
            scheme_.assign(s + mark, static_cast<std::size_t>(p - mark));
            for (char& ch : scheme_) ch = Lower(ch);
            if (scheme_ == "http") {
                kind_ = Kind::kHttp;
            } else if (scheme_ == "https") {
                kind_ = Kind::kHttps;
            } else if (scheme_ == "ws") {
                kind_ = Kind::kWs;
            } else if (scheme_ == "wss") {
                kind_ = Kind::kWss;
            } else if (scheme_ == "ftp") {
                kind_ = Kind::kFtp;
            } else if (scheme_ == "file") {
                kind_ = Kind::kFile;
            }
            if (kind_ == Kind::kFile) {
                state = State::kFile;
            } else if (kind_ != Kind::kNotSpecial && base && base->scheme_ == scheme_) {
                state = State::kSpecialRelativeOrAuthority;
            } else if (kind_ != Kind::kNotSpecial) {
                state = State::kSpecialAuthoritySlashes;
            } else if (at(p + 1) == '/') {
                state = State::kPathOrAuthority;
                ++p;
            } else {
                opaque_path_ = true;
                state = State::kOpaquePath;
            }
            break;

        case State::kNoScheme:
            if (!base || (base->opaque_path_ && c != '#')) return false;
            if (base->opaque_path_) {
                from_scheme_ = true;
                kind_ = base->kind_;
                path_kept_ = base->path_.size();
                opaque_path_ = true;
                from_query_ = true;
                has_query_ = base->has_query_;
                has_fragment_ = true;
                state = State::kFragment;
            } else {
                state = base->kind_ == Kind::kFile ? State::kFile : State::kRelative;
                --p;
            }
            break;

        case State::kSpecialRelativeOrAuthority:
            if (c == '/' && at(p + 1) == '/') {
                state = State::kSpecialAuthorityIgnoreSlashes;
                ++p;
            } else {
                state = State::kRelative;
                --p;
            }
            break;

        case State::kPathOrAuthority:
            if (c == '/') {
                state = State::kAuthority;
                mark = p + 1;
            } else {
                state = State::kPath;
                --p;
            }
            break;

        case State::kRelative:
            from_scheme_ = true;
            kind_ = base->kind_;
            if (c == '/' || (kind_ != Kind::kNotSpecial && c == '\\')) {
                state = State::kRelativeSlash;
                break;
            }
            take_authority(*base);
            path_kept_ = base->path_.size();
            from_query_ = true;
            has_query_ = base->has_query_;
            if (c == '?') {
                from_query_ = false;
                has_query_ = true;
                state = State::kQuery;
            } else if (c == '#') {
                has_fragment_ = true;
                state = State::kFragment;
            } else if (c != kEof) {
                from_query_ = false;
                has_query_ = false;
                ShortenPath();
                state = State::kPath;
                --p;
            }
            break;

        case State::kRelativeSlash:
            if (special && (c == '/' || c == '\\')) {
                state = State::kSpecialAuthorityIgnoreSlashes;
            } else if (c == '/') {
                state = State::kAuthority;
                mark = p + 1;
            } else {
                take_authority(*base);
                state = State::kPath;
                --p;
            }
            break;

        case State::kSpecialAuthoritySlashes:
            state = State::kSpecialAuthorityIgnoreSlashes;
            if (c == '/' && at(p + 1) == '/') {
                ++p;
            } else {
                --p;
            }
            break;

        case State::kSpecialAuthorityIgnoreSlashes:
            if (c != '/' && c != '\\') {
                state = State::kAuthority;
                mark = p;
                --p;
            }
            break;

        case State::kAuthority:
            // On to the next '@' or the authority's end.
            while (p < n && s[p] != '@' && s[p] != '/' && s[p] != '?' && s[p] != '#' && !(special && s[p] == '\\')) {
                ++p;
            }
            if (p < n && s[p] == '@') {
                if (at_sign_seen) (password_token_seen ? password_ : username_) += "%40";
                at_sign_seen = true;
                for (std::ptrdiff_t i = mark; i < p; ++i) {
                    if (s[i] == ':' && !password_token_seen) {
                        password_token_seen = true;
                        continue;
                    }
                    std::string& to = password_token_seen ? password_ : username_;
                    const auto ch = static_cast<unsigned char>(s[i]);
                    if (Is(ch, kUserinfoSet)) {
                        AppendPercent(to, ch);
                    } else {
                        to += static_cast<char>(ch);
                    }
                }
                mark = p + 1;
            } else {
                if (at_sign_seen && mark == p) return false;
                // Back to the buffer's start, to read it again as the host.
                p = mark - 1;
                state = State::kHost;
            }
            break;

        case State::kHost:
            // On to a ':' outside brackets or the host's end.
            for (; p < n; ++p) {
                const char ch = s[p];
                if (ch == '[') {
                    inside_brackets = true;
                } else if (ch == ']') {
                    inside_brackets = false;
                } else if ((ch == ':' && !inside_brackets) || ch == '/' || ch == '?' || ch == '#' ||
                           (special && ch == '\\')) {
                    break;
                }
            }
            if (p == mark && (special || at(p) == ':')) return false;
            if (!ParseHost(std::string_view(s + mark, static_cast<std::size_t>(p - mark)), !special)) return false;
            has_host_ = true;
            if (at(p) == ':') {
                state = State::kPort;
            } else {
                state = State::kPathStart;
                --p;
            }
            break;

        case State::kPort:
            if (IsDigit(c)) {
                port_digits = true;
                if (port <= 65535) port = port * 10 + static_cast<std::uint32_t>(c - '0');
            } else if (c == kEof || c == '/' || c == '?' || c == '#' || (special && c == '\\')) {
                if (port_digits) {
                    if (port > 65535) return false;
                    port_ = static_cast<int>(port) == DefaultPort(static_cast<int>(kind_)) ? -1
                                                                                          : static_cast<int>(port);
                }
                state = State::kPathStart;
                --p;
            } else {
                return false;
            }
            break;

        case State::kFile:
            scheme_ = "file";
            kind_ = Kind::kFile;
            host_.clear();
            has_host_ = true;
            if (c == '/' || c == '\\') {
                state = State::kFileSlash;
            } else if (base && base->kind_ == Kind::kFile) {
                take_authority(*base);
                path_kept_ = base->path_.size();
                from_query_ = true;
                has_query_ = base->has_query_;
                if (c == '?') {
                    from_query_ = false;
                    has_query_ = true;
                    state = State::kQuery;
                } else if (c == '#') {
                    has_fragment_ = true;
                    state = State::kFragment;
                } else if (c != kEof) {
                    from_query_ = false;
                    has_query_ = false;
                    if (!StartsWithWindowsDriveLetter(input.substr(static_cast<std::size_t>(p)))) {
                        ShortenPath();
                    } else {
                        path_kept_ = 0;
                    }
                    state = State::kPath;
                    --p;
                }
            } else {
                state = State::kPath;
                --p;
            }
            break;

        case State::kFileSlash:
            if (c == '/' || c == '\\') {
                state = State::kFileHost;
                mark = p + 1;
                break;
            }
            if (base && base->kind_ == Kind::kFile) {
                take_authority(*base);
                if (!StartsWithWindowsDriveLetter(input.substr(static_cast<std::size_t>(p))) &&
                    FirstSegmentIsDriveLetter(base->path_)) {
                    path_.append(base->path_, 0, 3);
                }
            }
            state = State::kPath;
            --p;
            break;

        case State::kFileHost:
            if (c == kEof || c == '/' || c == '\\' || c == '?' || c == '#') {
                const std::string_view buffer(s + mark, static_cast<std::size_t>(p - mark));
                --p;
                if (IsWindowsDriveLetter(buffer)) {
                    // Not a host but the path's first segment, which the
                    // path state goes on with.
                    path_ += '/';
                    segment = static_cast<std::ptrdiff_t>(path_.size());
                    path_.append(buffer);
                    state = State::kPath;
                } else if (buffer.empty()) {
                    host_.clear();
                    has_host_ = true;
                    state = State::kPathStart;
                } else {
                    if (!ParseHost(buffer, false)) return false;
                    if (host_ == "localhost") host_.clear();
                    has_host_ = true;
                    state = State::kPathStart;
                }
            }
            break;

        case State::kPathStart:
            if (special) {
                state = State::kPath;
                if (c != '/' && c != '\\') --p;
            } else if (c == '?') {
                has_query_ = true;
                state = State::kQuery;
            } else if (c == '#') {
                has_fragment_ = true;
                state = State::kFragment;
            } else if (c != kEof) {
                state = State::kPath;
                if (c != '/') --p;
            }
            break;

        case State::kPath: {
            if (segment < 0) {
                path_ += '/';
                segment = static_cast<std::ptrdiff_t>(path_.size());
            }
            // The segment runs up to the next '/' ('\' too in a special
            // URL), '?' or '#'.
            p += static_cast<std::ptrdiff_t>(AppendEncoded(path_, input.substr(static_cast<std::size_t>(p)), kPathSet,
                                                           kSlash | kQuestion | kHash | (special ? kBackslash : 0)));
            const int d = at(p);
            const bool slash = d == '/' || (special && d == '\\');
            const std::string_view read(path_.data() + segment, path_.size() - static_cast<std::size_t>(segment));
            if (IsDoubleDot(read)) {
                path_.resize(static_cast<std::size_t>(segment - 1));
                ShortenPath();
                if (!slash) path_ += '/';
            } else if (IsSingleDot(read)) {
                path_.resize(static_cast<std::size_t>(segment - 1));
                if (!slash) path_ += '/';
            } else if (kind_ == Kind::kFile && path_kept_ == 0 && segment == 1 && IsWindowsDriveLetter(read)) {
                path_[2] = ':';
            }
            segment = -1;
            if (d == '?') {
                has_query_ = true;
                state = State::kQuery;
            } else if (d == '#') {
                has_fragment_ = true;
                state = State::kFragment;
            }
            break;
        }

        case State::kOpaquePath: {
            p += static_cast<std::ptrdiff_t>(
                AppendEncoded(path_, input.substr(static_cast<std::size_t>(p)), kC0ControlSet, kQuestion | kHash));
            if (at(p) == '?') {
                has_query_ = true;
                state = State::kQuery;
            } else if (at(p) == '#') {
                has_fragment_ = true;
                state = State::kFragment;
            }
            break;
        }

        case State::kQuery: {
            p += static_cast<std::ptrdiff_t>(AppendEncoded(query_, input.substr(static_cast<std::size_t>(p)),
                                                           special ? kSpecialQuerySet : kQuerySet, kHash));
            if (at(p) == '#') {
                has_fragment_ = true;
                state = State::kFragment;
            }
            break;
        }

        case State::kFragment:
            AppendEncoded(fragment_, input.substr(static_cast<std::size_t>(p)), kFragmentSet);
            p = n;
            break;
        }
        if (p >= n) break;
        ++p;
    }
    return true;
}

// The standard's "shorten a path": drops the last segment, but keeps a file
// URL's lone drive letter. The segments of path_ are the parse's own; once
// they are gone, the base's kept go, each found by the base's index.
void Url::ShortenPath() {
    if (kind_ == Kind::kFile && path_kept_ + path_.size() == 3 &&
        FirstSegmentIsDriveLetter(path_kept_ ? from_->path_ : path_))
        return;
    if (path_.empty()) {
        if (path_kept_ > 0) path_kept_ = from_->SegmentStart(path_kept_);
        return;
    }
    const std::size_t slash = path_.rfind('/');
    if (slash != std::string::npos) path_.resize(slash);
}

// Where the last segment of path_'s first `end` bytes begins (its '/').
std::size_t Url::SegmentStart(std::size_t end) const {
    if (!slashes_made_) {
        slashes_.clear();
        for (std::size_t i = path_.find('/'); i != std::string::npos; i = path_.find('/', i + 1)) slashes_.push_back(i);
        slashes_made_ = true;
    }
    const auto after = std::lower_bound(slashes_.begin(), slashes_.end(), end);
    return after == slashes_.begin() ? 0 : *(after - 1);
}

// The standard's host parser; the host goes serialized into host_.
bool Url::ParseHost(std::string_view in, bool opaque) {
    host_.clear();
    if (!in.empty() && in[0] == '[') {
        if (in.size() < 2 || in.back() != ']') return false;
        std::uint16_t address[8];
        if (!ParseIpv6(in.substr(1, in.size() - 2), address)) return false;
        host_ += '[';
        SerializeIpv6(address, host_);
        host_ += ']';
        return true;
    }
    if (opaque) {
        for (const char ch : in) {
            if (Is(static_cast<unsigned char>(ch), kForbiddenHost)) return false;
        }
        AppendEncoded(host_, in, kC0ControlSet);
        return true;
    }
    std::string_view domain = in;
    if (in.find('%') != std::string_view::npos) {
        decoded_.clear();
        for (std::size_t i = 0; i < in.size(); ++i) {
            int high, low;
            if (in[i] == '%' && i + 2 < in.size() && (high = HexValue(static_cast<unsigned char>(in[i + 1]))) >= 0 &&
                (low = HexValue(static_cast<unsigned char>(in[i + 2]))) >= 0) {
                decoded_ += static_cast<char>(high * 16 + low);
                i += 2;
            } else {
                decoded_ += in[i];
            }
        }
        domain = decoded_;
    }
    if (!DomainToAscii(domain)) return false;
    if (host_.empty()) return false;
    for (const char ch : host_) {
        if (Is(static_cast<unsigned char>(ch), kForbiddenDomain)) return false;
    }
    if (EndsInNumber(host_)) {
        std::uint32_t address;
        if (!ParseIpv4(host_, address)) return false;
        host_.clear();
        SerializeIpv4(address, host_);
    }
    return true;
}

namespace {

#define TALVERON_NAME_OF(f) TALVERON_NAME_OF_(f)
#define TALVERON_NAME_OF_(f) #f

// ICU's UTS #46, loaded at the first domain that needs it: most runs never
// do, and linked, it would cost every run 2 MB and a few milliseconds at
// its start. The library is the one the build found (its file name,
// TALVERON_ICU_LIBRARY, as pkg-config's icu-uc named it), its functions
// go by that version's names, as its header spells them. What ICU cannot
// do that is not the domain's fault (the library is missing, memory, its
// data) is thrown: such a domain is not "no address". A load that failed is
// tried again at the next domain.
struct Icu {
    void* library = nullptr;
    decltype(&uidna_nameToASCII_UTF8) nameToAscii = nullptr;
    UIDNA* uts46 = nullptr;
};

[[noreturn]] void ThrowIcuFailure(const char* call, UErrorCode status, void* library) {
    if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
    auto name = reinterpret_cast<decltype(&u_errorName)>(dlsym(library, TALVERON_NAME_OF(u_errorName)));
    ThrowConversionError(std::string("ICU's ") + call + " failed (" +
                         (name ? name(status) : "error " + std::to_string(static_cast<int>(status))) + ")");
}

const Icu& LoadIcu() {
    static const Icu icu = [] {
        Icu loaded;
        void* const library = loaded.library = dlopen(TALVERON_ICU_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!library) ThrowConversionError(dlerror());
        auto open = reinterpret_cast<decltype(&uidna_openUTS46)>(dlsym(library, TALVERON_NAME_OF(uidna_openUTS46)));
        loaded.nameToAscii = reinterpret_cast<decltype(&uidna_nameToASCII_UTF8)>(
            dlsym(library, TALVERON_NAME_OF(uidna_nameToASCII_UTF8)));
        if (!open || !loaded.nameToAscii)
            ThrowConversionError(TALVERON_ICU_LIBRARY " lacks " TALVERON_NAME_OF(uidna_openUTS46) " or " TALVERON_NAME_OF(
                uidna_nameToASCII_UTF8));
        UErrorCode status = U_ZERO_ERROR;
        loaded.uts46 = open(UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ, &status);
        if (U_FAILURE(status)) ThrowIcuFailure("uidna_openUTS46", status, library);
        return loaded;
    }();
    return icu;
}

// UTS #46 ToASCII as the standard asks for it (non-transitional, CheckBidi
// and CheckJoiners; no STD3 rules, CheckHyphens and VerifyDnsLength off), by
// ICU, whose processing browsers use: its errors for hyphens, empty labels
// and lengths are the checks the standard leaves off.
bool Uts46ToAscii(std::string_view domain, std::string& out) {
    const Icu& icu = LoadIcu();
    if (domain.size() > 0x7FFFFFFF / 4) return false;
    constexpr std::uint32_t kLeftOff = UIDNA_ERROR_EMPTY_LABEL | UIDNA_ERROR_LABEL_TOO_LONG |
                                       UIDNA_ERROR_DOMAIN_NAME_TOO_LONG | UIDNA_ERROR_LEADING_HYPHEN |
                                       UIDNA_ERROR_TRAILING_HYPHEN | UIDNA_ERROR_HYPHEN_3_4;
    out.resize(domain.size() * 4 + 64);
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        UIDNAInfo info = UIDNA_INFO_INITIALIZER;
        int32_t length = icu.nameToAscii(icu.uts46, domain.data(), static_cast<int32_t>(domain.size()), &out[0],
                                         static_cast<int32_t>(out.size()), &info, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(static_cast<std::size_t>(length));
            continue;
        }
        // The domain's own errors are in info.errors; a failed call is ICU's.
        if (U_FAILURE(status)) ThrowIcuFailure("uidna_nameToASCII_UTF8", status, icu.library);
        if (info.errors & ~kLeftOff) return false;
        out.resize(static_cast<std::size_t>(length));
        return true;
    }
}

}  // namespace

// The standard's domain to ASCII (not strict) into host_. An ASCII domain
// without "xn--" labels only needs lower-casing, which is all UTS #46 does
// to it with the standard's options; any other goes through ICU.
bool Url::DomainToAscii(std::string_view domain) {
    host_.clear();
    host_.resize(domain.size());
    bool simple = true, label_start = true;
    for (std::size_t i = 0; i < domain.size() && simple; ++i) {
        const char ch = domain[i];
        simple = static_cast<unsigned char>(ch) < 0x80 && !(label_start && StartsWithAcePrefix(domain.substr(i)));
        host_[i] = Lower(ch);
        label_start = ch == '.';
    }
    if (simple) return true;
    host_.clear();
    if (!IsValidUtf8(domain)) return false;  // decoded, U+FFFD, which UTS #46 disallows
    return Uts46ToAscii(domain, host_);
}

// The length of the href, the base's components counted where they are
// to be taken.
std::size_t Url::HrefSize() const {
    const Url& authority = from_authority_ ? *from_ : *this;
    const std::string& scheme = from_scheme_ ? from_->scheme_ : scheme_;
    const std::size_t path = path_kept_ + path_.size();
    auto path_at = [&](std::size_t i) { return i < path_kept_ ? from_->path_[i] : path_[i - path_kept_]; };
    std::size_t size = scheme.size() + 1 + path;
    if (has_host_) {
        size += 2 + authority.host_.size();
        if (!authority.username_.empty() || !authority.password_.empty())
            size += authority.username_.size() +
                    (authority.password_.empty() ? 0 : 1 + authority.password_.size()) + 1;
        if (port_ >= 0) size += 1 + (port_ >= 10000 ? 5 : port_ >= 1000 ? 4 : port_ >= 100 ? 3 : port_ >= 10 ? 2 : 1);
    }
    // Without "/." a path whose first segment is empty would read as a host.
    if (!has_host_ && !opaque_path_ && path > 1 && path_at(0) == '/' && path_at(1) == '/') size += 2;
    if (has_query_) size += 1 + (from_query_ ? from_->query_ : query_).size();
    if (has_fragment_) size += 1 + fragment_.size();
    return size;
}

// The components the parse takes from its base, into its own.
void Url::TakeFromBase() {
    if (from_scheme_) scheme_.assign(from_->scheme_.data(), from_->scheme_.size());
    if (from_authority_) {
        username_.assign(from_->username_.data(), from_->username_.size());
        password_.assign(from_->password_.data(), from_->password_.size());
        host_.assign(from_->host_.data(), from_->host_.size());
    }
    if (path_kept_ > 0) path_.insert(0, from_->path_.data(), path_kept_);
    if (from_query_) query_.assign(from_->query_.data(), from_->query_.size());
    from_ = nullptr;
    from_scheme_ = from_authority_ = from_query_ = false;
    path_kept_ = 0;
}

void Url::Serialize() {
    // Measured first, then copied into place: one resize of href_, which has
    // room enough after the first few URLs.
    char port[8];
    std::size_t port_length = 0;
    if (port_ >= 0) {
        for (unsigned n = static_cast<unsigned>(port_);; n /= 10) {
            port[sizeof port - 1 - port_length++] = static_cast<char>('0' + n % 10);
            if (n < 10) break;
        }
    }
    const bool credentials = !username_.empty() || !password_.empty();
    const bool guard = !has_host_ && !opaque_path_ && path_.size() > 1 && path_[0] == '/' && path_[1] == '/';
    href_.resize(HrefSize());
    char* out = &href_[0];
    auto put = [&out](const char* data, std::size_t length) {
        std::memcpy(out, data, length);
        out += length;
    };
    put(scheme_.data(), scheme_.size());
    *out++ = ':';
    if (has_host_) {
        put("//", 2);
        if (credentials) {
            put(username_.data(), username_.size());
            if (!password_.empty()) {
                *out++ = ':';
                put(password_.data(), password_.size());
            }
            *out++ = '@';
        }
        put(host_.data(), host_.size());
        if (port_length) {
            *out++ = ':';
            put(port + sizeof port - port_length, port_length);
        }
    }
    if (guard) put("/.", 2);
    put(path_.data(), path_.size());
    if (has_query_) {
        *out++ = '?';
        put(query_.data(), query_.size());
    }
    if (has_fragment_) {
        *out++ = '#';
        put(fragment_.data(), fragment_.size());
    }
}
