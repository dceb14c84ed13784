// The export's boundary: nothing thrown out of it when memory runs out, one
// call at a time, the input never destroyed, and found records written out
// before the module waits for more input.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "messages/messages.h"
#include "api/export.h"
#include "lifecycle/limits.h"
#include "search/searcher.h"
#include "settings/settings.h"
#include "tests/failing_malloc.h"
#include "tests/random_pages.h"
#include "tests/search_fixture.h"

namespace {

// Argument strings as a host builds them, keeping a reference of its own.
char* HostString(const std::string& text) {
    char* data = CString(text.data(), static_cast<int>(text.size())).Detach();
    ++reinterpret_cast<CString::Header*>(data)[-1].refs;
    return data;
}
int Refs(const char* data) { return reinterpret_cast<const CString::Header*>(data)[-1].refs; }

// Module strings without a block of their own, as just after load, so that a
// search allocates all it can.
void FreshModuleState() {
    ResetModuleState();
    for (CString* s : {static_cast<CString*>(&g_strOutFile), static_cast<CString*>(&g_strStatus),
                       static_cast<CString*>(&g_strIniExtra), &UrlString()})
        *s = CString();
    for (CString& keyword : g_strKeyword) keyword = CString();
}

// Whole CR LF records, the first of `full`'s.
bool IsRecordPrefix(const std::string& out, const std::string& full) {
    return full.compare(0, out.size(), out) == 0 && (out.empty() || out.compare(out.size() - 2, 2, "\r\n") == 0);
}

class BoundaryTest : public SearchTest {
protected:
    void TearDown() override {
        FailMallocAt(0);
        SearchTest::TearDown();
    }
    // One search of `page` with its own argument strings, the `failAt`th
    // malloc of the call failing; checks that both strings are released
    // whatever the result. calls_ is the call's count of mallocs.
    int SearchPage(const std::string& page, const std::string& keywords, int failAt = 0) {
        fs.files["page.html"].data = page;
        char* path = HostString("page.html");
        char* line = HostString(keywords);
        FailMallocAt(failAt);
        int result = BEGIN_SEARCH_ADD(path, line, 0, 0);
        calls_ = MallocCalls();
        FailMallocAt(0);
        EXPECT_EQ(Refs(path), 1);
        EXPECT_EQ(Refs(line), 1);
        CString::Release(path);
        CString::Release(line);
        return result;
    }
    int calls_ = 0;
};

TEST_F(BoundaryTest, AllocationFailingAtAnyCallOfASearchGivesMinusOne) {
    SetInputBlockSize(4096);
    const std::string page = ManyAnchors(3000);
    const std::string keywords = "t1 ab s2 \x83\x41 x y";
    FreshModuleState();
    ASSERT_EQ(SearchPage(page, keywords), 0);
    const int calls = calls_;
    const std::string full = fs.files["OUT.TXT"].data;
    ASSERT_GT(full.size(), 65536u);  // records gathered and written more than once
    ASSERT_GE(calls, 10);
    for (int n = 1; n <= calls; ++n) {
        SCOPED_TRACE(n);
        FreshModuleState();
        fs.messages.clear();
        ASSERT_EQ(SearchPage(page, keywords, n), -1);
        EXPECT_EQ(fs.OpenDescriptors(), 0);
        EXPECT_TRUE(IsRecordPrefix(fs.files["OUT.TXT"].data, full));
        for (const RecordedMessage& m : fs.messages) EXPECT_EQ(m.text, MSG_SEARCH_START);
    }
    // And the module goes on as before.
    EXPECT_EQ(SearchPage(page, keywords), 0);
    EXPECT_EQ(fs.files["OUT.TXT"].data, full);
}

TEST_F(BoundaryTest, AllocationFailingInSettingsLoadAndSave) {
    const char kFile[] = "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\nseven\r\n";
    const char* const kLines[] = {"one", "two", "three", "four", "five", "six", "seven"};
    for (bool save : {false, true}) {
        SCOPED_TRACE(save ? "save" : "load");
        int calls = 0;
        for (int n = 0; n == 0 || n <= calls; ++n) {
            SCOPED_TRACE(n);
            FreshModuleState();
            for (int i = 0; i < 7; ++i) (i < 6 ? g_strKeyword[i] : g_strIniExtra) = save ? kLines[i] : "old";
            fs.files[SETTINGS_FILE_NAME].data = save ? "kept\r\n" : kFile;
            fs.messages.clear();
            FailMallocAt(n);
            save ? SaveSettings() : LoadSettings();
            if (n == 0) calls = MallocCalls();
            FailMallocAt(0);
            EXPECT_EQ(fs.OpenDescriptors(), 0);
            const std::string& file = fs.files[SETTINGS_FILE_NAME].data;
            if (save) {
                // The records are built before the file is touched.
                EXPECT_EQ(file, n == 0 ? kFile : "kept\r\n");
                EXPECT_EQ(fs.messages.size(), n == 0 ? 1u : 0u);
            } else {
                // The lines before the failure are loaded, later ones not.
                bool loaded = true;
                for (int i = 0; i < 7; ++i) {
                    const CString& value = i < 6 ? g_strKeyword[i] : g_strIniExtra;
                    if (!loaded) {
                        EXPECT_EQ(value, "old") << i;
                    }
                    if (value != kLines[i]) loaded = false;
                }
                EXPECT_TRUE(loaded || n != 0);
            }
        }
        EXPECT_GE(calls, save ? 7 : 8);
    }
}

// The start message of each search shows OUT.TXT as the call before left it.
std::vector<std::string>* g_outAtStart;
FakeFiles* g_files;
int RecordOutAtStart(void*, const char* text, const char*, unsigned int) {
    if (std::strcmp(text, MSG_SEARCH_START) == 0) g_outAtStart->push_back(g_files->files["OUT.TXT"].data);
    return IDYES;
}

TEST_F(BoundaryTest, CallsOfTwoThreadsTakeTurns) {
    SetInputBlockSize(512);
    const std::string pages[2] = {ManyAnchors(300), "x" + ManyAnchors(200) + "<a href=\"http://end.jp\">"};
    std::string expected[2];
    for (int i = 0; i < 2; ++i) {
        fs.files["page" + std::to_string(i) + ".html"].data = pages[i];
        EXPECT_EQ(Search("page" + std::to_string(i) + ".html", "s1"), 0);
        expected[i] = fs.files["OUT.TXT"].data;
    }
    ASSERT_NE(expected[0], expected[1]);
    std::vector<std::string> outAtStart;
    g_outAtStart = &outAtStart;
    g_files = &fs;
    rt::SetMessageHandler(RecordOutAtStart);
    auto loop = [&](int i, int* failed) {
        for (int round = 0; round < 100; ++round)
            *failed += Search("page" + std::to_string(i) + ".html", "s1") != 0;
    };
    int failed[2] = {0, 0};
    std::thread first(loop, 0, &failed[0]), second(loop, 1, &failed[1]);
    first.join();
    second.join();
    EXPECT_EQ(failed[0] + failed[1], 0);
    ASSERT_EQ(outAtStart.size(), 200u);
    for (std::size_t i = 0; i < outAtStart.size(); ++i)
        ASSERT_TRUE(outAtStart[i] == expected[0] || outAtStart[i] == expected[1]) << i;
    EXPECT_EQ(fs.OpenDescriptors(), 0);
}

// From the start message: the host calls the export again.
int g_nestedResult, g_nestedRefs, g_opensBefore, g_opensAfter;
int CallAgain(void*, const char* text, const char*, unsigned int) {
    if (std::strcmp(text, MSG_SEARCH_START) != 0) return IDYES;
    char* path = HostString("other.html");
    char* line = HostString("jp");
    g_opensBefore = g_files->opens;
    g_nestedResult = BEGIN_SEARCH_ADD(path, line, 0, 0);
    g_opensAfter = g_files->opens;
    g_nestedRefs = Refs(path) + Refs(line);
    CString::Release(path);
    CString::Release(line);
    return IDYES;
}

TEST_F(BoundaryTest, CallFromInsideACallIsRefused) {
    const std::string page = ManyAnchors(5);
    const std::string expected = Harvest(page, "s2");
    fs.files["other.html"].data = page;
    g_files = &fs;
    rt::SetMessageHandler(CallAgain);
    g_nestedResult = 0;
    EXPECT_EQ(Harvest(page, "s2"), expected);
    EXPECT_EQ(g_nestedResult, -1);
    EXPECT_EQ(g_nestedRefs, 2);  // both arguments released
    EXPECT_EQ(g_opensAfter, g_opensBefore);
    EXPECT_EQ(g_strKeyword[0], "s2");
    EXPECT_TRUE(g_strKeyword[1].IsEmpty());
}

TEST_F(BoundaryTest, RecordsReachTheFileBeforeTheNextRead) {
    SetInputBlockSize(64);
    std::string page = "<a href=\"http://a.jp\">" + std::string(200, ' ') + "<a href=\"http://b.jp\">" +
                       std::string(200, '<');
    std::vector<std::string> outAtRead;
    fs.onRead = [&] { outAtRead.push_back(fs.files["OUT.TXT"].data); };
    EXPECT_EQ(Harvest(page), "http://a.jp/\r\nhttp://b.jp/\r\n");
    fs.onRead = nullptr;
    ASSERT_GE(outAtRead.size(), 5u);
    EXPECT_EQ(outAtRead[0], "");
    EXPECT_EQ(outAtRead[1], "http://a.jp/\r\n");  // found in the first block
    EXPECT_EQ(outAtRead.back(), "http://a.jp/\r\nhttp://b.jp/\r\n");
    EXPECT_LE(fs.writes, 2);  // one write per block that found records
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

TEST(InputProtection, OutputThatIsTheInputIsRefusedAndTheInputKept) {
    char pattern[] = "/tmp/talveron-same-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    const std::string page = "<a href=\"http://a.jp\">";
    static std::vector<std::string> messages;
    rt::MessageHandler previous = rt::SetMessageHandler([](void*, const char* text, const char*, unsigned int) {
        messages.push_back(text);
        return IDYES;
    });
    struct Case {
        const char* name;
        const char* input;
        int (*link)(const char* target, const char* name);  // makes OUT.TXT lead to page.html
    } cases[] = {
        {"symbolic link", "page.html", symlink},
        {"hard link", "page.html", link},
        {"the input's own name", "OUT.TXT", nullptr},
        {"another name for the input", "./sub/../OUT.TXT", nullptr},
    };
    mkdir("sub", 0755);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove("OUT.TXT");
        std::remove("page.html");
        std::ofstream(c.link ? "page.html" : "OUT.TXT", std::ios::binary) << page;
        if (c.link) {
            ASSERT_EQ(c.link("page.html", "OUT.TXT"), 0);
        }
        messages.clear();
        EXPECT_EQ(BEGIN_SEARCH_ADD(CString(c.input).Detach(), CString().Detach(), 0, 0), -1);
        EXPECT_EQ(ReadFile(c.link ? "page.html" : "OUT.TXT"), page);
        EXPECT_EQ(messages, (std::vector<std::string>{MSG_SEARCH_START, MSG_OUTPUT_NOT_OPENED}));
    }
    // A link to another file is still followed: the records go there.
    std::remove("OUT.TXT");
    std::ofstream("page.html", std::ios::binary) << page;
    std::ofstream("elsewhere.txt", std::ios::binary) << "old";
    ASSERT_EQ(symlink("elsewhere.txt", "OUT.TXT"), 0);
    EXPECT_EQ(BEGIN_SEARCH_ADD(CString("page.html").Detach(), CString().Detach(), 0, 0), 0);
    EXPECT_EQ(ReadFile("elsewhere.txt"), "http://a.jp/\r\n");

    rt::SetMessageHandler(previous);
    ASSERT_EQ(chdir(here), 0);
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
