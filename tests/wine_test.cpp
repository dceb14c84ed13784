// TALVERON.dll under Wine, loaded by a Windows host program of the tests
// (wine/winhost.cpp): its identity, its lifecycle, its failure rows, and the
// same OUT.TXT and messages as the Linux build on generated pages, and on
// real ones when TALVERON_PAGES_DIR names a folder of them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "framework/cstring.h"
#include "api/export.h"
#include "messages/messages.h"
#include "lifecycle/module_state.h"
#include "help/help.h"
#include "runtime/runtime.h"
#include "settings/settings.h"
#include "tests/hex.h"
#include "tests/random_pages.h"

namespace {

const std::string kWin32Dir = TALVERON_WIN32_DIR;
const std::string kShippedDll = kWin32Dir + "/TALVERON.dll";
const std::string kLifecycleDll = kWin32Dir + "/lifecycle/TALVERON.dll";

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a shell command and returns its standard output.
std::string Capture(const std::string& command, int* status = nullptr) {
    std::string out;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        int raw = pclose(pipe);
        if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}
std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream s;
    s << file.rdbuf();
    return s.str();
}
bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string MakeTempDir() {
    char pattern[] = "/tmp/talveron-wine-XXXXXX";
    if (!mkdtemp(pattern)) return "";
    return pattern;
}

// A throwaway Wine prefix for the whole run.
class WineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        prefix_ = MakeTempDir();
        setenv("WINEPREFIX", prefix_.c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);  // no Mono or Gecko installers
        unsetenv("DISPLAY");
        int status;
        Capture(Quote(TALVERON_WINE) + " wineboot -i >/dev/null 2>&1", &status);
        ASSERT_EQ(status, 0) << "wineboot failed";
    }
    void TearDown() override {
        std::system((Quote(TALVERON_WINESERVER) + " -k >/dev/null 2>&1").c_str());
        std::system(("rm -rf " + Quote(prefix_)).c_str());
    }

private:
    std::string prefix_;
};
::testing::Environment* const kWine = ::testing::AddGlobalTestEnvironment(new WineEnvironment);

// The Windows host program in `dir` with `args`; its standard output.
std::string Winhost(const std::string& dir, const std::string& dll, const std::string& args) {
    int status;
    std::string out = Capture("cd " + Quote(dir) + " && " + Quote(TALVERON_WINE) + " " +
                              Quote(kWin32Dir + "/talveron_winhost.exe") + " " + Quote(dll) + " " + args +
                              " 2>/dev/null", &status);
    EXPECT_EQ(status, 0) << args;
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

TEST(WineModule, ExportTableAndImports) {
    std::string dump = Capture(Quote(TALVERON_OBJDUMP) + " -p " + Quote(kShippedDll));
    EXPECT_NE(dump.find("TALVERON.dll"), std::string::npos);
    std::vector<std::string> exports;
    std::set<std::string> dlls;
    bool inNames = false;
    for (const std::string& line : Lines(dump)) {
        if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
            inNames = true;
            continue;
        }
        if (inNames) {
            if (line.find('[') == std::string::npos) {
                inNames = false;
            } else {
                exports.push_back(line.substr(line.find(']') + 2));
            }
        }
        if (line.find("DLL Name: ") != std::string::npos) dlls.insert(line.substr(line.find("DLL Name: ") + 10));
    }
    EXPECT_EQ(exports, std::vector<std::string>{"_BEGIN_SEARCH_ADD@16"});
    EXPECT_NE(dump.find("Export Address Table -- Ordinal Base 1"), std::string::npos);
    EXPECT_EQ(dlls, (std::set<std::string>{"KERNEL32.dll", "USER32.dll", "msvcrt.dll"}));
    EXPECT_NE(dump.find("MessageBoxA"), std::string::npos);
}

TEST(WineModule, VersionResourceAndDescription) {
    std::string dir = MakeTempDir();
    std::vector<std::string> expected = {
        "resource 1 1033",
        // signature, file and product version 1.0.0.1, structure version,
        // flag mask 0x3F, flags 0, 32-bit Windows, DLL, subtype 0, date 0
        "fixed feef04bd 10000.1 10000.1 10000 3f 0 4 2 0 0.0",
        "string FileDescription=TALVERON DLL",
        "string FileVersion=1, 0, 0, 1",
        "string InternalName=TALVERON",
        "string OriginalFilename=TALVERON.DLL",
        "string ProductName=TALVERON Dynamic Link Library",
        "string ProductVersion=1, 0, 0, 1",
        "translation 0409 1200",
        "description .rdata read-only",
    };
    EXPECT_EQ(Lines(Winhost(dir, kShippedDll, "identity")), expected);
    std::system(("rm -rf " + Quote(dir)).c_str());
}

