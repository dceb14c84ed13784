// talveron -j: whatever the threads, and whether a large file is searched
// in parts, a run writes what -j1 writes, byte for byte, in every stream.
#include <random>
#include <sstream>

#include "tests/host_fixture.h"
#include "tests/random_pages.h"

namespace {

// Standard error without the summary's time and throughput, which no two
// runs share.
std::string Untimed(const std::string& err) {
    std::string kept;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);)
        if (line.find("talveron: elapsed") != 0 && line.find("talveron: throughput") != 0) kept += line + "\n";
    return kept;
}

class HostThreadsTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        Shell("mkdir d");
        std::mt19937 rng(15);
        for (int i = 0; i < 30; ++i) Write("d/p" + std::to_string(100 + i) + ".html", RandomPage(rng, 1 + rng() % 50));
        // Large enough to be searched in three parts, with tricky pieces
        // everywhere between dense anchors.
        std::string large;
        while (large.size() < (13u << 20)) large += RandomPage(rng, 40) + ManyAnchors(200);
        Write("d/p115-large.html", large);
        Write("d/p116-none.html", "no anchors here");
    }
};

TEST_F(HostThreadsTest, EveryStreamAsOneThreadWritesIt) {
    const std::vector<std::vector<std::string>> runs = {
        {"d", "missing.html", "d"},
        {"-c", "d"},
        {"-l", "d"},
        {"-L", "d"},
        {"-h", "--crlf", "-x", "s1", "-x", "t2", "d"},
        {"-x", "s1", "--rejected=/dev/stdout", "d"},
        {"-x", "s1", "--rejected=rejected.txt", "--messages", "d"},
        {"-q", "d"},
        // Each input's count, name or message right behind its own dropped
        // addresses, as one input after the other tells them.
        {"-c", "-x", "s1", "--rejected=/dev/stdout", "d"},
        {"-L", "--rejected=/dev/stdout", "d"},
        {"--messages", "-x", "t2", "--rejected=/dev/stderr", "d"},
        {"-q", "--stats", "-x", "s1", "--rejected=rejected.txt", "d"},
    };
    for (const auto& args : runs) {
        std::vector<std::string> one = args, many = args;
        one.insert(one.begin(), "-j1");
        many.insert(many.begin(), "-j3");
        HostRun expected = Host(one);
        std::string expectedRejected = Read("rejected.txt");
        HostRun got = Host(many);
        std::string what = ::testing::PrintToString(args);
        EXPECT_EQ(got.status, expected.status) << what;
        EXPECT_TRUE(got.out == expected.out) << what << ": " << got.out.size() << " bytes, not " << expected.out.size();
        EXPECT_TRUE(Untimed(got.err) == Untimed(expected.err))
            << what << ": standard error differs (" << got.err.size() << " bytes, not " << expected.err.size() << ")";
        EXPECT_TRUE(Read("rejected.txt") == expectedRejected) << what;
    }
}

}  // namespace
