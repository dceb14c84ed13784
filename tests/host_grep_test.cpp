// talveron in the hands of grep users: grep's options and exit status, and
// the combinations of options, descriptors, links and signals that could
// lose records while the run said all was well.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "tests/host_fixture.h"
#include "tests/random_pages.h"

namespace {

const char kPage[] = "<a href=\"http://a.jp/x.html\">A</a> <a href=\"http://b.jp\">";
const char kRecords[] = "http://a.jp/x.html\nhttp://b.jp/\n";

class HostGrepTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        Write("p.html", kPage);
        Write("none.html", "<p>no anchor</p>");
    }
    // The shim's behaviours, for Host's `before`.
    static std::string Shim(const std::string& settings) {
        return "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + Quote(TALVERON_SHIM) + " " + settings + " ";
    }
};

TEST_F(HostGrepTest, CompressedPagesWithSearchZip) {
    // Each packing of one page, two gzip members in one file, and streams
    // cut short or corrupt: with -z, the page's records from each (those
    // before the damage from the damaged ones, with a diagnostic).
    Shell("mkdir z && cp p.html z/a.html && gzip -k z/a.html && zstd -q z/a.html -o z/b.html.zst && "
          "bzip2 -c z/a.html > z/c.html.bz2 && xz -c z/a.html > z/d.html.xz && "
          "cat z/a.html.gz z/a.html.gz > z/e.html.gz && head -c 20 z/d.html.xz > z/f.html.xz && "
          "{ cat z/a.html.gz; printf 'junk'; } > z/g.html.gz && { cat z/d.html.xz; printf 'junk'; } > z/h.html.xz");
    const std::string records = Host({"-h", "p.html"}).out;
    ASSERT_FALSE(records.empty());
    HostRun run = Host({"-z", "-h", "z"});
    EXPECT_EQ(run.status, 2);
    // a, a.gz, b, c, d, e (twice), g and h (before their junk); none from f.
    std::string expected;
    for (int i = 0; i < 9; ++i) expected += records;
    EXPECT_EQ(run.out, expected);
    EXPECT_NE(run.err.find("z/f.html.xz: xz data cut short at byte 20 of the compressed input"), std::string::npos)
        << run.err;
    // Bytes behind the last member or stream are said as what they are, where they begin.
    const struct {
        const char *name, *format, *whole;
    } trailing[] = {{"g.html.gz", "gzip", "a.html.gz"}, {"h.html.xz", "xz", "d.html.xz"}};
    for (const auto& t : trailing) {
        long long at = std::stoll(Shell(std::string("wc -c < z/") + t.whole));
        EXPECT_NE(run.err.find(std::string("z/") + t.name + ": trailing garbage behind the " + t.format +
                               " data at byte " + std::to_string(at) + " of the compressed input"),
                  std::string::npos)
            << run.err;
    }
    // Without -z, a walk takes only the plain page's name, but what is
    // named or piped is read by its first bytes all the same, and so is a
    // walked page that is compressed whatever its name.
    Shell("mkdir y && cp z/a.html.gz y/packed.html");
    EXPECT_EQ(Host({"-h", "z"}).out, records);
    EXPECT_EQ(Host({"-h", "y"}).out, records);
    EXPECT_EQ(Host({"-h", "z/a.html.gz", "z/c.html.bz2"}).out, records + records);
    EXPECT_EQ(Host({"-h", "-"}, "cat z/b.html.zst | ").out, records);
    EXPECT_EQ(Host({"-h", "-"}, "", "< z/d.html.xz >stdout.txt").out, records);
    EXPECT_EQ(Host({"-z", "-c", "-j3", "z"}).out, Host({"-z", "-c", "-j1", "z"}).out);
}

TEST_F(HostGrepTest, HttpsAnchorsPassedOverAreCountedAndHinted) {
    const std::string hint =
        "talveron: nothing found, but 2 <a href=\"https:// anchors were passed over: --https takes them\n";
    Write("s.html", "<a href=\"https://a.jp/\"> <A HREF=\"HTTPS://b.jp/\"> <a href=\"https:/c\"> <a href=\"https:");
    Write("m.html", "<a href=\"https://a.jp/\"> <a href=\"http://b.jp/\">");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"s.html"}, 1, hint},
        {{"-c", "s.html"}, 1, hint},
        {{"-s", "s.html"}, 1, ""},
        {{"-q", "s.html"}, 1, ""},
        {{"--https", "s.html"}, 0, ""},
        // Something found: those before each page's first record counted.
        {{"s.html", "m.html"}, 0,
         "talveron: at least 3 <a href=\"https:// anchors were passed over: --https (or --html) takes them\n"},
        {{"--rejected=/dev/stderr", "s.html"}, 1, hint},  // counted, not listed
    };
    for (const auto& c : cases) {
        HostRun run = Host(c.args);
        EXPECT_EQ(run.status, c.status) << c.args[0];
        EXPECT_EQ(run.err, c.err) << c.args[0];
    }
    std::string err = Host({"--stats", "s.html", "m.html"}).err;
    EXPECT_NE(err.find("talveron: https passed over      3 (--https takes them)\n"), std::string::npos) << err;
    EXPECT_EQ(Host({"--stats=json", "s.html"}).err.find("nothing found"), std::string::npos);
    // --stats counts those behind a page's first record as well.
    Write("late.html", "<a href=\"http://a.jp/\"> <a href=\"https://b.jp/\"> <a href=\"https://c.jp/\">");
    EXPECT_NE(Host({"--stats=json", "late.html"}).err.find("\"https_passed_over\":2,"), std::string::npos);
    // And those of an archive's records.
    Write("s.warc", "WARC/1.1\r\nWARC-Type: resource\r\nWARC-Target-URI: <http://s.jp/>\r\nContent-Length: 24\r\n\r\n"
                    "<a href=\"https://a.jp/\">\r\n\r\n");
    EXPECT_EQ(Host({"s.warc"}).err, "talveron: nothing found, but 1 <a href=\"https:// anchors were passed over: "
                                    "--https takes them\n");
    EXPECT_EQ(Host({"--stats", "--https", "s.html"}).err.find("https passed"), std::string::npos);
    // A page searched in parts counts each anchor once, at every cut.
    Shell("awk 'BEGIN { for (i = 1; i <= 700000; i++) printf \"<a href=\\\"https://x.jp/%d\\\">\\n\", i }' > big.html");
    for (const char* threads : {"-j1", "-j2", "-j3"})
        EXPECT_NE(Host({threads, "--stats=json", "big.html"}).err.find("\"https_passed_over\":700000,"),
                  std::string::npos)
            << threads;
}

