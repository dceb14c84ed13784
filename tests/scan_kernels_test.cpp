// The scan's SIMD kernels against plain byte loops, for every kernel this CPU
// runs, on random bytes rich in the anchor's pieces; and the whole search with
// each kernel against the byte-at-a-time model.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "search/scan_kernels.h"
#include "search/searcher.h"
#include "tests/random_pages.h"
#include "tests/scan_model.h"
#include "tests/search_fixture.h"

namespace {

std::vector<ScanKernel> RunnableKernels() {
    std::vector<ScanKernel> kernels;
    ScanKernel before = CurrentScanKernel();
    for (ScanKernel k : {ScanKernel::kPlain, ScanKernel::kSse2, ScanKernel::kAvx2})
        if (SelectScanKernel(k)) kernels.push_back(k);
    SelectScanKernel(before);
    return kernels;
}

const char* Name(ScanKernel k) { return k == ScanKernel::kAvx2 ? "avx2" : k == ScanKernel::kSse2 ? "sse2" : "plain"; }

// Selects `kernel` and tells whether the calls now really go to it.
bool Use(ScanKernel kernel) { return SelectScanKernel(kernel) && CurrentScanKernel() == kernel; }

// Restores the best kernel when a test ends.
class KernelTest : public ::testing::Test {
protected:
    void TearDown() override { SelectScanKernel(BestScanKernel()); }
};

bool Opening(const unsigned char* p, const char* opening = "<a href=\"http://") {
    for (int i = 0; opening[i]; ++i) {
        int c = p[i] >= 'A' && p[i] <= 'Z' ? p[i] + 32 : p[i];
        if (c != opening[i]) return false;
    }
    return true;
}

// Random bytes drawn mostly from those the kernels look at.
std::string RandomBytes(std::mt19937& rng, std::size_t n) {
    static const char kPieces[] = "<<aA \"\"hH:0/\x00\x01zp";
    static const char* const kWords[] = {"<a href=\"http://", "<A HREF=\"HTTP://", "<a href=\"https://",
                                         "<<a href=\"http://", "<A HREF=\"HTTPS://", "<a href=\"https:/x"};
    std::string s;
    while (s.size() < n) {
        if (rng() % 8 == 0)
            s += kWords[rng() % 6];
        else
            s += kPieces[rng() % (sizeof kPieces - 1)];
    }
    s.resize(n);
    return s;
}

// The CPU's best kernel is the one the first search takes, and those above it
// are refused. Where the tests run on an emulated CPU, TALVERON_EXPECT_KERNEL
// says which kernel must be its best (plain, sse2 or avx2).
TEST_F(KernelTest, BestKernelIsTakenAndNoneAboveIt) {
    ScanKernel best = BestScanKernel();
    if (const char* expected = std::getenv("TALVERON_EXPECT_KERNEL")) {
        EXPECT_STREQ(Name(best), expected);
    }
    EXPECT_EQ(CurrentScanKernel(), best);
    ScanKernel inUse = best;
    for (ScanKernel k : {ScanKernel::kPlain, ScanKernel::kSse2, ScanKernel::kAvx2}) {
        bool taken = SelectScanKernel(k);
        EXPECT_EQ(taken, k <= best) << Name(k);
        if (taken) inUse = k;
        EXPECT_EQ(CurrentScanKernel(), inUse) << Name(k);  // a refused one changes nothing
    }
}

TEST_F(KernelTest, FindAnchorOrRunAgreesWithByteLoop) {
    std::mt19937 rng(99);
    for (ScanKernel kernel : RunnableKernels()) {
        ASSERT_TRUE(Use(kernel)) << Name(kernel);
        for (int round = 0; round < 3000; ++round) {
            std::size_t n = 1 + rng() % 200;
            std::string bytes = RandomBytes(rng, n + kKernelLookahead);
            auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
            std::size_t from = rng() % n;
            // The http opening; both; the http opening, the https ones
            // passed over counted.
            for (int openings : {0, 1, 2}) {
                const unsigned char* expected = nullptr;
                long long passed = 0;
                for (std::size_t i = from; i < n && !expected; ++i) {
                    if (data[i] != '<') continue;
                    bool https = Opening(data + i, "<a href=\"https://");
                    if (data[i + 1] == '<' || Opening(data + i) || (openings == 1 && https))
                        expected = data + i;
                    else if (openings == 2 && https)
                        ++passed;
                }
                long long counted = 0;
                const unsigned char* found =
                    openings == 2 ? CurrentScanKernels().findAnchorOrRunCountingHttps(data + from, data + n, &counted)
                                  : FindAnchorOrRun(data + from, data + n, openings == 1);
                ASSERT_EQ(found, expected) << Name(kernel) << " round " << round << " openings " << openings;
                ASSERT_EQ(counted, passed) << Name(kernel) << " round " << round;
            }
        }
    }
}

TEST_F(KernelTest, FindAddressEndAgreesWithByteLoop) {
    std::mt19937 rng(7);
    for (ScanKernel kernel : RunnableKernels()) {
        ASSERT_TRUE(Use(kernel)) << Name(kernel);
        for (int round = 0; round < 3000; ++round) {
            std::size_t n = rng() % 150;
            std::string bytes(n + 64, 'x');
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                unsigned r = rng() % 40;
                bytes[i] = r == 0 ? '"' : r == 1 ? '\0' : static_cast<char>('a' + r % 26);
            }
            auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
            const unsigned char* quote = nullptr;
            long zero = -1;
            for (std::size_t i = 0; i < n && !quote; ++i) {
                if (data[i] == '"') quote = data + i;
                else if (data[i] == 0 && zero < 0) zero = static_cast<long>(i);
            }
            long gotZero;
            ASSERT_EQ(FindAddressEnd(data, data + n, &gotZero), quote) << Name(kernel) << " round " << round;
            ASSERT_EQ(gotZero, zero) << Name(kernel) << " round " << round;
        }
    }
}

