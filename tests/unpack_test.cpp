// A gzip file decompressed in segments on several threads gives what one
// decoder over the whole gives: the same bytes and the same complaint, with
// members cut anywhere, members hidden inside others (stored as their
// data, so that a segment begins where no member begins), corrupt bytes
// and a cut end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <string>

#include "read/byte_source.h"
#include "read/unpack.h"
#include "tests/deflated.h"

namespace {

struct Unpacked {
    std::string bytes, error;
};

Unpacked Drain(Unpacker& unpacker) {
    Unpacked out;
    unsigned char buffer[4096];
    for (long n; (n = unpacker.Read(buffer, 1 + out.bytes.size() % sizeof buffer)) > 0;)
        out.bytes.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
    unpacker.Finish(out.error);
    return out;
}

TEST(Unpack, SegmentsGiveWhatOneDecoderGives) {
    char path[] = "/tmp/talveron-unpack-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_NE(fd, -1);
    std::mt19937 rng(5);
    for (int round = 0; round < 60; ++round) {
        std::string file;
        int members = 1 + static_cast<int>(rng() % 40);
        for (int m = 0; m < members; ++m) {
            std::string text;
            std::size_t length = rng() % 4000;
            for (std::size_t k = 0; k < length; ++k) text += static_cast<char>(rng() % 4 ? 'a' + rng() % 3 : rng());
            if (rng() % 4 == 0) text += Deflated(text.substr(0, rng() % 300), true, 6);  // a member inside a stored one
            file += Deflated(text, true, rng() % 5 == 0 ? 0 : static_cast<int>(rng() % 10));
        }
        if (round % 7 == 3) file[rng() % file.size()] ^= 0x55;  // corrupt
        if (round % 7 == 5) file.resize(file.size() - 1 - rng() % 30);  // cut
        ASSERT_EQ(ftruncate(fd, 0), 0);
        ASSERT_EQ(pwrite(fd, file.data(), file.size(), 0), static_cast<ssize_t>(file.size()));

        ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
        DescriptorSource whole(fd);
        Unpacker one;
        ASSERT_TRUE(one.Start(whole, Packing::kGzip));
        Unpacked expected = Drain(one);

        for (long long segment : {1ll, 7ll, 100ll, 1000ll, static_cast<long long>(1 + rng() % file.size())}) {
            Unpacker many;
            many.SetSegmentSize(segment);
            ASSERT_TRUE(many.StartFile(fd, static_cast<long long>(file.size())));
            Unpacked got = Drain(many);
            ASSERT_EQ(got.bytes, expected.bytes) << round << " " << segment;
            ASSERT_EQ(got.error, expected.error) << round << " " << segment;
        }
    }
    close(fd);
    unlink(path);
}

}  // namespace