TEST_F(HostGrepTest, CompressedStandardInputIsReadFromWhereItStands) {
    // Standard input that a first gzip member was read from: only the
    // member behind it (large enough to be decompressed in segments).
    Shell("gzip -c p.html > first.gz && { head -c 2000000 /dev/urandom; cat p.html; } | gzip -1 > big.gz && "
          "cat first.gz big.gz > two.gz");
    std::string skip = "{ head -c " + std::to_string(Read("first.gz").size()) + " >/dev/null; ";
    EXPECT_EQ(Host({"-z", "-c", "-"}, skip, "; } <two.gz >stdout.txt").out, "2\n");
}

TEST_F(HostGrepTest, TsvNamesEveryRecordWithItsInput) {
    Write("a\tb\\c.html", "<a href=\"http://t.jp\">");
    std::string expected = "a\\tb\\\\c.html\thttp://t.jp/\n";
    std::istringstream records(Host({"-h", "p.html"}).out);
    for (std::string line; std::getline(records, line);) expected += "p.html\t" + line + "\n";
    EXPECT_EQ(Host({"--tsv", "a\tb\\c.html", "p.html"}).out, expected);
    EXPECT_EQ(Host({"--tsv", "p.html"}).out, expected.substr(expected.find("p.html")));  // one input is named too
    EXPECT_EQ(Host({"--tsv", "-h", "p.html"}).status, 2);
    Write("n\nl.html", "<a href=\"http://t.jp\">");
    EXPECT_EQ(Host({"--tsv", "n\nl.html"}).out, "n\\nl.html\thttp://t.jp/\n");
    // CR and the other control bytes would end or forge a field for a reader
    // that splits lines at CR LF: escaped too.
    Write("c\r\x01\x7f\xff.html", "<a href=\"http://t.jp\">");
    EXPECT_EQ(Host({"--tsv", "-c", "c\r\x01\x7f\xff.html"}).out, "c\\r\\x01\\x7F\xff.html\t1\n");
}

TEST_F(HostGrepTest, HttpsAnchorsOnlyWhenAsked) {
    Write("p.html",
          "<a href=\"https://s.jp\">x <A HREF=\"HTTP://h.jp/a.HTML\"> <a href=\"https:/no\"> "
          "<<a href=\"https://hidden\"> <a href=\"HTTPS://big.jp\">");
    EXPECT_EQ(Host({"p.html"}).out, "http://h.jp/a.HTML\n");
    HostRun run = Host({"--https", "-x", "big", "--rejected=r.txt", "p.html"});
    EXPECT_EQ(run.out, "https://s.jp/\nhttp://h.jp/a.HTML\n");
    EXPECT_EQ(Read("r.txt"), "p.html:103: excluded by keyword 1 (big): https://big.jp/\n");
    EXPECT_EQ(Host({"--out-txt", "--https", "p.html"}).status, 2);  // the legacy call stays as it is
}

TEST_F(HostGrepTest, GrepHabitsNeverWriteAFile) {
    // -o is grep's --only-matching: typed from habit, it must not take the
    // page after it as an output file.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-ho", "p.html"}, {"-o", "p.html", "none.html"}, {"-rnothing", "p.html"}}) {
        HostRun run = Host(args);
        EXPECT_EQ(Read("p.html"), kPage);
        EXPECT_EQ(Read("none.html"), "<p>no anchor</p>");
        if (args[0] == "-ho") {
            EXPECT_EQ(run.out, kRecords);
        }
    }
    EXPECT_EQ(Files(), (std::vector<std::string>{"none.html", "p.html"}));
}

TEST_F(HostGrepTest, ExitStatusIsGreps) {
    const struct {
        std::vector<std::string> args;
        int status;
        const char* out;
    } cases[] = {
        {{"p.html"}, 0, kRecords},
        {{"none.html"}, 1, ""},
        {{"-x", "jp", "p.html"}, 1, ""},
        {{"-h", "missing.html", "p.html"}, 2, kRecords},  // trouble wins over records
        {{"-q", "missing.html", "p.html"}, 0, ""},        // but not with -q
        {{"-q", "none.html"}, 1, ""},
        {{"-q", "none.html", "missing.html"}, 2, ""},
        {{"-s", "missing.html"}, 2, ""},
        {{"-c", "none.html"}, 1, "0\n"},
        {{"-L", "none.html", "p.html"}, 0, "none.html\n"},
        {{"-L", "/proc/self/mem", "none.html"}, 2, "none.html\n"},  // opens, and its read fails
        {{"-l", "none.html"}, 1, ""},
    };
    for (const auto& c : cases) {
        HostRun run = Host(c.args);
        EXPECT_EQ(run.status, c.status) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(run.out, c.out) << c.args[0] << " " << c.args[1];
    }
    EXPECT_EQ(Host({"--help"}, "", ">/dev/full").status, 2);
    EXPECT_EQ(Host({"-s", "missing.html"}).err, "");
    EXPECT_EQ(Host({"missing.html"}).err, "talveron: missing.html: No such file or directory\n");
}

