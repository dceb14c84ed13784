// The search against the byte-at-a-time model: the same OUT.TXT, messages,
// status and keyword slots on random pages, and on real ones when
// TALVERON_PAGES_DIR names a folder of them, with block boundaries
// everywhere, long addresses and failing reads.
#include <random>

#include "tests/random_pages.h"
#include "tests/scan_model.h"
#include "tests/search_fixture.h"

namespace {

const unsigned int kBlockSizes[] = {1, 2, 3, 5, 13, 14, 15, 16, 17, 31, 257, Searcher::kBlockSize};

class SamenessTest : public SearchTest {
protected:
    // Runs the search and the model on one page and compares all they leave.
    void Compare(const std::string& page, const std::string& keywords, unsigned int block,
                 std::size_t unreadableFrom = kReadable) {
        ModelRun expected = ModelSearch(page, keywords, unreadableFrom);
        fs.files["page.html"].data = page;
        fs.files["page.html"].unreadableFrom = unreadableFrom;
        fs.messages.clear();
        SetInputBlockSize(block);
        ASSERT_EQ(Search("page.html", keywords), 0);
        std::vector<ModelMessage> got;
        for (std::size_t i = 1; i < fs.messages.size(); ++i)
            got.push_back({fs.messages[i].text, fs.messages[i].caption});
        ASSERT_EQ(fs.files["OUT.TXT"].data, expected.out)
            << "block " << block << " unreadable " << unreadableFrom << " page " << ::testing::PrintToString(page)
            << " keywords " << ::testing::PrintToString(keywords);
        ASSERT_EQ(got, expected.messages) << "block " << block;
        ASSERT_EQ(std::string(g_strStatus, g_strStatus.GetLength()), expected.status) << "block " << block;
        for (int slot = 0; slot < 6; ++slot)
            ASSERT_EQ(std::string(g_strKeyword[slot], g_strKeyword[slot].GetLength()), expected.keywords[slot]);
        ASSERT_EQ(fs.OpenDescriptors(), 0);
    }
};

TEST_F(SamenessTest, RandomPages) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 4000; ++round) {
        std::string page = RandomPage(rng, 1 + static_cast<int>(rng() % 60));
        std::string keywords = RandomKeywords(rng);
        unsigned int block = kBlockSizes[rng() % std::size(kBlockSizes)];
        Compare(page, keywords, block);
        if (HasFatalFailure()) return;
    }
}

TEST_F(SamenessTest, FailingReadsAnywhere) {
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        std::string page = RandomPage(rng, 5 + static_cast<int>(rng() % 40));
        std::size_t unreadable = rng() % page.size();
        Compare(page, "", kBlockSizes[rng() % std::size(kBlockSizes)], unreadable);
        if (HasFatalFailure()) return;
    }
}

TEST_F(SamenessTest, LongAddressesKeepOnlyWhatCanReachARecord) {
    // Addresses around the 499-byte limit and far beyond it, with a 0 byte at
    // or near the limit and every kind of ending: the search keeps only their
    // start, the model keeps all of them.
    const std::size_t lengths[] = {480, 490, 491, 492, 493, 494, 495, 496, 497, 498, 499, 500, 501, 502, 510, 4000};
    const char* const endings[] = {"", ".html", ".htm", "/", "x"};
    for (std::size_t length : lengths) {
        for (const char* ending : endings) {
            for (long zeroAt : {-1L, 0L, 480L, 490L, 491L, 492L, 493L, 494L, 499L, 500L, 3000L}) {
                std::string address(length, 'q');
                if (zeroAt >= 0 && static_cast<std::size_t>(zeroAt) < length) address[zeroAt] = '\0';
                address += ending;
                std::string page = "<a href=\"http://" + address + "\"><a href=\"http://after.jp\">";
                for (unsigned int block : {7u, Searcher::kBlockSize}) {
                    Compare(page, "", block);
                    if (HasFatalFailure()) return;
                }
            }
        }
    }
}

TEST_F(SamenessTest, RealPages) {
    if (RealPagesDir().empty()) GTEST_SKIP() << kRealPagesHint;
    std::vector<std::string> names = RealPageNames();
    ASSERT_FALSE(names.empty()) << "no .html pages in TALVERON_PAGES_DIR=" << RealPagesDir();
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::string page = ReadRealPage(name);
        for (unsigned int block : {16u, 4093u, Searcher::kBlockSize}) {
            Compare(page, block == 16 ? "www google" : "", block);
            if (HasFatalFailure()) return;
        }
    }
}

}  // namespace
