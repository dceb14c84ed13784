#include "read/probe.h"

#include <strings.h>

#include <cstring>

#include "read/warc.h"


namespace {

const char* const kVersion = kWarcVersionPrefix;
constexpr std::size_t kVersionLength = sizeof kWarcVersionPrefix - 1;
// The most bytes a version line ("WARC/1.1", "WARC/0.18") may have before
// its line end.
constexpr std::size_t kVersionLineMax = 16;

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// How far `head` stands from a version line: 0 when it holds a whole one
// (at `*end`, behind it), 1 when more bytes may still make one, 2 when they
// cannot. Empty lines in front are passed over, as between records.
int VersionLine(const unsigned char* head, std::size_t length, std::size_t* end = nullptr) {
    std::size_t at = 0;
    while (at < length && (head[at] == '\r' || head[at] == '\n')) ++at;
    std::size_t k = 0;
    for (; at + k < length && k < kVersionLength; ++k)
        if (head[at + k] != static_cast<unsigned char>(kVersion[k])) return 2;
    if (k < kVersionLength) return 1;
    // Digits, a dot, digits, then the line end.
    bool dot = false, digits = false;
    for (; at + k < length; ++k) {
        unsigned char c = head[at + k];
        if (k > kVersionLineMax) return 2;
        if (IsDigit(c)) {
            digits = true;
        } else if (c == '.' && digits && !dot) {
            dot = true;
            digits = false;
        } else if (c == '\n' || (c == '\r' && at + k + 1 < length && head[at + k + 1] == '\n')) {
            if (!dot || !digits) return 2;
            if (end) *end = at + k;
            return 0;
        } else if (c == '\r' && at + k + 1 == length) {
            return 1;
        } else {
            return 2;
        }
    }
    return 1;
}

}  // namespace

Packing PackingOf(const unsigned char* head, std::size_t length) {
    auto starts = [&](const char* magic, std::size_t n) { return length >= n && std::memcmp(head, magic, n) == 0; };
    if (starts("\x1f\x8b", 2)) return Packing::kGzip;
    if (starts("\x28\xb5\x2f\xfd", 4)) return Packing::kZstd;
    if (starts("BZh", 3)) return Packing::kBzip2;
    if (starts("\xfd" "7zXZ\0", 6)) return Packing::kXz;
    return Packing::kNone;
}

bool MayBeginArchive(const unsigned char* head, std::size_t length) { return VersionLine(head, length) == 1; }

bool BeginsArchive(const unsigned char* head, std::size_t length) { return VersionLine(head, length) == 0; }

bool ReadWhole(const unsigned char* head, std::size_t length, bool decompress) {
    return BeginsArchive(head, length) || (decompress && PackingOf(head, length) != Packing::kNone);
}

namespace {

bool EndsWith(const char* name, std::size_t length, const char* suffix) {
    std::size_t n = std::strlen(suffix);
    return length > n && strncasecmp(name + length - n, suffix, n) == 0;
}

}  // namespace

NameKind KindOfName(const char* name, bool compressedToo) {
    static const char* const kPacked[] = {".gz", ".zst", ".bz2", ".xz"};
    static const struct {
        const char* suffix;
        NameKind kind;
    } kKinds[] = {{".htm", NameKind::kPage},  {".html", NameKind::kPage},  {".xhtml", NameKind::kPage},
                  {".xht", NameKind::kPage},  {".shtml", NameKind::kPage}, {".warc", NameKind::kArchive}};
    std::size_t length = std::strlen(name);
    if (compressedToo) {
        for (const char* packed : kPacked) {
            if (EndsWith(name, length, packed)) {
                length -= std::strlen(packed);
                break;
            }
        }
    }
    for (const auto& kind : kKinds)
        if (EndsWith(name, length, kind.suffix)) return kind.kind;
    return NameKind::kOther;
}