TEST_F(HostGrepTest, CountsAndNamesAsGrepPrintsThem) {
    Write("q.html", std::string(kPage) + kPage);
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"-c", "p.html", "none.html", "q.html"}, "p.html:2\nnone.html:0\nq.html:4\n"},
        {{"-ch", "p.html", "q.html"}, "2\n4\n"},
        {{"-c", "q.html"}, "4\n"},
        {{"-cZ", "p.html", "none.html"}, std::string("p.html\0" "2\nnone.html\0" "0\n", 21)},
        {{"-l", "p.html", "none.html", "q.html"}, "p.html\nq.html\n"},
        {{"-lZ", "p.html", "q.html"}, std::string("p.html\0q.html\0", 14)},
        {{"-L", "p.html", "none.html", "q.html"}, "none.html\n"},
        {{"-HZ", "p.html"}, std::string("p.html\0http://a.jp/x.html\np.html\0http://b.jp/\n", 46)},
    };
    for (const auto& c : cases) EXPECT_EQ(Host(c.args).out, c.out) << c.args[0];
    EXPECT_EQ(Host({"-H", "--label=page", "-"}, "cat p.html | ").out, "page:http://a.jp/x.html\npage:http://b.jp/\n");
    EXPECT_EQ(Host({"-c", "--label=page", "-", "none.html"}, "cat p.html | ").out, "page:2\nnone.html:0\n");
}

