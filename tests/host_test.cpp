// The terminal tool end to end, in a temporary directory on bytes the test
// writes: where a command-line tool breaks (many inputs, trees, pipes, failing
// writes, usage), and the sameness of its records with the export's OUT.TXT.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/host_fixture.h"
#include "tests/random_pages.h"
#include "tests/search_fixture.h"

namespace {

const char kPage[] = "<A HREF=\"http://a.jp/x.html\">A</A> <a href=\"http://b.jp\">B</a> <a href=\"http://abc.jp\">";
const char kRecords[] = "http://a.jp/x.html\nhttp://b.jp/\nhttp://abc.jp/\n";

TEST_F(HostTest, ManyInputsWithOneMissingInTheMiddle) {
    Write("a.html", kPage);
    Write("c.html", "<a href=\"http://c.jp/\">");
    HostRun run = Host({"a.html", "missing.html", "c.html", "-x", "abc"});
    EXPECT_EQ(run.status, 2);  // trouble wins over records found
    EXPECT_EQ(run.out, "a.html:http://a.jp/x.html\na.html:http://b.jp/\nc.html:http://c.jp/\n");
    EXPECT_EQ(run.err, "talveron: missing.html: No such file or directory\n");
    EXPECT_FALSE(Exists("OUT.TXT"));
    // A directory named where a page is expected, and -h.
    mkdir((dir_ + "/empty").c_str(), 0755);
    run = Host({"-h", "c.html", "empty", "c.html"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "http://c.jp/\nhttp://c.jp/\n");
}

TEST_F(HostTest, DirectoryTreeIsWalkedInOrderPastLinks) {
    Shell("mkdir -p d/b d/a/z && ln -s .. d/a/loop && ln -s ../../c.html d/b/link.html");
    Write("c.html", "<a href=\"http://c.jp/\">");
    Write("d/b/2.html", "<a href=\"http://b2.jp/\">");
    Write("d/a/1.HTM", "<a href=\"http://a1.jp/\">");
    Write("d/a/z/9.Html", "<a href=\"http://z9.jp/\">");
    Write("d/a/notes.txt", "<a href=\"http://txt.jp/\">");
    HostRun run = Host({"d"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "d/a/1.HTM:http://a1.jp/\nd/a/z/9.Html:http://z9.jp/\nd/b/2.html:http://b2.jp/\n");
    EXPECT_EQ(Host({"--all-files", "-h", "d/a"}).out, "http://a1.jp/\nhttp://txt.jp/\nhttp://z9.jp/\n");
    // A link named on the command line is followed.
    EXPECT_EQ(Host({"d/b/link.html"}).out, "http://c.jp/\n");
    // The inputs as a list, and as names read from a file.
    const char kList[] = "d/a/1.HTM\0d/a/z/9.Html\0d/b/2.html\0missing\0";
    EXPECT_EQ(Host({"--list-inputs", "d", "missing"}).out, std::string(kList, sizeof kList - 1));
    EXPECT_EQ(Host({"--files0-from=-"}, "printf 'd/b/2.html\\0c.html\\0' | ").out,
              "d/b/2.html:http://b2.jp/\nc.html:http://c.jp/\n");
}

TEST_F(HostTest, StandardInputFromAPipe) {
    Write("p.html", kPage);
    EXPECT_EQ(Host({}, "cat p.html | ").out, kRecords);
    HostRun run = Host({"-H", "-", "--crlf"}, "cat p.html | ");
    EXPECT_EQ(run.out, "(standard input):http://a.jp/x.html\r\n(standard input):http://b.jp/\r\n"
                       "(standard input):http://abc.jp/\r\n");
    EXPECT_EQ(run.status, 0);
}

TEST_F(HostTest, OutputFileIsAllOrNothing) {
    Write("p.html", kPage);
    Write("big.html", ManyAnchors(2000));
    Write("links.txt", "old\n");
    // An input missing: with --all-or-nothing the file keeps its contents.
    HostRun run = Host({"--output=links.txt", "--all-or-nothing", "p.html", "missing.html"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Read("links.txt"), "old\n");
    EXPECT_NE(run.err.find("links.txt: left unchanged"), std::string::npos) << run.err;
    // Without, a missing page among many does not discard the others'.
    run = Host({"-O", "links.txt", "p.html", "missing.html"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "talveron: missing.html: No such file or directory\n");
    EXPECT_EQ(Read("links.txt"), "p.html:http://a.jp/x.html\np.html:http://b.jp/\np.html:http://abc.jp/\n");
    // A write failing mid-way (the file size limit): the file is as it was.
    run = Host({"-O", "links.txt", "big.html"}, "ulimit -f 8; trap '' XFSZ; ");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "talveron: links.txt: File too large\n");
    EXPECT_EQ(Read("links.txt"), "p.html:http://a.jp/x.html\np.html:http://b.jp/\np.html:http://abc.jp/\n");
    EXPECT_EQ(Files(), (std::vector<std::string>{"big.html", "links.txt", "p.html"}));  // no temporary file left
    run = Host({"p.html", "-O", "links.txt"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Read("links.txt"), kRecords);
    // A link is written through: its target is replaced, the link stays.
    Shell("mkdir sub && echo old >sub/target.txt && chmod 640 sub/target.txt && ln -s sub/target.txt link.txt");
    for (int run = 0; run < 2; ++run) EXPECT_EQ(Host({"-O", "link.txt", "p.html"}).status, 0);
    EXPECT_EQ(Shell("test -L link.txt && cat sub/target.txt && stat -c %a sub/target.txt && ls -A sub"),
              std::string(kRecords) + "640\ntarget.txt\n");
    Shell("rm -r link.txt sub");
    // An input that is where records or reasons go is not read, nor lost.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-O", "p.html", "p.html"},
                                                 {"--rejected=p.html", "p.html"}}) {
        run = Host(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err.rfind("talveron: p.html: input file is also the output\n", 0), 0u) << run.err;
        EXPECT_EQ(Read("p.html"), kPage);
    }
}

TEST_F(HostTest, TwoRunsInOneDirectoryAtOnce) {
    Write("a.html", ManyAnchors(3000));
    Write("b.html", "x" + ManyAnchors(2000));
    std::string a = Host({"a.html"}).out, b = Host({"b.html"}).out;
    Shell("{ " + Quote(TALVERON_HOST) + " a.html >a.txt & " + Quote(TALVERON_HOST) + " b.html -O b.txt & wait; }");
    EXPECT_TRUE(Read("a.txt") == a);
    EXPECT_TRUE(Read("b.txt") == b);
    EXPECT_FALSE(Exists("OUT.TXT"));
}

TEST_F(HostTest, OptionsAnywhereBeforeDoubleDash) {
    Write("p.html", kPage);
    Write("-x", "<a href=\"http://dash.jp\">");
    EXPECT_EQ(Host({"p.html", "-x", "abc", "--no-progress"}).out, Host({"-hxabc", "p.html"}).out);
    HostRun run = Host({"-h", "--", "-x", "p.html"});
    EXPECT_EQ(run.out, "http://dash.jp/\nhttp://a.jp/x.html\nhttp://b.jp/\nhttp://abc.jp/\n");
    // An empty keyword keeps its slot; the second excludes.
    EXPECT_EQ(Host({"-x", "", "--exclude-keyword=b.jp", "p.html"}).out, "http://a.jp/x.html\nhttp://abc.jp/\n");
}

TEST_F(HostTest, UsageErrorsSayWhatIsWrong) {
    Write("p.html", kPage);
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--bogus", "p.html"}, "unknown option '--bogus'"},
        {{"-y", "p.html"}, "unknown option '-y'"},
        {{"p.html", "-x"}, "option '-x' needs a value"},
        {{"-x1", "-x2", "-x3", "-x4", "-x5", "-x6", "-x7", "p.html"}, "more than six keywords"},
        {{"-x", "a b", "p.html"}, "keyword 'a b' contains a space"},
        {{"-x", std::string(200, 'k'), "-x", std::string(60, 'k'), "p.html"}, "the keywords make a keyword line of 261 bytes"},
        {{"--keyword-line=abc", "p.html"}, "--keyword-line goes with --out-txt"},
        {{"--out-txt", "p.html", "p.html"}, "--out-txt takes exactly one INPUT"},
        {{"--crlf=1", "p.html"}, "option '--crlf' takes no value"},
        {{"-O", "", "p.html"}, "an empty file name"},
        {{"-v", "p.html"}, "unknown option '-v' (grep's, but talveron has no patterns)"},
        {{"--output"}, "option '--output' needs a value"},
        {{"--all-or-nothing", "p.html"}, "--all-or-nothing goes with --output"},
    };
    for (const auto& c : cases) {
        HostRun run = Host(c.args);
        EXPECT_EQ(run.status, 2) << c.says;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind(std::string("talveron: ") + c.says, 0), 0u) << run.err;
        EXPECT_NE(run.err.find("Try 'talveron --help'"), std::string::npos);
    }
    EXPECT_EQ(Files(), std::vector<std::string>{"p.html"});
    EXPECT_EQ(Host({"--version"}).out, "talveron 1.0.0.1\n");
    EXPECT_EQ(Host({"--help"}).status, 0);
}

TEST_F(HostTest, ClosedPipeEndsQuietlyAndAFullDeviceIsAnError) {
    Write("big.html", ManyAnchors(50000));
    std::string command = "cd " + Quote(dir_) + " && bash -c " +
                          Quote(Quote(TALVERON_HOST) + " big.html 2>stderr.txt | head -c 10 >/dev/null; "
                                                       "echo ${PIPESTATUS[0]} >status.txt");
    std::system(command.c_str());
    EXPECT_EQ(Read("status.txt"), "141\n");  // ended by SIGPIPE
    EXPECT_EQ(Read("stderr.txt"), "");
    HostRun run = Host({"big.html"}, "", ">/dev/full");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "talveron: write error: No space left on device\n");
}