// The lifecycle log of load, `searches` searches of `page` and unload.
std::vector<std::string> Lifecycle(const std::string& command, const std::string& page) {
    std::string dir = MakeTempDir();
    WriteFile(dir + "/page.html", page);
    Winhost(dir, kLifecycleDll, command);
    std::vector<std::string> log = Lines(ReadFile(dir + "/LIFECYCLE.TXT"));
    std::system(("rm -rf " + Quote(dir)).c_str());
    return log;
}

const std::vector<std::string> kLoadTimeObjects = {
    "theApp", "g_strHelpDir", "g_strOutFile", "g_strKeyword[1]", "g_strKeyword[2]", "g_strKeyword[3]",
    "g_strKeyword[4]", "g_strKeyword[5]", "g_strKeyword[6]", "g_strStatus", "g_strIniExtra"};

std::vector<std::string> ExpectedLifecycle(bool urlBuilt, const std::vector<std::string>& middle = {}) {
    std::vector<std::string> log = {"ModuleStateHook 1"};
    for (const std::string& name : kLoadTimeObjects) log.push_back("+ " + name);
    log.push_back("DllMain 1");
    if (urlBuilt) log.push_back("+ g_strUrl");
    log.insert(log.end(), middle.begin(), middle.end());
    log.push_back("DllMain 0");
    if (urlBuilt) log.push_back("- g_strUrl");
    for (auto it = kLoadTimeObjects.rbegin(); it != kLoadTimeObjects.rend(); ++it) log.push_back("- " + *it);
    log.push_back("ModuleStateHook 0");
    return log;
}

TEST(WineModule, LoadAndUnloadWithoutSearch) {
    EXPECT_EQ(Lifecycle("lifecycle 0", "<a href=\"http://a.jp\">"), ExpectedLifecycle(false));
}

TEST(WineModule, UrlStringBuiltOnceAtFirstMatchAndDestroyedFirst) {
    EXPECT_EQ(Lifecycle("lifecycle 3", "x<a href=\"http://a.jp\"><a href=\"http://b.jp\">"), ExpectedLifecycle(true));
}

TEST(WineModule, SearchWithoutMatchBuildsNoUrlString) {
    EXPECT_EQ(Lifecycle("lifecycle 2", "<a href='http://a.jp'>"), ExpectedLifecycle(false));
}

TEST(WineModule, ThreadNotificationsChangeNothing) {
    EXPECT_EQ(Lifecycle("threads", ""),
              ExpectedLifecycle(false, {"ModuleStateHook 2", "DllMain 2", "DllMain 3", "ModuleStateHook 3"}));
}

TEST(WineModule, DetachWithoutAttachIsRefused) {
    std::string dir = MakeTempDir();
    EXPECT_EQ(Lines(Winhost(dir, kShippedDll, "detach-unattached")), std::vector<std::string>{"detach 0"});
    std::system(("rm -rf " + Quote(dir)).c_str());
}

// One search case: the page (absent when `hasPage` is false), the keyword line,
// an OUT.TXT left from before, and the host's options.
struct Case {
    Case(std::string p, std::string k, bool has = true, std::string previous = "", std::string o = "")
        : page(std::move(p)), keywords(std::move(k)), hasPage(has), previousOut(std::move(previous)), options(std::move(o)) {}
    std::string page;
    std::string keywords;
    bool hasPage;
    std::string previousOut;
    std::string options;
};

