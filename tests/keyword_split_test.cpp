// Splitting the keyword line into the six slots.
#include <array>

#include "tests/search_fixture.h"

namespace {

struct SplitCase {
    const char* name;
    std::string line;
    std::array<const char*, 6> slots;
};

const SplitCase kSplitCases[] = {
    {"Empty", "", {"", "", "", "", "", ""}},
    {"TwoWords", "abc def", {"abc", "def", "", "", "", ""}},
    {"LeadingSpace", " abc", {"", "abc", "", "", "", ""}},
    {"DoubledSpace", "abc  def", {"abc", "", "def", "", "", ""}},
    {"SevenWords", "1 2 3 4 5 6 7 8", {"1", "2", "3", "4", "5", "6"}},
    {"SpacesUseUpSlots", "a      b", {"a", "", "", "", "", ""}},
    {"TrailingSpace", "abc ", {"abc", "", "", "", "", ""}},
    {"TabDoesNotSeparate", "a\tb", {"a\tb", "", "", "", "", ""}},
    {"CrLfAreKeywordBytes", "a\r\nb c", {"a\r\nb", "c", "", "", "", ""}},
    {"IdeographicSpaceDoesNotSeparate", "\x82\xa0\x81\x40\x82\xa2 x", {"\x82\xa0\x81\x40\x82\xa2", "x", "", "", "", ""}},
    {"StopsAtZeroByte", std::string("ab\0 cd", 6), {"ab", "", "", "", "", ""}},
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class Split : public SearchTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(Split, FillsSlots) {
    const SplitCase& c = GetParam();
    g_strKeyword[2] = "left over from the last search";
    fs.files["page.html"].data = "";
    EXPECT_EQ(Search("page.html", c.line), 0);
    for (int slot = 0; slot < 6; ++slot) EXPECT_EQ(g_strKeyword[slot], c.slots[slot]) << "slot " << slot + 1;
}

INSTANTIATE_TEST_SUITE_P(Cases, Split, ::testing::ValuesIn(kSplitCases),
                         [](const ::testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

TEST_F(SearchTest, LineOverCapacityIsCutTo255Bytes) {
    fs.files["page.html"].data = "";
    for (std::size_t extra : {0, 1, 2, 100}) {
        // 250 bytes, a space, then more: the first 255 bytes end 4 bytes into the second word.
        std::string line = std::string(250, 'k') + " abcd" + std::string(extra, 'e') + " z";
        EXPECT_EQ(Search("page.html", line), 0);
        EXPECT_EQ(g_strKeyword[0].GetLength(), 250);
        EXPECT_EQ(g_strKeyword[1], "abcd") << extra;
        EXPECT_TRUE(g_strKeyword[2].IsEmpty()) << extra;
    }
    // A keyword that the cut shortens still filters by its kept part.
    std::string line = std::string(254, ' ') + "abcdef";
    EXPECT_EQ(Harvest("<a href=\"http://abc.jp\"><a href=\"http://xyz.jp\">", line),
              "http://abc.jp/\r\nhttp://xyz.jp/\r\n");  // the 255th byte is a space: no keyword at all
    line = std::string(6, ' ') + std::string(248, 'q') + "abcdef";
    EXPECT_EQ(Harvest("<a href=\"http://a.jp\">", line), "http://a.jp/\r\n");
    line = std::string(253, 'q') + " " + "abcdef";
    EXPECT_EQ(Harvest("<a href=\"http://a.jp\">", line), "");  // slot 2 is "a"
}

}  // namespace
