// What one search leaves in OUT.TXT, case by case, and how it fails.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "messages/messages.h"
#include "api/export.h"
#include "lifecycle/limits.h"
#include "search/searcher.h"
#include "tests/scan_model.h"
#include "tests/search_fixture.h"

namespace {

struct HarvestCase {
    const char* name;
    std::string page;
    std::string keywords;
    std::string out;
};

std::string S(const char* bytes, std::size_t n) { return std::string(bytes, n); }

const HarvestCase kHarvestCases[] = {
    // Recognition.
    {"CapitalsAndMixedCase", "<A HREF=\"HTTP://Ex.org/\"> <a HrEf=\"hTtP://b.jp/\">", "",
     "http://Ex.org/\r\nhttp://b.jp/\r\n"},
    {"SingleQuote", "<a href='http://x.jp'>", "", ""},
    {"TwoSpacesBeforeHref", "<a  href=\"http://x.jp\">", "", ""},
    {"SpacesAroundEquals", "<a href = \"http://x.jp\">", "", ""},
    {"AttributeBeforeHref", "<a class=\"c\" href=\"http://x.jp\">", "", ""},
    {"LineBreakAfterA", "<a\nhref=\"http://x.jp\">", "", ""},
    {"Https", "<a href=\"https://x.jp\">", "", ""},
    {"Ftp", "<a href=\"ftp://x.jp\">", "", ""},
    {"LessThanDirectlyInFrontHidesAnchor", "<<a href=\"http://x.jp\">", "", ""},
    {"ThreeLessThansFindAnchor", "<<<a href=\"http://x.jp\">", "", "http://x.jp/\r\n"},
    {"LessThanThenOneByte", "<?<a href=\"http://x.jp\">", "", "http://x.jp/\r\n"},
    {"FailedCompareInsideTheFifteenBytes", "<a href=\"http:<a href=\"http://y.jp\">", "", "http://y.jp/\r\n"},
    {"AnchorRightBehindClosingQuote", "<a href=\"http://a.jp\"<a href=\"http://b.jp\">", "",
     "http://a.jp/\r\nhttp://b.jp/\r\n"},
    {"NoLessThan", "plain text, no tags", "", ""},
    {"Empty", "", "", ""},
    {"LessThanNearEnd", "xx<a href=\"http:/", "", ""},
    {"PatternIsLastSixteenBytes", "<a href=\"http://", "", ""},
    {"ZeroBytesAroundAnchor", S("\0<a href=\"http://x.jp\">\0", 24), "", "http://x.jp/\r\n"},
    {"ShiftJisBetweenAnchors", "\x83\x41\x83\x68<a href=\"http://x.jp\">\x95\x5c<A HREF=\"http://y.jp\">", "",
     "http://x.jp/\r\nhttp://y.jp/\r\n"},
    // Capture and the ending rules.
    {"QuoteRightBehindScheme", "<a href=\"http://\">", "", "http://\r\n"},
    {"EndingsKeptAsTheyAre", "<a href=\"http://a.jp/x.HTML\"><a href=\"http://a.jp/x.Html\"><a href=\"http://a.jp/x.HTM\">",
     "", "http://a.jp/x.HTML\r\nhttp://a.jp/x.Html\r\nhttp://a.jp/x.HTM\r\n"},
    {"EndingsThatGetASlash",
     "<a href=\"http://a.jp\"><a href=\"http://a.jp/x.shtml\"><a href=\"http://a.jp/x.jpg\">"
     "<a href=\"http://a.jp/x.php\"><a href=\"http://a.jp/?x=1\"><a href=\"http://a.jp/x.html?x=1\">",
     "",
     "http://a.jp/\r\nhttp://a.jp/x.shtml/\r\nhttp://a.jp/x.jpg/\r\nhttp://a.jp/x.php/\r\n"
     "http://a.jp/?x=1/\r\nhttp://a.jp/x.html?x=1/\r\n"},
    {"AddressOverLineEnd", "<a href=\"http://a.jp/x\r\ny.html\">", "", "http://a.jp/xy.html\r\n"},
    {"AddressSwallowsLaterAnchor", "<a href=\"http://a.jp>text<a href=\"http://b.jp\">", "",
     "http://a.jp>text<a href=/\r\n"},
    {"UnterminatedAddressDropped", "<a href=\"http://a.jp\"> <a href=\"http://never.closes/", "", "http://a.jp/\r\n"},
    {"QuoteIsLastByte", "<a href=\"http://a.jp\"", "", "http://a.jp/\r\n"},
    {"ZeroByteBeforeHtmlEnding", S("<a href=\"http://a.jp\0x.html\">", 29), "", "http://a.jp\r\n"},
    {"ZeroByteBeforeSlashEnding", S("<a href=\"http://a.jp\0x/\">", 25), "", "http://a.jp\r\n"},
    {"ZeroByteAfterSlash", S("<a href=\"http://a.jp/\0x\">", 25), "", "http://a.jp/\r\n"},
    // Filter and record.
    {"KeywordExcludes", "<a href=\"http://abc.jp\"><a href=\"http://ABC.jp\"><a href=\"http://x.jp\">", "abc",
     "http://ABC.jp/\r\nhttp://x.jp/\r\n"},
    {"KeywordInLaterSlot", "<a href=\"http://abc.jp\"><a href=\"http://x.jp\">", "  q  abc", "http://x.jp/\r\n"},
    {"KeywordSeesTheAddedSlash", "<a href=\"http://a.jp\"><a href=\"http://b.jp.html\">", "jp/",
     "http://b.jp.html\r\n"},
    {"KeywordAcrossTabDoesNotMatch", "<a href=\"http://x\ty.jp\">", "xy", "http://xy.jp/\r\n"},
    {"KeywordWithTabMatchesBeforeStrip", "<a href=\"http://x\ty.jp\">", "x\ty", ""},
    {"ControlBytesStripped", "<a href=\"http://a\x01\x1a\x7f\tb.jp\">", "", "http://ab.jp/\r\n"},
    {"ShiftJisInAddress", "<a href=\"http://a.jp/\x95\x5c\x83\x41.html\">", "", "http://a.jp/\\A.html\r\n"},
    {"SameAddressTwice", "<a href=\"http://a.jp\">x<a href=\"http://a.jp\">", "", "http://a.jp/\r\nhttp://a.jp/\r\n"},
};

void PrintTo(const HarvestCase& c, std::ostream* os) { *os << c.name; }

class HarvestCases : public SearchTest, public ::testing::WithParamInterface<HarvestCase> {};

TEST_P(HarvestCases, WritesExpectedRecords) {
    const HarvestCase& c = GetParam();
    EXPECT_EQ(Harvest(c.page, c.keywords), c.out);
    EXPECT_EQ(fs.OpenDescriptors(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, HarvestCases, ::testing::ValuesIn(kHarvestCases),
                         [](const ::testing::TestParamInfo<HarvestCase>& info) { return info.param.name; });

// An address of `length` bytes in all, "http://" included, ending in `ending`.
std::string Address(std::size_t length, const std::string& ending) {
    return "http://" + std::string(length - 7 - ending.size(), 'a') + ending;
}

TEST_F(SearchTest, AddressLengthLimit) {
    struct {
        std::string address;
        bool written;
    } cases[] = {
        {Address(499, ".html"), true},   // exactly 499 bytes
        {Address(500, ".html"), false},  // one too many
        {Address(498, "x"), true},       // 498 + "/" = 499
        {Address(499, "x"), false},      // 499 + "/" = 500
        {Address(499, "/"), true},
        {Address(5000, "/"), false},
    };
    for (const auto& c : cases) {
        std::string out = Harvest("<a href=\"" + c.address + "\">");
        std::string normalised = c.address + (c.address.back() == 'x' ? "/" : "");
        EXPECT_EQ(out, c.written ? normalised + "\r\n" : "") << c.address.size();
    }
    // Counted before the strip: control bytes count, and so push it over.
    EXPECT_EQ(Harvest("<a href=\"" + Address(490, "/") + std::string(10, '\t') + "\">"), "");
    // Counted up to the first 0 byte: a long tail behind it does not matter.
    std::string longTail = "http://a.jp/" + std::string(1, '\0') + std::string(100000, 'z');
    EXPECT_EQ(Harvest("<a href=\"" + longTail + "\">"), "http://a.jp/\r\n");
}

TEST_F(SearchTest, MessagesOfACompletedSearch) {
    Harvest("<a href=\"http://a.jp\">");
    ASSERT_EQ(fs.messages.size(), 1u);
    EXPECT_EQ(fs.messages[0].text, MSG_SEARCH_START);
    EXPECT_EQ(fs.messages[0].caption, CAPTION_ERROR);
    EXPECT_EQ(fs.messages[0].owner, nullptr);
    EXPECT_EQ(fs.messages[0].style, 4u);
    EXPECT_EQ(g_strStatus, STATUS_FILE_END);
}

TEST_F(SearchTest, MissingInputLeavesEmptyOutput) {
    fs.files["OUT.TXT"].data = "old records\r\n";
    EXPECT_EQ(Search("missing.html", "abc"), -1);
    ASSERT_EQ(fs.messages.size(), 2u);
    EXPECT_EQ(fs.messages[1].text, MSG_INPUT_MISSING);
    EXPECT_EQ(fs.messages[1].caption, CAPTION_THIS_IS_AN_ERROR);
    EXPECT_EQ(fs.files["OUT.TXT"].data, "");
    EXPECT_EQ(g_strStatus, MSG_INPUT_MISSING);
    EXPECT_EQ(g_strKeyword[0], "abc");  // the split comes first
    EXPECT_EQ(fs.OpenDescriptors(), 0);
}

TEST_F(SearchTest, DirectoryAsInputIsMissing) {
    fs.files["dir"].directory = true;
    EXPECT_EQ(Search("dir", ""), -1);
    ASSERT_EQ(fs.messages.size(), 2u);
    EXPECT_EQ(fs.messages[1].text, MSG_INPUT_MISSING);
}

TEST_F(SearchTest, UnopenableOutputKeepsPreviousOutput) {
    fs.files["page.html"].data = "<a href=\"http://a.jp\">";
    fs.files["OUT.TXT"].data = "old records\r\n";
    fs.files["OUT.TXT"].readOnly = true;
    EXPECT_EQ(Search("page.html", ""), -1);
    ASSERT_EQ(fs.messages.size(), 2u);
    EXPECT_EQ(fs.messages[0].text, MSG_SEARCH_START);
    EXPECT_EQ(fs.messages[1].text, MSG_OUTPUT_NOT_OPENED);
    EXPECT_EQ(fs.messages[1].caption, CAPTION_ERROR);
    EXPECT_EQ(fs.files["OUT.TXT"].data, "old records\r\n");
    EXPECT_EQ(fs.opens, 1);  // the input was never opened
    EXPECT_EQ(fs.OpenDescriptors(), 0);
}

TEST_F(SearchTest, RecordThatCannotBeWrittenLeavesEmptyLineAndGoesOn) {
    // Writes of a record's text fail, those of its line end succeed.
    fs.longWritesFail = 12;
    std::string out = Harvest("<a href=\"http://a.j\"><a href=\"http://bb.jp\"><a href=\"http://c.j\">");
    EXPECT_EQ(out, "http://a.j/\r\n\r\nhttp://c.j/\r\n");
    ASSERT_EQ(fs.messages.size(), 2u);
    EXPECT_EQ(fs.messages[1].text, MSG_ERRNO);
    EXPECT_EQ(fs.messages[1].caption, CAPTION_ERROR);
    EXPECT_EQ(fs.messages[1].style, 4u);
}

TEST_F(SearchTest, FullDeviceKeepsRecordsThatFitAndShowsOneMessagePerRecordAfter) {
    std::string page;
    for (int i = 0; i < 4000; ++i) page += "<a href=\"http://site" + std::to_string(i) + ".jp\">";
    std::string all = Harvest(page);
    ASSERT_GT(all.size(), 70001u);  // more than the writer gathers at once
    for (std::size_t capacity : {1u, 100u, 65536u, 70000u, 70001u}) {
        SCOPED_TRACE(capacity);
        fs.messages.clear();
        fs.capacity = capacity;
        EXPECT_EQ(Harvest(page), all.substr(0, capacity));
        // A message for the record whose text the end of the device cuts, and
        // for every later one.
        std::size_t whole = std::count(all.begin(), all.begin() + static_cast<long>(capacity), '\n');
        bool textWritten = all[capacity - 1] == '\r';
        EXPECT_EQ(fs.messages.size(), 1 + 4000 - whole - (textWritten ? 1 : 0));
        fs.capacity = 0;
    }
}

TEST_F(SearchTest, WriteThatFailsOnceIsWrittenAgain) {
    fs.faultCall = FakeFiles::Call::kWrite;
    fs.faultAt = 1;
    std::string out = Harvest("<a href=\"http://a.jp\"><a href=\"http://b.jp\">");
    EXPECT_EQ(out, "http://a.jp/\r\nhttp://b.jp/\r\n");
    EXPECT_EQ(fs.messages.size(), 1u);
}

TEST_F(SearchTest, EveryFailedRecordShowsItsMessageAndErrnoIsTheStatus) {
    fs.faultCall = FakeFiles::Call::kWrite;
    fs.faultAt = 1;
    fs.faultPersists = true;
    fs.files["page.html"].data = "<a href=\"http://a.jp\"><a href=\"http://b.jp\"";
    EXPECT_EQ(Search("page.html", ""), 0);
    ASSERT_EQ(fs.messages.size(), 3u);
    EXPECT_EQ(fs.messages[2].text, MSG_ERRNO);
    // The quote of the last address was the last byte: no read came after the
    // failed write, so the status still holds errno.
    EXPECT_EQ(g_strStatus, std::to_string(ENOSPC).c_str());
}

TEST_F(SearchTest, ShortWritesCompleteEachRecord) {
    fs.maxWrite = 3;
    EXPECT_EQ(Harvest("<a href=\"http://a.jp\"><a href=\"http://b.jp/x.html\">"), "http://a.jp/\r\nhttp://b.jp/x.html\r\n");
    EXPECT_EQ(fs.messages.size(), 1u);
}

TEST_F(SearchTest, RecordsWrittenAgainAfterAFailureAreCompletedToo) {
    // After a failed large write the records are written one at a time, and
    // a write that takes part of its bytes is followed by one for the rest.
    const struct {
        unsigned int maxWrite;
        int failingWrite;
    } cases[] = {
        {3, 1},   // the first large write fails; then every write takes 3 bytes
        {13, 2},  // the first write ends between the first record's CR and LF, the next fails
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maxWrite);
        fs.messages.clear();
        fs.maxWrite = c.maxWrite;
        fs.faultCall = FakeFiles::Call::kWrite;
        fs.faultAt = c.failingWrite;
        fs.writes = 0;
        EXPECT_EQ(Harvest("<a href=\"http://a.jp\"><a href=\"http://bb.example.jp/x.html\">"),
                  "http://a.jp/\r\nhttp://bb.example.jp/x.html\r\n");
        EXPECT_EQ(fs.messages.size(), 1u);
    }
}

TEST_F(SearchTest, WritesThatTakeNothingFailEachRecordOnce) {
    // A write that returns 0 takes nothing and would take nothing again: each
    // record fails, with its message, and the search ends.
    fs.writesTakeNothing = true;
    EXPECT_EQ(Harvest("<a href=\"http://a.jp\"><a href=\"http://b.jp\"><a href=\"http://c.jp\">"), "");
    ASSERT_EQ(fs.messages.size(), 4u);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(fs.messages[i].text, MSG_ERRNO);
    EXPECT_EQ(fs.OpenDescriptors(), 0);
}

TEST_F(SearchTest, LongestRecordAtTheEndOfAFullBuffer) {
    // The writer gathers records in 64 KB and writes them out before a record
    // unless room for the longest one is left (its 500-byte buffer and CR LF).
    // After 65,034 bytes, the most that leaves that room, a 499-byte record
    // still fits; after 1 or 2 bytes more it must not be put in (at 65,036
    // its LF would lie past the end).
    auto record = [](std::size_t length, char fill) { return "http://" + std::string(length - 8, fill) + "/"; };
    for (std::size_t gathered : {65034u, 65035u, 65036u}) {
        SCOPED_TRACE(gathered);
        std::string page, expected;
        for (std::size_t used = 0; used < gathered;) {
            std::string r = record(std::min<std::size_t>(499, gathered - used - 2), static_cast<char>('a' + used % 26));
            page += "<p><a href=\"" + r + "\">";
            expected += r + "\r\n";
            used += r.size() + 2;
        }
        ASSERT_EQ(expected.size(), gathered);
        std::string last = record(499, 'z');
        ASSERT_EQ(last.size(), 499u);
        page += "<a href=\"" + last + "\"><a href=\"http://after.jp\">";
        expected += last + "\r\nhttp://after.jp/\r\n";
        EXPECT_EQ(Harvest(page), expected);
        EXPECT_EQ(ModelSearch(page, "").out, expected);
    }
}

TEST_F(SearchTest, FailedReadEndsWithFileErrorOnce) {
    std::string page = "<a href=\"http://a.jp\">" + std::string(100, 'x') + "<a href=\"http://b.jp\">";
    fs.files["page.html"].unreadableFrom = 60;
    EXPECT_EQ(Harvest(page), "http://a.jp/\r\n");
    ASSERT_EQ(fs.messages.size(), 2u);
    EXPECT_EQ(fs.messages[1].text, MSG_FILE_ERROR);
    EXPECT_EQ(fs.messages[1].caption, CAPTION_ERROR);
    EXPECT_EQ(fs.OpenDescriptors(), 0);
}

TEST_F(SearchTest, ReadsInBlocks) {
    Harvest(std::string(1 << 20, 'x'));
    EXPECT_LT(fs.reads, 40);
}

TEST_F(SearchTest, UnreadArgumentsChangeNothing) {
    fs.files["page.html"].data = "<a href=\"http://a.jp\">";
    EXPECT_EQ(Search("page.html", "", 0x7fffffff, -1), 0);
    EXPECT_EQ(fs.files["OUT.TXT"].data, "http://a.jp/\r\n");
}

TEST_F(SearchTest, SecondSearchSeesOnlyItsOwnKeywords) {
    EXPECT_EQ(Harvest("<a href=\"http://abc.jp\"><a href=\"http://def.jp\">", "abc"), "http://def.jp/\r\n");
    EXPECT_EQ(Harvest("<a href=\"http://abc.jp\"><a href=\"http://def.jp\">", " def"), "http://abc.jp/\r\n");
    EXPECT_TRUE(g_strKeyword[0].IsEmpty());
    EXPECT_EQ(g_strKeyword[1], "def");
}

// Argument strings built as a host builds them: malloc'd blocks.
char* HostString(const char* text, int refs) {
    std::size_t n = std::strlen(text);
    auto* block = static_cast<CString::Header*>(std::malloc(sizeof(CString::Header) + n + 1));
    block->refs = refs;
    block->length = static_cast<std::int32_t>(n);
    block->capacity = static_cast<std::int32_t>(n);
    std::memcpy(block + 1, text, n + 1);
    return reinterpret_cast<char*>(block + 1);
}
int Refs(char* data) { return reinterpret_cast<CString::Header*>(data)[-1].refs; }

TEST_F(SearchTest, ReleasesBothArgumentsOnEveryPath) {
    struct Thrown {};
    fs.files["page.html"].data = "<a href=\"http://a.jp\">";
    for (int path = 0; path < 4; ++path) {
        SCOPED_TRACE(path);
        fs.files["OUT.TXT"].readOnly = path == 1;
        fs.faultCall = FakeFiles::Call::kWrite;
        fs.faultAt = path == 3 ? 1 : 0;
        fs.faultPersists = true;
        // Each block holds the host's own reference and the one handed over.
        char* input = HostString(path == 2 ? "missing.html" : "page.html", 2);
        char* keywords = HostString("abc", 2);
        if (path == 3) {
            rt::SetMessageHandler([](void*, const char* text, const char*, unsigned int) -> int {
                if (std::strcmp(text, MSG_ERRNO) == 0) throw Thrown{};
                return IDYES;
            });
            EXPECT_EQ(BEGIN_SEARCH_ADD(input, keywords, 0, 0), -1);  // nothing is thrown out
            rt::SetMessageHandler(nullptr);
        } else {
            EXPECT_EQ(BEGIN_SEARCH_ADD(input, keywords, 0, 0), path == 0 ? 0 : -1);
        }
        EXPECT_EQ(Refs(input), 1);
        EXPECT_EQ(Refs(keywords), 1);
        EXPECT_EQ(fs.OpenDescriptors(), 0);
        CString::Release(input);
        CString::Release(keywords);
    }
}

TEST_F(SearchTest, StaticArgumentStringsAreNotFreed) {
    fs.files["page.html"].data = "";
    char* input = HostString("page.html", -1);
    EXPECT_EQ(BEGIN_SEARCH_ADD(input, CString::EmptyData(), 0, 0), 0);
    EXPECT_EQ(Refs(input), -1);
    EXPECT_EQ(Refs(CString::EmptyData()), -1);
    std::free(reinterpret_cast<CString::Header*>(input) - 1);
}

}  // namespace
