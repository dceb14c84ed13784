// talveron -j: whatever the threads, and whether a large file is searched
// in parts, a run writes what -j1 writes, byte for byte, in every stream.
#include <algorithm>
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
        {"--stats", "d"},  // the large file's bytes, read in parts, counted once
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
    // Standard input redirected from the large file is a file like any
    // other: its parts give what one thread gives, offsets and all, and it
    // is left at its end (the cat behind reads nothing).
    for (const char* extra : {"--rejected=/dev/stdout", "--stats", "-c"}) {
        const std::string after = " && cat | wc -c; } < d/p115-large.html >stdout.txt";
        HostRun one = Host({"-j1", "-x", "s1", extra, "-"}, "{ ", after);
        HostRun many = Host({"-j3", "-x", "s1", extra, "-"}, "{ ", after);
        EXPECT_EQ(many.status, 0) << extra;
        EXPECT_TRUE(many.out == one.out) << extra << ": " << many.out.size() << " bytes, not " << one.out.size();
        EXPECT_EQ(Untimed(many.err), Untimed(one.err)) << extra;
        EXPECT_EQ(many.out.substr(many.out.size() - 2), "0\n") << extra;
    }
    // Standing past its start, it is searched from there, as a stream.
    const std::string skip = "{ head -c 100000 >/dev/null; ";
    EXPECT_EQ(Host({"-j3", "-c", "-"}, skip, "; } < d/p115-large.html >stdout.txt").out,
              Host({"-j1", "-c", "-"}, skip, "; } < d/p115-large.html >stdout.txt").out);
    std::string total = Shell("cat d/* | wc -c | tr -d ' \n'");
    for (int at = static_cast<int>(total.size()) - 3; at > 0; at -= 3) total.insert(static_cast<std::size_t>(at), ",");
    const std::string err = Host({"-j3", "--stats", "d"}).err;
    EXPECT_NE(err.find("bytes                  " + total + "\n"), std::string::npos) << total << "\n" << err;
}

TEST_F(HostThreadsTest, WithStandardErrorIntoTheRecordsADiagnosticKeepsItsPlace) {
    // Into one file (2>&1): the records of the inputs before the missing one,
    // then its diagnostic, then the records of the inputs after it.
    std::string merged[2];
    for (int run = 0; run < 2; ++run) {
        Shell(Quote(TALVERON_HOST) + (run ? " -j3" : " -j1") +
              " d/p115-large.html missing.html d/p103.html > merged.txt 2>&1");
        merged[run] = Read("merged.txt");
    }
    std::size_t at = merged[1].find("talveron: missing.html: No such file or directory\n");
    ASSERT_NE(at, std::string::npos);
    std::size_t before = merged[1].rfind('\n', at - 2) + 1;  // the line before it
    EXPECT_EQ(merged[1].compare(before, 18, "d/p115-large.html:"), 0);
    EXPECT_EQ(merged[1].find("d/p115-large.html:", at), std::string::npos);  // and none after it
    EXPECT_TRUE(merged[0] == merged[1]) << merged[0].size() << " bytes with -j1, " << merged[1].size() << " with -j3";
}

class HostMemoryTest : public HostTest {};

// The reports of inputs searched ahead of their turn are kept within the
// budget (64 MiB) by what they hold: here records whose names are 60 KB
// long, searched while the first input (a pipe held open) waits. Charged a
// few bytes each, they took some 300 MB.
TEST_F(HostMemoryTest, ReportsKeptAheadOfTheirTurnStayWithinTheBudget) {
#ifdef TALVERON_SANITIZED
    GTEST_SKIP() << "the sanitizers' own memory hides the run's";
#endif
    std::string archive;
    const std::string body = "HTTP/1.1 200 OK\r\n\r\n<a href=\"http://x.jp/\">";
    for (int i = 0; i < 1000; ++i)
        archive += "WARC/1.0\r\nWARC-Type: response\r\nWARC-Target-URI: http://u.jp/" + std::to_string(i) + "/" +
                   std::string(60000, 'u') + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                   body + "\r\n\r\n";
    Write("long.warc", archive);
    archive.clear();
    archive.shrink_to_fit();
    // The peak of the run's resident memory, read until it ends.
    std::string peak = Shell("mkfifo fifo && (sleep 3 >fifo &) && " + Quote(TALVERON_HOST) +
                             " -j2 -c fifo long.warc >counts.txt & pid=$!; peak=0; while kill -0 $pid 2>/dev/null; do "
                             "v=$(awk '/VmHWM/{print $2}' /proc/$pid/status 2>/dev/null); [ -n \"$v\" ] && peak=$v; "
                             "sleep 0.05; done; echo $peak");
    const std::string counts = Read("counts.txt");
    EXPECT_EQ(std::count(counts.begin(), counts.end(), '\n'), 1001);
    EXPECT_LT(std::stol(peak), 100L << 10) << peak << " kB";
}

// A named pipe is opened in its turn, never ahead of it: with -q the run
// ends at the first record of the page before it, and never waits for a
// writer that does not come (bounded here by timeout).
TEST_F(HostThreadsTest, ANamedPipeBehindTheFirstRecordIsNeverOpened) {
    Write("p.html", "<a href=\"http://a.jp/\">");
    Shell("mkfifo fifo");
    for (const char* threads : {"-j1", "-j3"}) {
        HostRun run = Host({threads, "-q", "p.html", "fifo"}, "timeout 20 ");
        EXPECT_EQ(run.status, 0) << threads << " " << run.err;
    }
}

}  // namespace
