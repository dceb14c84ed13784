// Every call of the runtime layer failing in turn, once or from then on, over
// a generated page of many anchors: the search and the settings file end,
// show their message at most once per failure, return what they must, and
// keep what was written before the failure.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "messages/messages.h"
#include "settings/settings.h"
#include "tests/search_fixture.h"

namespace {

using Call = FakeFiles::Call;

// A page as saved pages come: Shift_JIS text and other tags between the
// anchors, addresses of every ending, some anchors in capitals. Its 1,500
// records make well over 64 KB of OUT.TXT, so that the writer makes more
// than one large write.
std::string Page() {
    static const char* const kText[] = {
        "\x83\x41\x83\x68\x83\x8c\x83\x58",      // katakana
        "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x95\xb6",  // kanji and hiragana
        "\x95\x5c\x81\x40<br>",                  // a trail byte of 0x5C, a full-width space
        "<p>plain text</p>\r\n",
    };
    static const char* const kEndings[] = {"/", ".html", "", "/index.htm", "?page=2"};
    std::string page = "<html><head><title>\x83\x8a\x83\x93\x83\x4e</title></head><body>\r\n";
    for (int i = 0; i < 1500; ++i) {
        page += kText[i % 4];
        page += i % 7 == 0 ? "<A HREF=\"HTTP://" : "<a href=\"http://";
        page += "www.site" + std::to_string(i) + ".example.co.jp/dir/" + std::to_string(i * 37 % 1000) + kEndings[i % 5];
        page += "\">";
        page += kText[(i + 1) % 4];
        page += "</a> ";
    }
    return page + "</body></html>\r\n";
}

int Count(const std::vector<RecordedMessage>& messages, const char* text) {
    int n = 0;
    for (const RecordedMessage& m : messages) n += m.text == text;
    return n;
}

bool IsRecordPrefix(const std::string& out, const std::string& full) {
    return full.compare(0, out.size(), out) == 0 && (out.empty() || out.compare(out.size() - 2, 2, "\r\n") == 0);
}

class FaultTest : public SearchTest {
protected:
    // A clean run: the output and how many calls of each kind it makes.
    void SetUp() override {
        SearchTest::SetUp();
        SetInputBlockSize(512);  // many reads
        page_ = Page();
        full_ = Harvest(page_);
        calls_[Call::kOpen] = fs.opens;
        calls_[Call::kRead] = fs.reads;
        calls_[Call::kWrite] = fs.writes;
        calls_[Call::kReadAt] = fs.readAts;
        ASSERT_GT(full_.size(), 65536u);  // more than one large write
    }
    // One search with the Nth call of `call` failing.
    int Run(Call call, int n, bool persists) {
        fs.files.erase("OUT.TXT");
        fs.messages.clear();
        fs.opens = fs.reads = fs.writes = fs.readAts = fs.closes = fs.faultsHit = 0;
        fs.faultCall = call;
        fs.faultAt = n;
        fs.faultPersists = persists;
        fs.files["page.html"].data = page_;
        return Search("page.html", "");
    }
    std::string page_, full_;
    std::map<Call, int> calls_;
};

TEST_F(FaultTest, FailedOpens) {
    for (bool persists : {false, true}) {
        EXPECT_EQ(Run(Call::kOpen, 1, persists), -1);
        EXPECT_EQ(Count(fs.messages, MSG_OUTPUT_NOT_OPENED), 1);
        EXPECT_EQ(Run(Call::kOpen, 2, persists), -1);
        EXPECT_EQ(Count(fs.messages, MSG_INPUT_MISSING), 1);
        EXPECT_EQ(fs.files["OUT.TXT"].data, "");
        EXPECT_EQ(fs.OpenDescriptors(), 0);
    }
    EXPECT_EQ(Run(Call::kOpen, 3, false), 0);
    EXPECT_EQ(fs.files["OUT.TXT"].data, full_);
}

TEST_F(FaultTest, EveryFailedReadEndsTheSearchWithOneMessage) {
    ASSERT_GT(calls_[Call::kRead], 100);
    for (bool persists : {false, true}) {
        for (int n = 1; n <= calls_[Call::kRead]; ++n) {
            SCOPED_TRACE(n);
            ASSERT_EQ(Run(Call::kRead, n, persists), 0);
            ASSERT_EQ(fs.faultsHit, 1);  // a failed read is never repeated
            ASSERT_EQ(Count(fs.messages, MSG_FILE_ERROR), 1);
            ASSERT_EQ(fs.messages.size(), 2u);
            ASSERT_TRUE(IsRecordPrefix(fs.files["OUT.TXT"].data, full_));
            ASSERT_EQ(fs.OpenDescriptors(), 0);
        }
    }
}

TEST_F(FaultTest, EveryFailedWrite) {
    for (int n = 1; n <= calls_[Call::kWrite] + 1; ++n) {
        SCOPED_TRACE(n);
        // Once: the records are written again one at a time, and all arrive.
        ASSERT_EQ(Run(Call::kWrite, n, false), 0);
        ASSERT_EQ(fs.files["OUT.TXT"].data, full_);
        ASSERT_EQ(fs.messages.size(), 1u);
        // From then on: what was written stays; every later record shows its
        // message (once), and no other message comes.
        ASSERT_EQ(Run(Call::kWrite, n, true), 0);
        const std::string& out = fs.files["OUT.TXT"].data;
        ASSERT_TRUE(IsRecordPrefix(out, full_));
        int lost = 0;
        for (std::size_t i = out.size(); i < full_.size(); ++i) lost += full_[i] == '\n';
        ASSERT_EQ(Count(fs.messages, MSG_ERRNO), lost);
        ASSERT_EQ(fs.messages.size(), 1u + lost);
        ASSERT_LE(lost, fs.faultsHit);
        ASSERT_EQ(fs.OpenDescriptors(), 0);
    }
}

TEST_F(FaultTest, TheExportReadsInOrder) {
    EXPECT_EQ(calls_[Call::kReadAt], 0);  // moves back stay inside the buffer
    EXPECT_EQ(Run(Call::kReadAt, 1, true), 0);
    EXPECT_EQ(fs.files["OUT.TXT"].data, full_);
}

TEST_F(FaultTest, SettingsLoadAndSave) {
    const char kFile[] = "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n";
    for (int n = 1; n <= 22; ++n) {
        SCOPED_TRACE(n);
        ResetModuleState();
        fs.files[SETTINGS_FILE_NAME].data = kFile;
        fs.messages.clear();
        fs.reads = fs.opens = 0;
        fs.faultCall = Call::kRead;
        fs.faultAt = n;
        fs.faultPersists = true;
        LoadSettings();
        // Lines whose bytes came before the failed read are loaded (the last
        // one cut short), later ones not; one message for the failure.
        int lines = (n - 1) / 3;
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(g_strKeyword[i], i < lines ? std::to_string(i + 1).c_str() : (i == lines && (n - 1) % 3 ? std::to_string(i + 1).c_str() : ""));
        EXPECT_EQ(Count(fs.messages, MSG_FILE_ERROR), n <= 21 ? 1 : 0);
        EXPECT_EQ(g_strStatus, MSG_SETTINGS_LOADED);
        EXPECT_EQ(fs.OpenDescriptors(), 0);
    }
    for (int n = 1; n <= 8; ++n) {
        SCOPED_TRACE(n);
        ResetModuleState();
        for (int i = 0; i < 6; ++i) g_strKeyword[i] = std::to_string(i + 1).c_str();
        g_strIniExtra = "7";
        fs.messages.clear();
        fs.writes = 0;
        fs.faultCall = Call::kWrite;
        fs.faultAt = n;
        SaveSettings();
        std::string expected = std::string(kFile).substr(0, 3 * static_cast<std::size_t>(n <= 7 ? n - 1 : 7));
        EXPECT_EQ(fs.files[SETTINGS_FILE_NAME].data, expected);
        EXPECT_EQ(Count(fs.messages, MSG_SETTINGS_SAVED), n <= 7 ? 0 : 1);
        EXPECT_EQ(fs.OpenDescriptors(), 0);
    }
}

}  // namespace
