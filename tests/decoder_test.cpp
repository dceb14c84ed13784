// Every decoder, driven by Decoding over bytes that the formats' own
// libraries compressed: whole at any piece and room size, members and
// frames one after another, cut short, corrupt, bytes behind the end.
#include <gtest/gtest.h>

#include "read/decoder.h"
#include "tests/encoded.h"

namespace {

using Fault = Decoding::Fault;

struct Format {
    const char* name;
    std::unique_ptr<Decoder> (*make)();
    std::string (*encode)(const std::string&);
    bool members;  // members or frames may follow one another
} const kFormats[] = {
    {"isal gzip", NewIsalGzipDecoder, [](const std::string& s) { return Deflated(s); }, true},
    {"zlib gzip", [] { return NewZlibDecoder(true); }, [](const std::string& s) { return Deflated(s); }, true},
    {"raw deflate", [] { return NewZlibDecoder(false); }, [](const std::string& s) { return Deflated(s, false); }, false},
    {"zlib deflate", [] { return NewZlibDecoder(false); }, ZlibWrapped, false},
    {"zstd", NewZstdDecoder, [](const std::string& s) { return Zstd(s); }, true},
    {"bzip2", NewBzip2Decoder, Bzip2, true},
    {"xz", NewXzDecoder, Xz, true},
    {"br", NewBrotliDecoder, Brotli, false},
};

struct Decoded {
    std::string bytes;
    Fault fault;
    long long offset;
};

Decoded Decode(const Format& format, const std::string& in, std::size_t piece = 1 << 20, std::size_t room = 4096) {
    std::unique_ptr<Decoder> decoder = format.make();
    MemorySource source(in, piece);
    Decoding decoding(*decoder, source, 64 * 1024);
    std::string out, buffer(room, '\0');
    for (long n; (n = decoding.Read(reinterpret_cast<unsigned char*>(&buffer[0]), room)) > 0;) out.append(buffer, 0, n);
    return {out, decoding.Failed(), decoding.Offset()};
}

const std::string kPage = LinkPage(4000), kOther = LinkPage(300);

TEST(Decoders, WholeMembersAndCutsAtAnyPieceAndRoomSize) {
    for (const Format& f : kFormats) {
        const std::string packed = f.encode(kPage), size = std::to_string(packed.size());
        for (std::size_t piece : {1, 3, 1 << 20})
            for (std::size_t room : {1, 7, 1 << 17}) {
                Decoded got = Decode(f, packed, piece, room);
                ASSERT_EQ(got.bytes, kPage) << f.name << " " << piece << " " << room;
                ASSERT_EQ(std::to_string(got.offset) + (got.fault == Fault::kNone ? "" : " fault"), size) << f.name;
            }
        // Three back to back, the magic of each behind the first met a piece at a time.
        for (std::size_t piece : {1, 3, 1 << 20}) {
            Decoded three = Decode(f, packed + f.encode(kOther) + packed, piece);
            EXPECT_EQ(three.bytes, f.members ? kPage + kOther + kPage : kPage) << f.name << " " << piece;
            EXPECT_EQ(three.fault, f.members ? Fault::kNone : Fault::kTrailing) << f.name << " " << piece;
        }
        for (std::size_t cut : {std::size_t(1), packed.size() / 2, packed.size() - 1}) {
            Decoded got = Decode(f, packed.substr(0, cut), 5);
            EXPECT_EQ(got.fault, Fault::kCutShort) << f.name << " " << cut;
            EXPECT_EQ(got.offset, static_cast<long long>(cut)) << f.name << " " << cut;
            EXPECT_EQ(got.bytes, kPage.substr(0, got.bytes.size())) << f.name << " " << cut;
        }
    }
}

TEST(Decoders, CorruptDataPaddingAndBytesBehindTheEnd) {
    const std::string gz = Deflated(kPage), xz = Xz(kPage), bz = Bzip2(kPage), zs = Zstd(kPage, 1), junk = "<a";
    auto flip = [](std::string bytes, std::size_t at) { return bytes[at] ^= 0x55, bytes; };
    auto at = [](const std::string& s, std::size_t more = 0) { return static_cast<long long>(s.size() + more); };
    struct {
        int format;
        std::string in;
        Fault fault;
        long long offset;  // -1: any
    } const cases[] = {
        {0, flip(gz, gz.size() - 8), Fault::kCorrupt, -1},  // its CRC
        {0, gz + junk, Fault::kTrailing, at(gz)},
        {0, gz + std::string(1000, '\0'), Fault::kNone, at(gz, 1000)},
        {1, gz + std::string(3, '\0') + gz + junk, Fault::kTrailing, at(gz, 3 + gz.size())},
        {2, '\xff' + gz, Fault::kCorrupt, -1},  // a block type that does not exist
        {3, flip(ZlibWrapped(kPage), 3), Fault::kCorrupt, -1},
        {4, flip(zs, zs.size() - 1), Fault::kCorrupt, -1},  // its checksum
        {4, zs + std::string(4, '\0'), Fault::kCorrupt, -1},
        {4, std::string("\x28\xb5\x2f\xfd\x00\x90", 6) + junk, Fault::kTooBig, -1},  // a window of 256 MiB
        {5, flip(bz, 4), Fault::kCorrupt, -1},                                      // its block's magic
        {5, bz + junk, Fault::kTrailing, at(bz)},
        {6, flip(xz, xz.size() - 1), Fault::kCorrupt, -1},  // its footer's magic
        {6, xz + std::string(8, '\0') + xz, Fault::kNone, at(xz, 8 + xz.size())},
        {6, xz + std::string(3, '\0'), Fault::kCorrupt, at(xz, 3)},
        {6, xz + junk, Fault::kTrailing, at(xz)},
        {7, '\x11' + Brotli(kPage).substr(1), Fault::kCorrupt, -1},  // a window size that does not exist
    };
    for (const auto& c : cases) {
        Decoded got = Decode(kFormats[c.format], c.in);
        EXPECT_EQ(got.fault, c.fault) << &c - cases;
        EXPECT_EQ(c.offset < 0 ? -1 : got.offset, c.offset) << &c - cases;
    }
}

}  // namespace
