#include "read/probe.h"

#include <strings.h>

#include <cstring>


namespace {

constexpr char kVersion[] = "WARC/1.";
constexpr std::size_t kVersionLength = sizeof kVersion - 1;

}  // namespace

Packing PackingOf(const unsigned char* head, std::size_t length) {
    auto starts = [&](const char* magic, std::size_t n) { return length >= n && std::memcmp(head, magic, n) == 0; };
    if (starts("\x1f\x8b", 2)) return Packing::kGzip;
    if (starts("\x28\xb5\x2f\xfd", 4)) return Packing::kZstd;
    if (starts("BZh", 3)) return Packing::kBzip2;
    if (starts("\xfd" "7zXZ\0", 6)) return Packing::kXz;
    return Packing::kNone;
}

bool MayBeginArchive(const unsigned char* head, std::size_t length) {
    return std::memcmp(head, kVersion, length < kVersionLength ? length : kVersionLength) == 0 && length < kProbeHead;
}

bool BeginsArchive(const unsigned char* head, std::size_t length) {
    if (length < kProbeHead - 1 || std::memcmp(head, kVersion, kVersionLength) != 0) return false;
    if (head[7] != '0' && head[7] != '1') return false;
    return head[8] == '\n' || (length >= kProbeHead && head[8] == '\r' && head[9] == '\n');
}

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