TEST_F(HostGrepTest, WalksTakeGrepsFiltersAndTheKindsPagesComeIn) {
    Shell("mkdir -p d/sub d/skip && ln -s ../../p.html d/sub/link.html");
    for (const char* name : {"d/a.xhtml", "d/b.SHTML", "d/c.xht", "d/d.txt", "d/sub/e.htm", "d/skip/f.html"})
        Write(name, std::string("<a href=\"http://") + name + "\">");
    auto names = [&](const std::vector<std::string>& args) {
        std::vector<std::string> all = {"-l"};
        all.insert(all.end(), args.begin(), args.end());
        return Host(all).out;
    };
    EXPECT_EQ(names({"d"}), "d/a.xhtml\nd/b.SHTML\nd/c.xht\nd/skip/f.html\nd/sub/e.htm\n");
    EXPECT_EQ(names({"d/sub/"}), "d/sub/e.htm\n");  // no doubled slash
    EXPECT_EQ(names({"-r", "--include=*.txt", "d"}), "d/d.txt\n");
    EXPECT_EQ(names({"--include=*.txt", "--include=*.htm", "d"}), "d/d.txt\nd/sub/e.htm\n");
    EXPECT_EQ(names({"--exclude=*.x*", "--exclude-dir=skip", "d"}), "d/b.SHTML\nd/sub/e.htm\n");
    EXPECT_EQ(names({"--all-files", "--exclude=[abc]*", "d"}), "d/d.txt\nd/skip/f.html\nd/sub/e.htm\n");
    // -R follows the link; without it, it is left out.
    EXPECT_EQ(names({"-R", "d/sub"}), "d/sub/e.htm\nd/sub/link.html\n");
    EXPECT_EQ(names({"d/sub"}), "d/sub/e.htm\n");
    // A link back up is a loop that -R reports and leaves.
    Shell("ln -s .. d/sub/up");
    HostRun run = Host({"-Rl", "d/sub"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("d/sub/up/sub: Too many levels of symbolic links"), std::string::npos) << run.err;
    // A file system that does not tell types gives the same walk, filters,
    // links followed by -R and all.
    Shell("mkdir d/sub/linked && ln -s ../skip d/sub/dirlink");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"d"}, {"--exclude=*.x*", "--exclude-dir=skip", "d"}, {"-R", "--include=*.htm*", "d"},
             {"-R", "--exclude=link*", "d"}, {"-R", "--exclude-dir=skip", "d"}, {"--all-files", "--exclude=[abc]*", "d"}}) {
        std::vector<std::string> all = {"-l"};
        all.insert(all.end(), args.begin(), args.end());
        EXPECT_EQ(Host(all, Shim("SHIM_DT_UNKNOWN=1")).out, names(args)) << ::testing::PrintToString(args);
    }
    // --exclude-dir matches a directory by the name it is met by, as grep's.
    EXPECT_EQ(names({"-R", "--exclude-dir=skip", "d"}),
              "d/a.xhtml\nd/b.SHTML\nd/c.xht\nd/sub/dirlink/f.html\nd/sub/e.htm\nd/sub/link.html\n");
    EXPECT_EQ(names({"-R", "--exclude-dir=dirlink", "--exclude-dir=up", "d/sub"}), "d/sub/e.htm\nd/sub/link.html\n");
    // --exclude-dir also skips a directory named, by any suffix of its name
    // after a '/' (as grep 3.8); the current directory of no INPUT is walked.
    EXPECT_EQ(names({"--exclude-dir=sub", "d/sub/", "p.html"}), "p.html\n");
    EXPECT_EQ(names({"--exclude-dir=d/s*", "d/sub", "d/skip", "d/sub/e.htm"}), "d/sub/e.htm\n");
    EXPECT_EQ(names({"--exclude-dir=u*", "--exclude-dir=d", "d//sub"}), "d//sub/e.htm\n");
    EXPECT_EQ(names({"--exclude-dir=sub", "d//sub"}), "");
    run = Host({"--exclude-dir=d", "d"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("1 directory(ies) matched by --exclude-dir"), std::string::npos) << run.err;
    EXPECT_EQ(Shell("cd d && " + Quote(TALVERON_HOST) + " -rl --exclude-dir=. --exclude-dir=skip"), "a.xhtml\nb.SHTML\nc.xht\nsub/e.htm\n");
    EXPECT_EQ(Shell("cd d && " + Quote(TALVERON_HOST) + " -l --exclude-dir=. . 2>&1"),
              "talveron: no files were searched: the walk left out 1 directory(ies) matched by --exclude-dir\n");
    // A walk that met no page says which filter left the files out, naming
    // the options given, and exits 1 as grep and ripgrep do.
    run = Host({"--exclude=*", "d"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no files were searched"), std::string::npos);
    EXPECT_NE(run.err.find("matched by --exclude"), std::string::npos) << run.err;
    run = Host({"d/skip", "--exclude=f*"});
    EXPECT_EQ(run.status, 1);
    Shell("mkdir txt && echo x > txt/a.txt");
    run = Host({"txt"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("1 file(s) not named *.htm"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(".gz"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("--include or -g"), std::string::npos) << run.err;
    EXPECT_EQ(Host({"-s", "txt"}).err, "");
    // A link to nothing that -R would follow is told of, as grep -R tells it.
    Shell("mkdir e && ln -s nothing e/dead.html");
    run = Host({"-R", "e"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "talveron: e/dead.html: No such file or directory\n");
}

TEST_F(HostGrepTest, NoInputOnATerminalSearchesTheCurrentDirectory) {
    // `script` gives talveron a terminal for its standard input.
    Shell("script -qec " + Quote(Quote(TALVERON_HOST) + " -l >found.txt") + " /dev/null </dev/null");
    EXPECT_EQ(Read("found.txt"), "p.html\n");  // named as grep -r names them
    EXPECT_EQ(Host({"-lr"}, "", ">stdout.txt </dev/null").out, "p.html\n");
    EXPECT_EQ(Host({"-l", "."}).out, "./p.html\n");
    EXPECT_EQ(Host({"-l"}, "cat p.html | ").out, "(standard input)\n");
}

TEST_F(HostGrepTest, NamesThatWouldBreakALineAreQuoted) {
    std::string name = "a\nb.html";
    Write(name, kPage);
    HostRun run = Host({"-x", "x.html", "--rejected=/dev/stderr", "-H", name, "missing\x01.html"});
    EXPECT_EQ(run.out, "'a'$'\\n''b.html':http://b.jp/\n");
    EXPECT_EQ(run.err, "'a'$'\\n''b.html':0: excluded by keyword 1 (x.html): http://a.jp/x.html\n"
                       "talveron: 'missing'$'\\001''.html': No such file or directory\n");
    // With -Z the name is as it is: the 0 byte ends it.
    EXPECT_EQ(Host({"-lZ", name}).out, name + std::string(1, '\0'));
    // Valid UTF-8 stays as it is; invalid bytes do not.
    Write("\xe6\x97\xa5.html", kPage);
    Write("\xff.html", kPage);
    EXPECT_EQ(Host({"-l", "\xe6\x97\xa5.html", "\xff.html"}).out, "\xe6\x97\xa5.html\n$'\\377''.html'\n");
}

TEST_F(HostGrepTest, TwoNamesOfOneFileAreAUsageError) {
    Write("r.txt", "old\n");
    Shell("ln -s r.txt l.txt && ln -s new.txt dangling.txt");
    const std::vector<std::string> cases[] = {
        {"--output=r.txt", "--rejected=r.txt", "p.html"},
        {"--output=r.txt", "--rejected=l.txt", "p.html"},
        {"--output=new.txt", "--rejected=./new.txt", "p.html"},
        {"--output=new.txt", "--rejected=dangling.txt", "p.html"},  // a link to a file not yet made
        {"--rejected=r.txt", "p.html"},  // with standard output r.txt
    };
    for (const auto& args : cases) {
        HostRun run = Host(args, "", args.size() == 2 ? ">>r.txt" : ">stdout.txt");
        EXPECT_EQ(run.status, 2) << args[1];
        EXPECT_NE(run.err.find("are the same file"), std::string::npos) << run.err;
        EXPECT_EQ(Read("r.txt"), "old\n");
        EXPECT_FALSE(Exists("new.txt"));
    }
    // Standard error into the --output file: its messages would be lost.
    Write("s.txt", "old\n");
    Host({"--output=s.txt", "p.html", "missing.html"}, "", ">stdout.txt 2>>s.txt; true");
    EXPECT_EQ(Read("s.txt").rfind("old\ntalveron: standard error and --output=s.txt are the same file\n", 0), 0u)
        << Read("s.txt");
}

TEST_F(HostGrepTest, RejectedThroughTheRecordsStreamArrivesWhole) {
    // 20,000 anchors, every other one excluded: records and rejected lines
    // share one file, written through the one descriptor.
    std::string page;
    for (int i = 0; i < 20000; ++i) page += "<a href=\"http://" + std::string(i % 2 ? "drop" : "keep") + std::to_string(i) + ".jp/\">";
    Write("big.html", page);
    for (const char* redirect : {">all.txt", ">all.txt 2>&1"}) {
        std::string rejected = std::string(redirect).find("2>&1") != std::string::npos ? "/dev/stderr" : "/dev/stdout";
        std::string command = Quote(TALVERON_HOST) + " -x drop --rejected=" + rejected + " big.html " + redirect;
        Shell(command);
        std::string all = Read("all.txt");
        std::istringstream lines(all);
        int records = 0, dropped = 0, torn = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("http://keep", 0) == 0 && line.back() == '/') ++records;
            else if (line.rfind("big.html:", 0) == 0 && line.find("excluded by keyword 1 (drop): http://drop") != std::string::npos) ++dropped;
            else ++torn;
        }
        EXPECT_EQ(records, 10000) << redirect;
        EXPECT_EQ(dropped, 10000) << redirect;
        EXPECT_EQ(torn, 0) << redirect;
    }
}

TEST_F(HostGrepTest, ClosedStandardDescriptorsAreNeverTakenByAFile) {
    Write("q.html", "<a href=\"http://q.jp\">");
    // Standard output closed and needed: refused.
    HostRun run = Host({"p.html"}, "", ">&-");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "talveron: standard output: Bad file descriptor\n");
    // Not needed: the records reach --output, not the --rejected file that
    // would have taken descriptor 1.
    run = Host({"--output=out.txt", "--rejected=why.txt", "-x", "b.jp", "p.html"}, "", ">&-");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("out.txt"), "http://a.jp/x.html\n");
    EXPECT_EQ(Read("why.txt"), "p.html:35: excluded by keyword 1 (b.jp): http://b.jp/\n");
    // Standard error closed: no message lands in the output file.
    Host({"--output=out.txt", "p.html", "missing.html"}, "", ">stdout.txt 2>&-; true");
    EXPECT_EQ(Read("out.txt"), "p.html:http://a.jp/x.html\np.html:http://b.jp/\n");
    // Standard input closed: a named input is not read as "-".
    run = Host({"-H", "q.html", "-"}, "", ">stdout.txt <&-");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "talveron: standard input: Bad file descriptor\n");
    run = Host({"-H", "q.html", "p.html"}, "", ">stdout.txt <&-");
    EXPECT_EQ(run.out, "q.html:http://q.jp/\np.html:http://a.jp/x.html\np.html:http://b.jp/\n");
}

TEST_F(HostGrepTest, StreamsThatPauseOrFailAreHeardOf) {
    // A pipe that pauses: what was found goes out before talveron waits.
    Shell("{ (printf '%s' '" + std::string(kPage) + "'; sleep 2) | " + Quote(TALVERON_HOST) +
          " - >out.txt & sleep 1; cp out.txt early.txt; wait; }");
    EXPECT_EQ(Read("early.txt"), kRecords);
    // The same with the dropped addresses in the records' stream.
    Shell("{ (printf '%s' '" + std::string(kPage) + "'; sleep 2) | " + Quote(TALVERON_HOST) +
          " -x b.jp --rejected=/dev/stdout - >out.txt & sleep 1; cp out.txt early.txt; wait; }");
    EXPECT_NE(Read("early.txt").find("excluded by keyword 1 (b.jp): http://b.jp/\n"), std::string::npos)
        << Read("early.txt");
    // A --rejected file that cannot be written is trouble, records or not.
    HostRun run = Host({"-x", "b.jp", "--rejected=/dev/full", "p.html"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "http://a.jp/x.html\n");
    EXPECT_EQ(run.err, "talveron: /dev/full: No space left on device\n");
}

TEST_F(HostGrepTest, ListsOfNamesThatCannotBeReadAreErrors) {
    mkdir((dir_ + "/dir").c_str(), 0755);
    const struct {
        std::string before;
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {"printf 'p.html\\0-\\0none.html\\0' | ", {"--files0-from=-"}, "no file name of '-' allowed"},
        {"", {"--files0-from=dir"}, "talveron: dir: Is a directory"},
        {"printf 'p.html\\0\\0' | ", {"--files0-from=-"}, "talveron: : No such file or directory"},
    };
    for (const auto& c : cases) {
        HostRun run = Host(c.args, c.before);
        EXPECT_EQ(run.status, 2) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("none.html"), std::string::npos);
    }
}

TEST_F(HostGrepTest, ADirectoryWhoseReadFailsIsNamedAndTheWalkGoesOn) {
    Shell("mkdir d e");
    for (int i = 0; i < 10; ++i) Write("d/" + std::to_string(i) + ".html", "<a href=\"http://d/\">");
    Write("e/p.html", "<a href=\"http://e/\">");
    HostRun run = Host({"-l", "d", "e"}, Shim("SHIM_READDIR_EIO=d:6"));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("talveron: d: Input/output error"), std::string::npos) << run.err;
    // What was read before the failure is searched, and so is the rest.
    std::size_t lines = std::count(run.out.begin(), run.out.end(), '\n');
    EXPECT_GE(lines, 5u) << run.out;
    EXPECT_LT(lines, 8u) << run.out;
    EXPECT_NE(run.out.find("e/p.html\n"), std::string::npos);
    // A listing names the directory itself, to be walked again where it is searched.
    run = Host({"--list-inputs", "d", "e"}, Shim("SHIM_READDIR_EIO=d:6"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, std::string("d\0e/p.html\0", 11));
}

// Each allocation of a run made to fail in turn: the run ends as it did,
// or with a diagnostic, exit 2 and only records it would have written, in
// their order. Never an abort, never a short output with exit 0.
TEST_F(HostGrepTest, EveryAllocationThatFailsIsSaidAndTheRecordsBeforeItStand) {
#ifdef TALVERON_SANITIZED
    GTEST_SKIP() << "the sanitizers' allocator cannot be failed by the shim";
#endif
    Shell("mkdir d && for i in $(seq 12); do echo \"<a href=http://d.jp/$i>\" > d/p$i.html; done && "
          "seq 3000 | sed 's|.*|<a href=\"http://q.jp/&\">|' > q.html && gzip -k q.html && "
          "for i in $(seq 30); do head -c 40000 /dev/urandom | od -An -tx1 -w32 | tr -d ' ' | "
          "sed 's|.*|<a href=\"http://s.jp/&\">|' | gzip -1; done > s.html.gz");
    std::string warc;
    for (int i = 0; i < 4; ++i) {
        std::string body = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" +
                           Shell("printf '<a href=\"http://w.jp/" + std::to_string(i) + "\">' | gzip");
        warc += "WARC/1.0\r\nWARC-Type: response\r\nWARC-Target-URI: http://w.jp/\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body + "\r\n\r\n";
    }
    Write("a.warc", warc);
    const std::vector<std::vector<std::string>> cases = {
        {"-z", "q.html.gz", "q.html"},          // a stream decoded on a thread of its own
        {"-j1", "--tsv", "d", "a.warc"},        // a walk opened ahead, an archive's coded bodies
        {"-j2", "-z", "s.html.gz", "d"},  // gzip members decoded on several threads
        {"-j2", "--output=o.txt", "d", "q.html"},
    };
    auto lines = [](const std::string& text) {
        std::vector<std::string> all;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) all.push_back(line);
        return all;
    };
    for (const auto& args : cases) {
        std::string shown = ::testing::PrintToString(args);
        HostRun whole = Host(args, Shim("SHIM_COUNT_ALLOC=count"));
        if (whole.out.empty()) whole.out = Read("o.txt");
        ASSERT_EQ(whole.status, 0) << shown << whole.err;
        int count = std::stoi(Read("count"));
        std::vector<std::string> expected = lines(whole.out);
        for (int n = 1; n <= count; ++n) {
            Shell("rm -f o.txt");
            HostRun run = Host(args, Shim("SHIM_FAIL_ALLOC=" + std::to_string(n)));
            std::string out = run.out.empty() ? Read("o.txt") : run.out;
            std::string at = shown + " allocation " + std::to_string(n) + ": " + run.err;
            if (run.status == 0) {
                EXPECT_EQ(out, whole.out) << at;
                continue;
            }
            EXPECT_EQ(run.status, 2) << at;
            EXPECT_NE(run.err.find("talveron: "), std::string::npos) << at;
            // Only whole records of the run, in their order.
            std::size_t k = 0;
            for (const std::string& line : lines(out)) {
                while (k < expected.size() && expected[k] != line) ++k;
                ASSERT_LT(k++, expected.size()) << at << "a record it would not write: " << line;
            }
        }
    }
}