// Runs every case through the DLL under Wine, in one host process; case i
// lies in root/ci.
void RunOnWindows(const std::string& root, const std::vector<Case>& cases) {
    std::string list;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::string dir = root + "/c" + std::to_string(i);
        mkdir(dir.c_str(), 0755);
        if (cases[i].hasPage) WriteFile(dir + "/page.html", cases[i].page);
        if (!cases[i].previousOut.empty()) WriteFile(dir + "/OUT.TXT", cases[i].previousOut);
        // OUT.TXT as another name of the input.
        if (cases[i].options == "symlink-out") symlink("page.html", (dir + "/OUT.TXT").c_str());
        if (cases[i].options == "hardlink-out") link((dir + "/page.html").c_str(), (dir + "/OUT.TXT").c_str());
        list += "c" + std::to_string(i) + " page.html " + Hex(cases[i].keywords) + " " + cases[i].options + "\n";
    }
    WriteFile(root + "/cases.txt", list);
    Winhost(root, kShippedDll, "batch cases.txt");
}

std::string g_linuxReport;
int RecordForReport(void* owner, const char* text, const char* caption, unsigned int style) {
    char line[64];
    std::snprintf(line, sizeof line, "message %lu %u ", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(owner)), style);
    g_linuxReport += line + Hex(caption) + " " + Hex(text) + "\n";
    return IDYES;
}

// The same cases through the Linux build, in process; the same report.
void RunOnLinux(const std::string& root, const std::vector<Case>& cases) {
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    rt::MessageHandler previous = rt::SetMessageHandler(RecordForReport);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::string dir = root + "/c" + std::to_string(i);
        mkdir(dir.c_str(), 0755);
        if (cases[i].hasPage) WriteFile(dir + "/page.html", cases[i].page);
        ASSERT_EQ(chdir(dir.c_str()), 0);
        ResetModuleState();
        g_linuxReport.clear();
        CString path("page.html"), line(cases[i].keywords.data(), static_cast<int>(cases[i].keywords.size()));
        char* pathArg = CString(path).Detach();
        char* lineArg = CString(line).Detach();
        int result = BEGIN_SEARCH_ADD(pathArg, lineArg, 0, 0);
        auto refs = [](const CString& s) { return reinterpret_cast<const CString::Header*>(static_cast<const char*>(s))[-1].refs; };
        std::string head = "result " + std::to_string(result) + "\nreleased " + std::to_string(refs(path) == 1) + " " +
                           std::to_string(refs(line) == 1 || line.IsEmpty()) + "\n";
        WriteFile("result.txt", head + g_linuxReport);
        ASSERT_EQ(chdir(here), 0);
    }
    rt::SetMessageHandler(previous);
}

TEST(WineModule, SameResultsAsLinuxBuild) {
    std::vector<Case> cases;
    std::mt19937 rng(31337);
    for (int i = 0; i < 160; ++i) cases.push_back({RandomPage(rng, 1 + static_cast<int>(rng() % 80)), RandomKeywords(rng)});
    for (std::size_t length : {490, 498, 499, 500, 501, 5000})
        cases.push_back({"<a href=\"http://" + std::string(length, 'q') + "\"><a href=\"http://z.jp\">", ""});
    cases.push_back({std::string(300, ' ') + "q", ""});
    cases.push_back({"<a href=\"http://a.jp\">", std::string(254, 'k') + " a.jp"});
    cases.push_back({"", ""});
    cases.push_back({"", "", false});
    if (RealPagesDir().empty()) {
        std::printf("generated pages only; %s with real pages too\n", kRealPagesHint);
    } else {
        std::vector<std::string> names = RealPageNames();
        ASSERT_FALSE(names.empty()) << "no .html pages in TALVERON_PAGES_DIR=" << RealPagesDir();
        for (const std::string& name : names) {
            cases.push_back({ReadRealPage(name), ""});
            cases.push_back({ReadRealPage(name), "www co.jp/ .html"});
        }
    }

    std::string root = MakeTempDir();
    mkdir((root + "/win").c_str(), 0755);
    mkdir((root + "/lin").c_str(), 0755);
    RunOnWindows(root + "/win", cases);
    RunOnLinux(root + "/lin", cases);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::string c = "/c" + std::to_string(i);
        EXPECT_EQ(ReadFile(root + "/win" + c + "/result.txt"), ReadFile(root + "/lin" + c + "/result.txt")) << c;
        ASSERT_TRUE(Exists(root + "/win" + c + "/OUT.TXT")) << c;
        EXPECT_TRUE(ReadFile(root + "/win" + c + "/OUT.TXT") == ReadFile(root + "/lin" + c + "/OUT.TXT")) << c;
    }
    std::system(("rm -rf " + Quote(root)).c_str());
}

