// The settings file: load, save, and what each does with odd files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "help/help.h"
#include "messages/messages.h"
#include "lifecycle/module_state.h"
#include "settings/settings.h"
#include "tests/fake_files.h"

namespace {

using Values = std::array<std::string, 7>;

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ResetModuleState(); }

    void Set(const Values& values) {
        for (int i = 0; i < 6; ++i) g_strKeyword[i] = CString(values[i].data(), static_cast<int>(values[i].size()));
        g_strIniExtra = CString(values[6].data(), static_cast<int>(values[6].size()));
    }
    static std::string Text(const CString& s) { return std::string(s, s.GetLength()); }
    Values Get() const {
        Values v;
        for (int i = 0; i < 6; ++i) v[i] = Text(g_strKeyword[i]);
        v[6] = Text(g_strIniExtra);
        return v;
    }
    std::string& File() { return fs.files[SETTINGS_FILE_NAME].data; }
    int Count(const char* text) const {
        int n = 0;
        for (const RecordedMessage& m : fs.messages) n += m.text == text;
        return n;
    }

    FakeFiles fs;
};

const Values kSample = {"abc", "", "\x95\x5c\x83\x41", "a b\tc", "x.html", "jp/", "extra value"};
const Values kOld = {"o1", "o2", "o3", "o4", "o5", "o6", "o7"};

TEST_F(SettingsTest, SaveThenLoadGivesTheValuesBack) {
    Set(kSample);
    SaveSettings();
    ASSERT_EQ(fs.messages.size(), 1u);
    EXPECT_EQ(fs.messages[0].text, MSG_SETTINGS_SAVED);
    EXPECT_EQ(fs.messages[0].caption, CAPTION_OK);
    EXPECT_EQ(fs.messages[0].style, 4u);
    EXPECT_EQ(File(), "abc\r\n\r\n\x95\x5c\x83\x41\r\na b\tc\r\nx.html\r\njp/\r\nextra value\r\n");

    Set(kOld);
    fs.messages.clear();
    LoadSettings();
    EXPECT_EQ(Get(), kSample);
    // One box per byte, captioned ERROR, none at the end of the file.
    EXPECT_EQ(fs.messages.size(), File().size());
    for (std::size_t i = 0; i < File().size(); ++i) {
        EXPECT_EQ(fs.messages[i].caption, CAPTION_ERROR);
        EXPECT_EQ(fs.messages[i].text, File()[i] == '\0' ? "" : std::string(1, File()[i]));
    }
    EXPECT_EQ(g_strStatus, MSG_SETTINGS_LOADED);
    EXPECT_EQ(fs.OpenDescriptors(), 0);
}