TEST_F(HostGrepTest, APageSwappedAfterTheListingIsNotFollowed) {
    Shell("mkdir d && mkfifo d/fifo && ln -s ../p.html d/link");
    Write("d/x.html", "<a href=\"http://x.jp\">");
    Write("d/y.html", "<a href=\"http://y.jp\">");
    // A pipe put in its place does not hang the walk; a link does not lead
    // out of it.
    HostRun run = Host({"-c", "d"}, "timeout 20 env " + Shim("SHIM_SWAP=x.html:fifo"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "d/y.html:1\n");  // the pipe is not an input at all
    run = Host({"-l", "d"}, Shim("SHIM_SWAP=y.html:link"));
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("no files were searched"), std::string::npos) << run.err;
}

TEST_F(HostGrepTest, OutputIsReplacedWholeAndNeverLeavesItsTemporaryFile) {
    // A pipe (as a device) is written directly and stays a pipe.
    Shell("mkfifo fifo && (cat fifo >got.txt &) ");
    EXPECT_EQ(Host({"--output=fifo", "p.html"}).status, 0);
    Shell("sleep 0.2");
    EXPECT_EQ(Read("got.txt"), kRecords);
    EXPECT_EQ(Shell("test -p fifo && echo pipe"), "pipe\n");
    // A failed close of the temporary file stops the rename.
    Write("out.txt", "old\n");
    HostRun run = Host({"--output=out.txt", "p.html"}, Shim("SHIM_FAIL_CLOSE=.talveron-"));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "talveron: out.txt: Input/output error\n");
    EXPECT_EQ(Read("out.txt"), "old\n");
    // The owner and mode of the file replaced are kept (root may give a
    // file away; others own what they replace anyway).
    if (geteuid() == 0) {
        Shell("chown 1234:1234 out.txt && chmod 604 out.txt");
        EXPECT_EQ(Host({"--output=out.txt", "p.html"}).status, 0);
        EXPECT_EQ(Shell("stat -c '%u:%g %a' out.txt"), "1234:1234 604\n");
    }
    // Other hard links see the new contents, as after a shell's >.
    Shell("ln out.txt other.txt");
    EXPECT_EQ(Host({"--output=out.txt", "p.html"}).status, 0);
    EXPECT_EQ(Read("other.txt"), kRecords);
    Shell("rm other.txt");
    if (geteuid() == 0) {
        // Another user: a file their > could not write is not replaced; one
        // they may write keeps its owner, in a directory they cannot write too.
        Shell("chmod 777 . && mkdir shut && echo old >shut/w.txt && chmod 666 shut/w.txt && echo old >ro.txt && "
              "chmod 444 ro.txt && chown nobody ro.txt");
        const std::string nobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
        run = Host({"--output=ro.txt", "p.html"}, nobody);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "talveron: ro.txt: Permission denied\n");
        EXPECT_EQ(Read("ro.txt"), "old\n");
        EXPECT_EQ(Host({"--output=shut/w.txt", "p.html"}, nobody).status, 0);
        EXPECT_EQ(Read("shut/w.txt"), kRecords);
        EXPECT_EQ(Shell("stat -c %U shut/w.txt; ls -A shut"), "root\nw.txt\n");
    }
    // A walk never reads the temporary file.
    Shell("mkdir d && cp p.html d/");
    run = Host({"--all-files", "--stats", "--output=d/out.txt", "d"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("inputs searched        1\n"), std::string::npos) << run.err;
    // Every signal that ends the run removes it; one that was ignored when
    // the run began (nohup) stays ignored.
    for (const char* signal : {"HUP", "TERM", "PIPE", "XFSZ", "USR1", "USR2", "ALRM"}) {
        Shell("(sleep 4.71 | " + Quote(TALVERON_HOST) + " --output=out.txt - & sleep 0.3; pkill -" + signal +
              " -f -- '--output=out.txt -$'; pkill -f 'sleep 4.71'; wait) 2>/dev/null");
        EXPECT_EQ(Shell("ls -A | grep talveron-"), "") << signal;
    }
    run = Host({"--output=out.txt", "-"}, "(trap '' HUP; (printf '%s' '" + std::string(kPage) + "'; sleep 1) | ",
               "& sleep 0.3; pkill -HUP -f -- '--output=out.txt -$'; wait $!) >stdout.txt");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Read("out.txt"), kRecords);
}

// FILE with a second hard link is written into in place at the end: it
// ends as one run's whole output, or as it was.
TEST_F(HostGrepTest, AFileWrittenIntoInPlaceEndsWholeOrAsItWas) {
    std::string page, records;
    for (int i = 0; i < 300; ++i) {
        page += "<a href=\"http://big.jp/" + std::to_string(i) + "\">";
        records += "http://big.jp/" + std::to_string(i) + "/\n";
    }
    Write("big.html", page);
    const std::string old(records.size() + 5000, 'o');
    auto reset = [&] {
        Shell("rm -f out.txt other.txt");
        Write("out.txt", old);
        Shell("ln out.txt other.txt");
    };
    // An old FILE longer than the new output keeps none of its tail.
    reset();
    EXPECT_EQ(Host({"--output=out.txt", "big.html"}).status, 0);
    EXPECT_EQ(Read("other.txt"), records);
    // A disk without room for the new output: FILE as it was.
    reset();
    HostRun run = Host({"--output=out.txt", "big.html"}, Shim("SHIM_DISK_FREE=/out.txt:" + std::to_string(records.size() - 1)));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "talveron: out.txt: No space left on device\n");
    EXPECT_EQ(Read("other.txt"), old);
    // A signal during the copy is acted on once the copy is whole.
    reset();
    run = Host({"--output=out.txt", "big.html"}, Shim("SHIM_TERM_IN_WRITE=/out.txt"));
    EXPECT_EQ(run.status, 128 + SIGTERM);
    EXPECT_EQ(Read("other.txt"), records);
    EXPECT_EQ(Shell("ls -A | grep talveron-"), "");
    // Another run writing into it meanwhile (here one that holds its lock)
    // is waited for.
    reset();
    Shell("(flock 9; " + Quote(TALVERON_HOST) + " --output=out.txt big.html 9>&- & sleep 0.5; cat out.txt >during.txt) 9<out.txt; wait");
    EXPECT_EQ(Read("during.txt"), old);
    EXPECT_EQ(Read("other.txt"), records);
}

// A run that searched no input at all and failed leaves FILE as it was: an
// empty file would say that nothing was found.
TEST_F(HostGrepTest, AFileIsLeftAsItWasWhenNoInputWasSearched) {
    Shell("mkdir d && cp p.html d/");
    Write("out.txt", "old\n");
    HostRun run = Host({"--output=out.txt", "missing.html"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("out.txt: left unchanged: no input was searched"), std::string::npos) << run.err;
    EXPECT_EQ(Read("out.txt"), "old\n");
    // A walk that took no page is no failure: nothing was found, as grep's
    // status 1 says, and FILE says so too.
    EXPECT_EQ(Host({"--output=out.txt", "--include=*.none", "d"}).status, 1);
    EXPECT_EQ(Read("out.txt"), "");
    // One input searched, one not: FILE holds what was found.
    EXPECT_EQ(Host({"-h", "--output=out.txt", "p.html", "missing.html"}).status, 2);
    EXPECT_EQ(Read("out.txt"), kRecords);
}

// A file of the run met as an input: both files are left as they were, and
// each message names the file that was the input.
TEST_F(HostGrepTest, AFileOfTheRunMetAsAnInputIsTheOneNamed) {
    Shell("mkdir d && cp p.html d/ && echo old >d/out.html && echo old >why.txt && echo old >out.txt");
    HostRun run = Host({"-x", "a.jp", "-O", "d/out.html", "--rejected=why.txt", "d"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("talveron: d/out.html: left unchanged: it is also an input\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("talveron: why.txt: left unchanged: --output=d/out.html is also an input\n"), std::string::npos)
        << run.err;
    run = Host({"-x", "a.jp", "-O", "out.txt", "--rejected=d/out.html", "d"});
    EXPECT_NE(run.err.find("talveron: out.txt: left unchanged: --rejected=d/out.html is also an input\n"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("talveron: d/out.html: left unchanged: it is also an input\n"), std::string::npos) << run.err;
    EXPECT_EQ(Read("why.txt") + Read("out.txt") + Read("d/out.html"), "old\nold\nold\n");
}

// A link's relative target is taken from the link's own folder, whether the
// file it names exists or is to be made.
TEST_F(HostGrepTest, ALinksRelativeTargetIsFromItsFolder) {
    Shell("mkdir sub real && echo old >real/out.txt && ln -s ../real/out.txt sub/old.txt && "
          "ln -s ../real/new.txt sub/new.txt && echo stray >out.txt");
    EXPECT_EQ(Host({"-h", "--output=sub/old.txt", "p.html"}).status, 0);
    EXPECT_EQ(Read("real/out.txt"), kRecords);
    EXPECT_EQ(Host({"-h", "--output=sub/new.txt", "--rejected=sub/old.txt", "p.html"}).status, 0);
    EXPECT_EQ(Read("real/new.txt"), kRecords);
    EXPECT_EQ(Read("real/out.txt"), "");  // nothing dropped, the second time
    EXPECT_EQ(Read("out.txt"), "stray\n");
    EXPECT_EQ(Shell("ls -A sub; readlink sub/old.txt sub/new.txt; ls -A real"),
              "new.txt\nold.txt\n../real/out.txt\n../real/new.txt\nnew.txt\nout.txt\n");
}

// Through a link to a file not yet made, FILE is made as a new file is:
// whole at the end, with the mode the umask leaves.
TEST_F(HostGrepTest, ALinkToNothingMakesItsFileWholeAtTheEnd) {
    Shell("ln -s made.txt link.txt");
    HostRun run = Host({"--all-or-nothing", "--output=link.txt", "p.html", "missing.html"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("link.txt: left unchanged: not every input was searched"), std::string::npos) << run.err;
    EXPECT_EQ(Shell("ls -A"), "link.txt\nnone.html\np.html\n");
    EXPECT_EQ(Host({"--output=link.txt", "p.html"}, "umask 027; ").status, 0);
    EXPECT_EQ(Read("made.txt"), kRecords);
    EXPECT_EQ(Shell("stat -c '%a' made.txt; readlink link.txt"), "640\nmade.txt\n");
    // Links in a loop name no file: refused, as the shell's > refuses them.
    Shell("ln -s loop2 loop1 && ln -s loop1 loop2");
    run = Host({"--output=loop1", "p.html"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "talveron: loop1: Too many levels of symbolic links\n");
    EXPECT_EQ(Shell("readlink loop1"), "loop2\n");
}

}  // namespace

namespace {

// talveron run by `script`, so that its standard error is a terminal; what
// the terminal received.
class HostTerminalTest : public HostTest {
protected:
    std::string OnTerminal(const std::string& command) {
        Shell("script -qec " + Quote(command) + " terminal.txt </dev/null >/dev/null");
        return Read("terminal.txt");
    }
    static bool Drawn(const std::string& screen) { return screen.find(" inputs, ") != std::string::npos; }
    // No progress line is left on the screen: each one drawn is erased.
    static bool Erased(const std::string& screen) {
        std::size_t last = screen.rfind(" inputs, ");
        return last != std::string::npos && screen.find("\r\033[K", screen.find("\033[K", last) + 3) != std::string::npos;
    }
    std::string Slow(int pieces) {
        return "(for i in $(seq " + std::to_string(pieces) +
               "); do printf '<a href=\"http://x.jp\">'; sleep 0.3; done) | " + Quote(TALVERON_HOST);
    }
};

TEST_F(HostTerminalTest, TheProgressLineNeverMixesWithRecordsOrMessages) {
    Write("p.html", "<a href=\"http://a.jp\">");
    // A run under a second draws none.
    EXPECT_FALSE(Drawn(OnTerminal(Quote(TALVERON_HOST) + " p.html missing.html >out.txt")));
    // A longer one does, and erases it before a message and at the end.
    std::string screen = OnTerminal(Slow(6) + " - missing.html >out.txt");
    EXPECT_TRUE(Drawn(screen)) << screen;
    EXPECT_NE(screen.find("\r\033[Ktalveron: missing.html: No such file or directory"), std::string::npos) << screen;
    EXPECT_TRUE(Erased(screen)) << screen;
    std::string records;
    for (int i = 0; i < 6; ++i) records += "(standard input):http://x.jp/\n";
    EXPECT_EQ(Read("out.txt"), records);
    // Records on the same terminal: no line is drawn among them.
    EXPECT_FALSE(Drawn(OnTerminal(Slow(6) + " -")));
    EXPECT_FALSE(Drawn(OnTerminal(Slow(6) + " --no-progress - >out.txt")));
    // A signal that ends the run erases it.
    screen = OnTerminal("(" + Slow(10) + " - >out.txt & sleep 2; kill -TERM $!; wait)");
    EXPECT_TRUE(Drawn(screen)) << screen;
    EXPECT_TRUE(Erased(screen)) << screen;
}

// Whatever else goes to the terminal while the line stands there, it goes
// after the line is erased: diagnostics, --rejected on standard error, the
// module's messages, the summary.
TEST_F(HostTerminalTest, EveryOtherLineErasesTheProgressLineFirst) {
    Write("p.html", "<a href=\"http://a.jp\">");
    std::string screen = OnTerminal("(for i in $(seq 6); do printf '<a href=\"http://ads.jp\">'; sleep 0.3; done) | " +
                                    Quote(TALVERON_HOST) +
                                    " -x ads --rejected=/dev/stderr --messages --stats - p.html missing.html >out.txt");
    ASSERT_TRUE(Drawn(screen)) << screen;
    for (const char* said : {"(standard input):0: excluded", "No such file", "] ", "inputs searched"})
        EXPECT_NE(screen.find(said), std::string::npos) << said << screen;
    int drawn = 0;
    for (std::size_t at = 0; (at = screen.find(" inputs, ", at)) != std::string::npos; ++at, ++drawn) {
        std::size_t end = screen.find("\033[K", at);
        ASSERT_NE(end, std::string::npos) << screen;
        // Drawn again in place, or erased: never a line written behind it.
        EXPECT_EQ(screen.compare(end + 3, 1, "\r"), 0) << screen.substr(at, 200);
        EXPECT_NE(screen.compare(end + 3, 2, "\r\n"), 0) << screen.substr(at, 200);
    }
    EXPECT_GE(drawn, 1);
}

}  // namespace

// -i: the keywords match ASCII letters in either case, in both ways of
// reading a page and in every part of a large file; never other bytes.
TEST_F(HostGrepTest, IgnoreCaseFoldsTheKeywords) {
    Write("k.html", "<a href=\"http://ads.example.com/\"> <a href=\"http://x.jp/Ads/\"> <a href=\"http://x.jp/\xc3\x89/\">"
                    "<a href=\"http://x.jp/ok/\">");
    EXPECT_EQ(Host({"-x", "ADS", "k.html"}).out, "http://ads.example.com/\nhttp://x.jp/Ads/\nhttp://x.jp//\nhttp://x.jp/ok/\n");
    HostRun run = Host({"-i", "-x", "ADS", "-x", "\xc3\xa9", "--rejected=/dev/stderr", "k.html"});
    EXPECT_EQ(run.out, "http://x.jp//\nhttp://x.jp/ok/\n");  // É is no é: its bytes are removed
    EXPECT_EQ(run.err, "k.html:0: excluded by keyword 1 (ADS): http://ads.example.com/\n"
                       "k.html:35: excluded by keyword 1 (ADS): http://x.jp/Ads/\n");
    EXPECT_EQ(Host({"--html", "-x", "ADS", "-c", "k.html"}).out, "4\n");
    EXPECT_EQ(Host({"--html", "--ignore-case", "-x", "ads", "-x", "\xc3\xa9", "k.html"}).out,
              "http://x.jp/%C3%89/\nhttp://x.jp/ok/\n");
    // A file searched in parts at once.
    std::string big;
    while (big.size() < (20u << 20)) big += "<a href=\"http://x.jp/AdS/\"> <a href=\"http://x.jp/y/\"> " + std::string(200, ' ');
    Write("big.html", big);
    EXPECT_EQ(Host({"-j4", "-i", "-x", "aDs", "-c", "big.html"}).out, Host({"-j1", "-x", "y/", "-c", "big.html"}).out);
}

// grep's and ripgrep's habits: options that change nothing here give the
// same bytes; those that would mean something else are refused with why.
TEST_F(HostGrepTest, RipgrepAndGrepHabits) {
    Shell("mkdir -p w/.d && cp p.html w/.h.html && cp p.html w/.d/x.html && cp none.html w/y.html");
    const std::string all = Host({"-c", "w"}).out;
    EXPECT_EQ(all, "w/.d/x.html:2\nw/.h.html:2\nw/y.html:0\n");
    const struct {
        std::vector<std::string> args;
        std::string out;
    } same[] = {
        {{"-i", "-a", "-N", "-uuu", "--hidden", "--no-ignore", "--color=never", "--colour", "-c", "w"}, all},
        {{"-c", "-g", "*.html", "-g", "!x.html", "w"}, "w/.h.html:2\nw/y.html:0\n"},
        {{"-c", "--glob=x.*", "w"}, "w/.d/x.html:2\n"},
    };
    for (const auto& c : same) {
        HostRun run = Host(c.args);
        EXPECT_EQ(run.out, c.out) << c.args[0];
        EXPECT_EQ(run.status, 0) << run.err;
    }
    const struct {
        std::vector<std::string> args;
        const char* said;
    } refused[] = {
        {{"-t", "html", "w"}, "unknown option '-t' (ripgrep's, but talveron reads pages and web archives: choose files with -g or --include)"},
        {{"--type=html", "w"}, "unknown option '--type' (ripgrep's"},
        {{"--tsv", "-l", "w"}, "--tsv prints records: it does not go with -l or -L"},
        {{"-L", "--tsv", "w"}, "--tsv prints records"},
    };
    for (const auto& c : refused) {
        HostRun run = Host(c.args);
        EXPECT_EQ(run.status, 2) << c.args[0];
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    }
}