std::string Message(const char* caption, const char* text) {
    return "message 0 4 " + Hex(caption) + " " + Hex(text);
}

TEST(WineModule, FailureRows) {
    Case missing{"", "", false, "old\r\n"};
    Case locked{"<a href=\"http://a.jp\">", "", true, "old\r\n", "lock-out"};
    // Writes of a record's text fail, those of its line end succeed.
    Case failedWrite{"<a href=\"http://a.j\"><a href=\"http://bb.jp\"><a href=\"http://c.j\">", "", true, "", "long-writes-fail=12"};
    Case symlinked{"<a href=\"http://a.jp\">", "", true, "", "symlink-out"};
    Case hardlinked{"<a href=\"http://a.jp\">", "", true, "", "hardlink-out"};
    std::string root = MakeTempDir();
    RunOnWindows(root, {missing, locked, failedWrite, symlinked, hardlinked});
    std::string start = Message(CAPTION_ERROR, MSG_SEARCH_START);

    EXPECT_EQ(Lines(ReadFile(root + "/c0/result.txt")),
              (std::vector<std::string>{"result -1", "released 1 1", start,
                                        Message(CAPTION_THIS_IS_AN_ERROR, MSG_INPUT_MISSING)}));
    EXPECT_TRUE(Exists(root + "/c0/OUT.TXT"));
    EXPECT_EQ(ReadFile(root + "/c0/OUT.TXT"), "");

    EXPECT_EQ(Lines(ReadFile(root + "/c1/result.txt")),
              (std::vector<std::string>{"result -1", "released 1 1", start, Message(CAPTION_ERROR, MSG_OUTPUT_NOT_OPENED)}));
    EXPECT_EQ(ReadFile(root + "/c1/OUT.TXT"), "old\r\n");

    EXPECT_EQ(Lines(ReadFile(root + "/c2/result.txt")),
              (std::vector<std::string>{"result 0", "released 1 1", start, Message(CAPTION_ERROR, MSG_ERRNO)}));
    EXPECT_EQ(ReadFile(root + "/c2/OUT.TXT"), "http://a.j/\r\n\r\nhttp://c.j/\r\n");

    // OUT.TXT that is the input itself: refused, the input kept.
    for (const char* c : {"/c3", "/c4"}) {
        EXPECT_EQ(Lines(ReadFile(root + c + "/result.txt")),
                  (std::vector<std::string>{"result -1", "released 1 1", start, Message(CAPTION_ERROR, MSG_OUTPUT_NOT_OPENED)}))
            << c;
        EXPECT_EQ(ReadFile(root + c + "/page.html"), "<a href=\"http://a.jp\">") << c;
    }
    std::system(("rm -rf " + Quote(root)).c_str());
}

// The records of ManyAnchors(count), as a search writes them.
std::string ManyRecords(int count) {
    std::string records;
    for (int i = 0; i < count; ++i)
        records += "http://s" + std::to_string(i) + ".jp/\r\nhttp://t" + std::to_string(i) + ".jp/a.html\r\n";
    return records;
}

TEST(WineModule, AllocationFailingAtAnyCallOfASearchGivesMinusOne) {
    std::string dir = MakeTempDir();
    WriteFile(dir + "/page.html", ManyAnchors(3000));
    std::vector<std::string> out = Lines(Winhost(dir, kShippedDll, "alloc-failures " + Hex("t1 ab s2 \x83\x41 x y")));
    ASSERT_FALSE(out.empty());
    unsigned calls = 0, bytes = 0;
    int result = -2;
    ASSERT_EQ(std::sscanf(out[0].c_str(), "clean %d %u %u", &result, &calls, &bytes), 3) << out[0];
    EXPECT_EQ(result, 0);
    EXPECT_GT(bytes, 65536u);
    EXPECT_GE(calls, 5u);
    ASSERT_EQ(out.size(), calls + 1);
    for (unsigned n = 1; n <= calls; ++n) {
        // The host goes on; no message but the start one.
        std::string head = "fail " + std::to_string(n) + " result -1 released 1 whole 1 leaked 0 messages ";
        EXPECT_TRUE(out[n] == head + "0" || out[n] == head + "1") << out[n];
    }
    std::system(("rm -rf " + Quote(dir)).c_str());
}