TEST_F(SettingsTest, SevenEmptyValuesAreFourteenBytes) {
    SaveSettings();
    EXPECT_EQ(File(), "\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
    SaveSettings();  // a second save starts from an emptied file
    EXPECT_EQ(File(), "\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
}

TEST_F(SettingsTest, ValuesEndAtTheirFirstZeroByte) {
    Set({std::string("ab\0cd", 5), "", "", "", "", "", ""});
    SaveSettings();
    EXPECT_EQ(File(), "ab\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
}

struct LoadCase {
    const char* name;
    std::string file;
    Values expected;
};

const LoadCase kLoadCases[] = {
    {"BareLfAndCrInsideLine", "a\rb\nc\n", {"ab", "c", "o3", "o4", "o5", "o6", "o7"}},
    {"FewerLines", "1\r\n2\r\n", {"1", "2", "o3", "o4", "o5", "o6", "o7"}},
    {"MoreLines", "1\n2\n3\n4\n5\n6\n7\n8\n9\n", {"1", "2", "3", "4", "5", "6", "7"}},
    {"EmptyLineEmptiesValue", "\n\nz\n", {"", "", "z", "o4", "o5", "o6", "o7"}},
    {"LastLineWithoutLfIsStored", "1\n2\n3", {"1", "2", "3", "o4", "o5", "o6", "o7"}},
    {"EmptyFileChangesNothing", "", kOld},
    {"ZeroBytesDropped", std::string("a\0b\n\0\n", 6), {"ab", "", "o3", "o4", "o5", "o6", "o7"}},
    {"LastLineOfOneZeroByte", std::string("a\rb\n\0", 5), {"ab", "", "o3", "o4", "o5", "o6", "o7"}},
    {"ShiftJisAndTab", "\x82\xa0\t\x81\x40\r\n", {"\x82\xa0\t\x81\x40", "o2", "o3", "o4", "o5", "o6", "o7"}},
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class Load : public SettingsTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(Load, FillsValuesByLine) {
    Set(kOld);
    File() = GetParam().file;
    LoadSettings();
    EXPECT_EQ(Get(), GetParam().expected);
    EXPECT_EQ(fs.messages.size(), GetParam().file.size());  // one box per byte, nothing else
    EXPECT_EQ(g_strStatus, MSG_SETTINGS_LOADED);
    EXPECT_EQ(fs.OpenDescriptors(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Load, ::testing::ValuesIn(kLoadCases),
                         [](const ::testing::TestParamInfo<LoadCase>& info) { return info.param.name; });

TEST_F(SettingsTest, ValueHoldingLfMovesLaterValuesDown) {
    Set({"a", "b\nc", "d", "e", "f", "g", "h"});
    SaveSettings();
    Set(kOld);
    LoadSettings();
    EXPECT_EQ(Get(), (Values{"a", "b", "c", "d", "e", "f", "g"}));  // "h" went to line 8
}

TEST_F(SettingsTest, MissingOrReadOnlyFileIsNotLoaded) {
    for (bool exists : {false, true}) {
        fs.messages.clear();
        if (exists) {
            File() = "new\n";
            fs.files[SETTINGS_FILE_NAME].readOnly = true;
        }
        Set(kOld);
        g_strStatus = "before";
        LoadSettings();
        EXPECT_EQ(Get(), kOld);
        ASSERT_EQ(fs.messages.size(), 1u);
        EXPECT_EQ(fs.messages[0].text, MSG_FILE_ERROR);
        EXPECT_EQ(fs.messages[0].caption, CAPTION_ERROR);
        EXPECT_EQ(g_strStatus, MSG_SETTINGS_LOADED);
        EXPECT_EQ(fs.closes, 0);
    }
}

TEST_F(SettingsTest, FailedReadEndsLoadWithOneMessage) {
    File() = "1\n2\n3\n";
    fs.files[SETTINGS_FILE_NAME].unreadableFrom = 3;  // "1\n2" can be read
    Set(kOld);
    LoadSettings();
    EXPECT_EQ(Get(), (Values{"1", "2", "o3", "o4", "o5", "o6", "o7"}));
    ASSERT_EQ(fs.messages.size(), 4u);  // three bytes, then the error
    EXPECT_EQ(fs.messages[3].text, MSG_FILE_ERROR);
    EXPECT_EQ(fs.reads, 4);  // the failed read is not repeated
    EXPECT_EQ(g_strStatus, MSG_SETTINGS_LOADED);
    EXPECT_EQ(fs.OpenDescriptors(), 0);
}

TEST_F(SettingsTest, SaveThatCannotOpenWritesNothing) {
    File() = "kept\r\n";
    fs.files[SETTINGS_FILE_NAME].readOnly = true;
    Set(kSample);
    SaveSettings();
    ASSERT_EQ(fs.messages.size(), 1u);
    EXPECT_EQ(fs.messages[0].text, MSG_SETTINGS_NOT_OPENED);
    EXPECT_EQ(fs.messages[0].caption, CAPTION_ERROR);
    EXPECT_EQ(File(), "kept\r\n");
}

TEST_F(SettingsTest, FailedWriteStopsSilentlyAndKeepsEarlierRecords) {
    Set(kSample);
    fs.faultCall = FakeFiles::Call::kWrite;
    fs.faultAt = 3;
    SaveSettings();
    EXPECT_TRUE(fs.messages.empty());
    EXPECT_EQ(File(), "abc\r\n\r\n");
    EXPECT_EQ(fs.writes, 3);
    EXPECT_EQ(fs.OpenDescriptors(), 0);
}

TEST_F(SettingsTest, ShortWritesAreCompleted) {
    Set(kSample);
    fs.maxWrite = 2;
    SaveSettings();
    EXPECT_EQ(File(), "abc\r\n\r\n\x95\x5c\x83\x41\r\na b\tc\r\nx.html\r\njp/\r\nextra value\r\n");
    ASSERT_EQ(fs.messages.size(), 1u);
    EXPECT_EQ(fs.messages[0].text, MSG_SETTINGS_SAVED);
}

// The real file system: a settings file that is a link to a full device.
TEST(SettingsOnDisk, SaveToFullDeviceShowsNoSuccess) {
    char pattern[] = "/tmp/talveron-ini-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string dir = pattern;
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    ASSERT_EQ(symlink("/dev/full", SETTINGS_FILE_NAME), 0);
    static std::vector<std::string> shown;
    shown.clear();
    rt::MessageHandler previous = rt::SetMessageHandler([](void*, const char* text, const char*, unsigned int) {
        shown.push_back(text);
        return IDYES;
    });
    ResetModuleState();
    g_strKeyword[0] = "abc";
    SaveSettings();
    EXPECT_TRUE(shown.empty());
    // And the help viewer, whose Windows path does not exist here.
    EXPECT_EQ(RunViewer(HELP_VIEWER_PATH, HELP_ARGUMENT), -1);
    ShowHelp();
    EXPECT_TRUE(shown.empty());
    rt::SetMessageHandler(previous);
    ASSERT_EQ(chdir(here), 0);
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace
