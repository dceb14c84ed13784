#include "read/probe.h"

#include <strings.h>

#include <cstring>

#include "read/warc.h"

bool MayBeginArchive(const unsigned char* head, std::size_t length) {
    static const char kPrefix[] = "WARC/1.";
    return std::memcmp(head, kPrefix, length < 7 ? length : 7) == 0 && length < WarcReader::kHead;
}

bool BeginsArchive(const unsigned char* head, std::size_t length) { return WarcReader::Begins(head, length); }

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