TEST(WineModule, AllocationFailingInSettingsLoadAndSave) {
    std::string dir = MakeTempDir();
    int status;
    std::vector<std::string> out = Lines(Capture("cd " + Quote(dir) + " && " + Quote(TALVERON_WINE) + " " +
                                                 Quote(kWin32Dir + "/talveron_wintests.exe") + " settings-alloc 2>/dev/null",
                                                 &status));
    EXPECT_EQ(status, 0);
    int loads = 0, saves = 0;
    for (const std::string& line : out) {
        EXPECT_EQ(line.substr(line.size() - 3), " ok") << line;
        (line.compare(0, 5, "load ") == 0 ? loads : saves)++;
    }
    EXPECT_GE(loads, 8);
    EXPECT_GE(saves, 8);
    std::system(("rm -rf " + Quote(dir)).c_str());
}

TEST(WineModule, CallsOfTwoThreadsTakeTurns) {
    std::string dir = MakeTempDir();
    WriteFile(dir + "/page0.html", ManyAnchors(300));
    WriteFile(dir + "/page1.html", "x" + ManyAnchors(200) + "<a href=\"http://end.jp\">");
    EXPECT_EQ(Lines(Winhost(dir, kShippedDll, "turns")), std::vector<std::string>{"starts 200 torn 0 failed 0"});
    std::system(("rm -rf " + Quote(dir)).c_str());
}

TEST(WineModule, CallFromInsideACallIsRefused) {
    std::string dir = MakeTempDir();
    WriteFile(dir + "/page.html", ManyAnchors(5));
    WriteFile(dir + "/other.html", ManyAnchors(7));
    WriteFile(dir + "/OUT.TXT", "old\r\n");
    std::vector<std::string> out = Lines(Winhost(dir, kShippedDll, "reenter"));
    EXPECT_EQ(out, (std::vector<std::string>{"nested -1 released 1 out-unchanged 1", "result 0", "released 1 1",
                                             Message(CAPTION_ERROR, MSG_SEARCH_START)}));
    EXPECT_EQ(ReadFile(dir + "/OUT.TXT"), ManyRecords(5));
    std::system(("rm -rf " + Quote(dir)).c_str());
}

// A settings case: the file before (its bytes; absent, read-only or a link to
// a full device by `kind`), the operation and the values before it.
struct SettingsCase {
    std::string kind;  // "file", "missing", "read-only", "full"
    std::string file;
    std::string op;    // "load", "save", "save-load"
    std::vector<std::string> values;
};

void PrepareSettings(const std::string& dir, const SettingsCase& c) {
    mkdir(dir.c_str(), 0755);
    std::string path = dir + "/" SETTINGS_FILE_NAME;
    if (c.kind == "full") {
        symlink("/dev/full", path.c_str());
    } else if (c.kind != "missing") {
        WriteFile(path, c.file);
        if (c.kind == "read-only") {
            chmod(path.c_str(), 0444);
            WriteFile(dir + "/LOCK", "");  // see wintests.cpp
        }
    }
}

std::string SettingsReport() {
    std::string report = "status " + Hex(std::string(g_strStatus, g_strStatus.GetLength())) + "\n";
    for (int i = 0; i < 6; ++i) report += "value " + Hex(std::string(g_strKeyword[i], g_strKeyword[i].GetLength())) + "\n";
    report += "value " + Hex(std::string(g_strIniExtra, g_strIniExtra.GetLength())) + "\n";
    return report + g_linuxReport;
}