TEST_F(HostTest, RejectedAndStatsTellWhyAnAddressIsMissing) {
    const std::string page = "<a href=\"http://abc.jp\"> <a href=\"http://" + std::string(500, 'x') +
                             "\"> <a href=\"http://ok.jp\"> <a href=\"http://a\tb\x01.jp\"> <a href=\"http://cut";
    Write("p.html", page);
    HostRun run = Host({"-x", "zz", "-x", "abc", "--stats", "--rejected=why.txt", "p.html"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "http://ok.jp/\nhttp://ab.jp/\n");
    EXPECT_EQ(Read("why.txt"), "p.html:0: excluded by keyword 2 (abc): http://abc.jp/\n"
                               "p.html:25: longer than 499 bytes: http://" + std::string(493, 'x') + "\n"
                               "p.html:" + std::to_string(page.rfind('<')) + ": unfinished at end of input: http://cut\n");
    EXPECT_NE(run.err.find("records written        2\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("excluded by keyword 2  1 (abc)\n"), std::string::npos);
    EXPECT_NE(run.err.find("dropped as too long    1\n"), std::string::npos);
    EXPECT_NE(run.err.find("dropped as unfinished  1\n"), std::string::npos);
    // Slots left empty (-x '') have no line.
    run = Host({"-x", "", "-x", "abc", "-x", "", "--stats", "p.html"});
    EXPECT_NE(run.err.find("excluded by keyword 2  1 (abc)\ntalveron: dropped as too long"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("excluded by keyword 1"), std::string::npos) << run.err;
    // A space or a backslash in an address dropped is escaped: one line, one
    // address, read back without doubt.
    Write("s.html", "<a href=\"http://a b.jp\"> <a href=\"http://c\\d.jp\">");
    EXPECT_EQ(Host({"-x", "b", "-x", "d", "--rejected=/dev/stdout", "s.html"}).out,
              "s.html:0: excluded by keyword 1 (b): http://a\\x20b.jp/\n"
              "s.html:25: excluded by keyword 2 (d): http://c\\x5Cd.jp/\n");
}

// --stats=json: the object alone on the last line of standard error, after
// the diagnostics.
TEST_F(HostTest, StatsJsonIsTheLastLineOfStandardError) {
    Write("p.html", "<a href=\"http://abc.jp\"> <a href=\"http://ok.jp\"> <a href=\"http://cut");
    // Records of a web archive passed over are counted by their type as written.
    std::string archive;
    for (const char* type : {"warcinfo", "Response", "warcinfo"})
        archive += std::string("WARC/1.0\r\nWARC-Type: ") + type + "\r\nContent-Length: 1\r\n\r\nx\r\n\r\n";
    Write("a.warc", archive);
    HostRun run = Host({"--stats=json", "-x", "abc", "p.html", "missing.html", "a.warc"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "p.html:http://ok.jp/\n");
    const std::string before = "talveron: missing.html: No such file or directory\n"
                               "{\"inputs_searched\":1,\"inputs_failed\":1,\"bytes\":68,\"records_written\":1,"
                               "\"archives_searched\":1,\"records_searched\":0,\"excluded_by_keyword\":[{\"slot\":1,\"keyword\":\"abc\",\"count\":1}],"
                               "\"dropped_too_long\":0,\"dropped_unfinished\":1,\"records_passed_over\":["
                               "{\"type\":\"Response\",\"count\":1},{\"type\":\"warcinfo\",\"count\":2}],"
                               "\"elapsed_seconds\":";
    ASSERT_EQ(run.err.substr(0, before.size()), before) << run.err;
    EXPECT_TRUE(std::regex_match(run.err.substr(before.size()), std::regex("[0-9]+\\.[0-9]{3}\\}\n"))) << run.err;
}

TEST_F(HostTest, OutTxtCallsTheExportAsAHostDoes) {
    Write("p.html", kPage);
    HostRun run = Host({"--out-txt", "p.html"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kRecords);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Read("OUT.TXT"), "http://a.jp/x.html\r\nhttp://b.jp/\r\nhttp://abc.jp/\r\n");
    // The keyword line as it stands: the module's own 255-byte cut.
    EXPECT_EQ(Host({"--out-txt", "--keyword-line=" + std::string(250, 'k') + " abcdefgh b.jp", "p.html"}).out,
              kRecords);
    run = Host({"--out-txt", "--messages", "missing.html"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "[ERROR] アドレスの取得を開始します。\n[エラーです。] ファイルが存在しません。\n");
    EXPECT_EQ(Read("OUT.TXT"), "");  // as the export leaves it
    Shell("rm OUT.TXT && ln -s /dev/full OUT.TXT");
    run = Host({"--out-txt", "p.html"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "talveron: OUT.TXT: 3 record(s) could not be written\n");
}

// The records printed for each input are what the export writes to OUT.TXT
// for it, on generated pages and, when given, real ones.
class HostSamenessTest : public SearchTest {};

TEST_F(HostSamenessTest, RecordsEqualTheExportsOnRandomAndRealPages) {
    std::vector<std::string> pages;
    std::mt19937 rng(4242);
    for (int i = 0; i < 60; ++i) pages.push_back(RandomPage(rng, 1 + static_cast<int>(rng() % 120)));
    for (const std::string& name : RealPageNames()) pages.push_back(ReadRealPage(name));
    char pattern[] = "/tmp/talveron-same-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    for (std::size_t i = 0; i < pages.size(); ++i)
        std::ofstream(dir + "/" + std::to_string(1000 + i) + ".html", std::ios::binary) << pages[i];
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{}, {"", "jp/", "x"}, {"abc", "ABC", "/", "\x95\x5c", "html", "a\tb"}}) {
        std::string line, args;
        for (std::size_t k = 0; k < words.size(); ++k) {
            line += (k ? " " : "") + words[k];
            args += " -x " + Quote(words[k]);
        }
        std::string command = "cd " + Quote(dir) + " && " + Quote(TALVERON_HOST) + " --crlf" + args + " . >out.txt";
        int status = std::system(command.c_str());
        std::ifstream file(dir + "/out.txt", std::ios::binary);
        std::stringstream printed;
        printed << file.rdbuf();
        std::string expected;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            std::string out = Harvest(pages[i], line);
            for (std::size_t at = 0; at < out.size();) {
                std::size_t end = out.find("\r\n", at) + 2;
                expected += "./" + std::to_string(1000 + i) + ".html:" + out.substr(at, end - at);
                at = end;
            }
        }
        EXPECT_TRUE(printed.str() == expected) << line;
        EXPECT_EQ(WEXITSTATUS(status), expected.empty() ? 1 : 0) << line;
    }
    std::system(("rm -rf " + Quote(dir)).c_str());
}

}  // namespace
