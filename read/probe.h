// What an input is: told once, by its first bytes (a page, a compressed
// stream of some format, a web archive), and for a walk by its name.
#ifndef TALVERON_READ_PROBE_H
#define TALVERON_READ_PROBE_H

#include <cstddef>

#include "read/unpack.h"

// The bytes that tell what an input is, at most: empty lines in front of an
// archive's version line may take some.
constexpr std::size_t kProbeHead = 4096;

// The compression that the first bytes of an input tell (kNone for
// anything else, or fewer bytes than a magic number).
Packing PackingOf(const unsigned char* head, std::size_t length);

// Whether `head` (the first `length` bytes of an input, or of its
// decompressed stream) may still begin a web archive when more bytes come:
// a reader of a terminal or a pipe reads on only while it may.
bool MayBeginArchive(const unsigned char* head, std::size_t length);
// Whether they begin one: after any empty lines, a version line ("WARC/",
// digits, a dot, digits, a line end). A version the reader cannot read is
// said by it, record by record.
bool BeginsArchive(const unsigned char* head, std::size_t length);

// Whether the first bytes of a regular file tell that it is read whole
// (compressed, with `decompress`, or a web archive), never in parts.
bool ReadWhole(const unsigned char* head, std::size_t length, bool decompress);

// What a file's name tells: a page (*.htm, *.html, *.xhtml, *.xht,
// *.shtml) or a web archive (*.warc), any case; with `compressedToo`
// either followed by .gz, .zst, .bz2 or .xz.
enum class NameKind { kOther, kPage, kArchive };
NameKind KindOfName(const char* name, bool compressedToo);

#endif