TEST(WineModule, SettingsSameAsLinuxBuild) {
    const std::vector<std::string> sample = {"abc", "", "\x95\x5c\x83\x41", "a b\tc", "x.html", "jp/", "extra"};
    const std::vector<std::string> none(7);
    const std::vector<SettingsCase> cases = {
        {"file", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n", "load", sample},
        {"file", "a\rb\nc\n", "load", sample},
        {"file", "1\n2\n3\n4\n5\n6\n7\n8\n9\n", "load", sample},
        {"file", "1\n2\n3", "load", sample},
        {"file", "", "load", sample},
        {"file", std::string("a\0b\n\0\n", 6), "load", sample},
        {"missing", "", "load", sample},
        {"read-only", "new\n", "load", sample},
        {"file", "old\r\n", "save", sample},
        {"missing", "", "save", none},
        {"read-only", "kept\r\n", "save", sample},
        {"full", "", "save", sample},
        {"file", "", "save-load", sample},
        {"file", "", "save-load", {"a", "b\nc", "d", "e", "f", "g", "h"}},
    };
    std::string root = MakeTempDir();
    std::string list;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        list += "win/s" + std::to_string(i) + " " + cases[i].op;
        for (const std::string& v : cases[i].values) list += " " + Hex(v);
        list += "\n";
    }
    mkdir((root + "/win").c_str(), 0755);
    for (std::size_t i = 0; i < cases.size(); ++i) PrepareSettings(root + "/win/s" + std::to_string(i), cases[i]);
    WriteFile(root + "/cases.txt", list);
    int status;
    Capture("cd " + Quote(root) + " && " + Quote(TALVERON_WINE) + " " + Quote(kWin32Dir + "/talveron_wintests.exe") +
                " settings cases.txt 2>/dev/null", &status);
    ASSERT_EQ(status, 0);

    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    mkdir((root + "/lin").c_str(), 0755);
    rt::MessageHandler previous = rt::SetMessageHandler(RecordForReport);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::string dir = root + "/lin/s" + std::to_string(i);
        PrepareSettings(dir, cases[i]);
        ASSERT_EQ(chdir(dir.c_str()), 0);
        ResetModuleState();
        g_linuxReport.clear();
        for (int v = 0; v < 7; ++v) {
            CString value(cases[i].values[v].data(), static_cast<int>(cases[i].values[v].size()));
            if (v < 6) g_strKeyword[v] = value; else g_strIniExtra = value;
        }
        if (cases[i].op != "load") SaveSettings();
        if (cases[i].op == "save-load") {
            for (int v = 0; v < 6; ++v) g_strKeyword[v] = "old";
            g_strIniExtra = "old";
        }
        if (cases[i].op != "save") LoadSettings();
        WriteFile("result.txt", SettingsReport());
        ASSERT_EQ(chdir(here), 0);
    }
    rt::SetMessageHandler(previous);

    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::string s = "/s" + std::to_string(i);
        EXPECT_EQ(ReadFile(root + "/win" + s + "/result.txt"), ReadFile(root + "/lin" + s + "/result.txt")) << s;
        if (cases[i].kind != "full") {
            std::string ini = "/" SETTINGS_FILE_NAME;
            EXPECT_EQ(Exists(root + "/win" + s + ini), Exists(root + "/lin" + s + ini)) << s;
            EXPECT_EQ(ReadFile(root + "/win" + s + ini), ReadFile(root + "/lin" + s + ini)) << s;
        }
    }
    std::system(("chmod -R u+w " + Quote(root) + "; rm -rf " + Quote(root)).c_str());
}

TEST(WineModule, HelpViewerIsAwaitedWithItsCommandLine) {
    std::string viewer = std::string(getenv("WINEPREFIX")) + "/drive_c/windows/winhelp.exe";
    std::string dir = MakeTempDir();
    auto runHelp = [&] {
        int status;
        std::string out = Capture("cd " + Quote(dir) + " && " + Quote(TALVERON_WINE) + " " +
                                  Quote(kWin32Dir + "/talveron_wintests.exe") + " help 2>/dev/null", &status);
        EXPECT_EQ(status, 0);
        return Lines(out);
    };
    ASSERT_EQ(std::system(("cp " + Quote(kWin32Dir + "/viewer_standin.exe") + " " + Quote(viewer)).c_str()), 0);
    std::vector<std::string> out = runHelp();
    ASSERT_EQ(out.size(), 2u);  // the result and the time taken; no message
    EXPECT_EQ(out[0], "result 42");
    EXPECT_GE(std::atoi(out[1].c_str() + 8), 350);  // the viewer lingers 400 ms
    // The viewer had ended when the call returned: its last line is there.
    EXPECT_EQ(ReadFile(dir + "/VIEWER.TXT"), "c:\\windows\\winhelp.exe  varnel_kb.hlp\nended\n");

    std::remove(viewer.c_str());
    std::remove((dir + "/VIEWER.TXT").c_str());
    out = runHelp();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "result -1");
    EXPECT_FALSE(Exists(dir + "/VIEWER.TXT"));
    std::system(("rm -rf " + Quote(dir)).c_str());
}

}  // namespace