// Each length and start, so that every kernel's blocks and its tail meet
// each kind of byte at each position; the bytes end where the string ends,
// so that a kernel reading past it is seen by the sanitizers.
TEST_F(KernelTest, FindJsonEscapeAgreesWithByteLoop) {
    std::mt19937 rng(11);
    const unsigned char odd[] = {'"', '\\', 0x00, 0x1F, 0x20, 0x7F, 0x80, 0xFF, '!', '#', '[', ']'};
    for (ScanKernel kernel : RunnableKernels()) {
        ASSERT_TRUE(Use(kernel)) << Name(kernel);
        for (int round = 0; round < 4000; ++round) {
            std::size_t n = rng() % 80;
            std::vector<unsigned char> bytes(n);
            for (auto& b : bytes) b = rng() % 8 ? static_cast<unsigned char>('a' + rng() % 26) : odd[rng() % sizeof odd];
            const unsigned char* end = bytes.data() + n;
            const unsigned char* want = bytes.data();
            while (want < end && *want >= 0x20 && *want < 0x80 && *want != '"' && *want != '\\') ++want;
            ASSERT_EQ(FindJsonEscape(bytes.data(), end), want) << Name(kernel) << " round " << round;
        }
    }
}

class KernelSearchTest : public SearchTest {
protected:
    void TearDown() override {
        SelectScanKernel(BestScanKernel());
        SearchTest::TearDown();
    }
};

TEST_F(KernelSearchTest, RunsOfLessThanSigns) {
    // Runs of every length before the opening, anywhere in small and large
    // blocks: only an odd run lets the anchor through.
    for (ScanKernel kernel : RunnableKernels()) {
        ASSERT_TRUE(Use(kernel)) << Name(kernel);
        std::vector<int> runs;
        for (int run = 1; run <= 70; ++run) runs.push_back(run);
        for (int run : {127, 128, 1000, 1001, 300000, 300001}) runs.push_back(run);
        for (int run : runs) {
            for (int lead : run > 1000 ? std::vector<int>{3} : std::vector<int>{0, 1, 30, 90}) {
                std::string page = std::string(static_cast<std::size_t>(lead), 'x') + std::string(static_cast<std::size_t>(run), '<') +
                                   "a href=\"http://r" + std::to_string(run) + ".jp\">" + std::string(60, 'y') +
                                   std::string(static_cast<std::size_t>(run), '<') + "x";
                for (unsigned int block : {64u, 100u, Searcher::kBlockSize}) {
                    SetInputBlockSize(block);
                    ModelRun expected = ModelSearch(page, "");
                    fs.files["page.html"].data = page;
                    ASSERT_EQ(Search("page.html", ""), 0);
                    ASSERT_EQ(fs.files["OUT.TXT"].data, expected.out) << Name(kernel) << " run " << run << " lead " << lead;
                    ASSERT_EQ(expected.out.empty(), run % 2 == 0);
                }
            }
        }
    }
}

TEST_F(KernelSearchTest, EveryKernelGivesTheModelsRecords) {
    std::mt19937 rng(2026);
    for (ScanKernel kernel : RunnableKernels()) {
        ASSERT_TRUE(Use(kernel)) << Name(kernel);
        for (int round = 0; round < 400; ++round) {
            std::string page = RandomPage(rng, 20 + static_cast<int>(rng() % 400));
            std::string keywords = RandomKeywords(rng);
            static const unsigned int kBlocks[] = {49, 64, 100, 257, 4096, Searcher::kBlockSize};
            SetInputBlockSize(kBlocks[rng() % 6]);
            ModelRun expected = ModelSearch(page, keywords);
            fs.files["page.html"].data = page;
            ASSERT_EQ(Search("page.html", keywords), 0);
            ASSERT_EQ(fs.files["OUT.TXT"].data, expected.out) << Name(kernel) << " round " << round;
            ASSERT_EQ(std::string(g_strStatus, g_strStatus.GetLength()), expected.status) << Name(kernel);
        }
    }
}

// With https anchors taken: every kernel, block ends everywhere, against
// the model with the https opening.
TEST_F(KernelSearchTest, HttpsAnchorsWithEveryKernel) {
    std::mt19937 rng(443);
    for (ScanKernel kernel : RunnableKernels()) {
        ASSERT_TRUE(Use(kernel)) << Name(kernel);
        for (int round = 0; round < 400; ++round) {
            std::string page = RandomPage(rng, 20 + static_cast<int>(rng() % 300));
            std::string keywords = RandomKeywords(rng);
            fs.files["page.html"].data = page;
            int fd = rt::_open("page.html", _O_BINARY, 0);
            GatheredRecords sink;
            Searcher searcher(sink, keywords.c_str(), false);
            searcher.SetHttps(true);
            searcher.SetBlockSize(1 + static_cast<unsigned>(rng() % 300));
            searcher.Search(fd);
            rt::_close(fd);
            std::string expected = ModelSearch(page, keywords, kReadable, true).out;
            ASSERT_EQ(sink.records, expected) << Name(kernel) << " round " << round << " "
                                              << ::testing::PrintToString(page);
        }
    }
}

}  // namespace
