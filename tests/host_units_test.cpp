// The tool's jobs one at a time: the option table, the names it shows, the
// filters of a walk, and how it tells two names of one file apart.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "host/inputs.h"
#include "host/jobs.h"
#include "host/messages.h"
#include "host/options.h"
#include "host/progress.h"
#include "host/replaced_file.h"

namespace {

struct Parsed {
    Command command;
    Options options;
    std::string error;
};

Parsed Parse(std::vector<std::string> args, bool terminal = false) {
    args.insert(args.begin(), "talveron");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    Parsed parsed;
    parsed.command = ParseOptions(static_cast<int>(args.size()), argv.data(), parsed.options, parsed.error, terminal);
    return parsed;
}

TEST(HostOptions, LaterOptionsWinAndValuesAreTakenAsTheyStand) {
    EXPECT_EQ(Parse({"-H", "-h", "p"}).options.withFilename, 0);
    EXPECT_EQ(Parse({"-h", "-H", "p"}).options.withFilename, 1);
    EXPECT_EQ(Parse({"-hH", "p"}).options.withFilename, 1);
    EXPECT_EQ(Parse({"-c", "-l", "p"}).options.listing, Listing::kFilesWithMatches);
    EXPECT_EQ(Parse({"-l", "-c", "p"}).options.listing, Listing::kFilesWithMatches);  // -l and -L win, as in grep
    EXPECT_EQ(Parse({"-Lc", "p"}).options.listing, Listing::kFilesWithoutMatch);
    // A value that looks like an option, and a bundled one.
    EXPECT_EQ(Parse({"-x", "-H", "p"}).options.keywords, std::vector<std::string>{"-H"});
    EXPECT_EQ(Parse({"-qx-a", "p"}).options.keywords, std::vector<std::string>{"-a"});
    EXPECT_EQ(Parse({"--exclude-keyword", "a", "--exclude-keyword=", "p"}).options.keywordLine, "a ");
    // --exclude is grep's file filter, never a keyword.
    Parsed parsed = Parse({"--exclude=*.bak", "p"});
    EXPECT_TRUE(parsed.options.keywords.empty());
    EXPECT_EQ(parsed.options.excludes, std::vector<std::string>{"*.bak"});
    // -o changes nothing, and takes no operand with it.
    parsed = Parse({"-ho", "page.html"});
    EXPECT_EQ(parsed.options.output, "");
    EXPECT_EQ(parsed.options.inputs, std::vector<std::string>{"page.html"});
    EXPECT_EQ(Parse({"-Oout.txt", "p"}).options.output, "out.txt");
    EXPECT_EQ(Parse({"--output=-", "p"}).options.output, "");
    // Inputs: after --, "-" itself, and none.
    EXPECT_EQ(Parse({"a", "--", "-x", "-"}).options.inputs, (std::vector<std::string>{"a", "-x", "-"}));
    EXPECT_EQ(Parse({}).options.inputs, std::vector<std::string>{"-"});
    EXPECT_EQ(Parse({}, true).options.inputs, std::vector<std::string>{"."});
    EXPECT_EQ(Parse({"-r"}).options.inputs, std::vector<std::string>{"."});  // grep -r's default
    EXPECT_TRUE(Parse({"-R"}).options.currentDirectoryImplied);
    EXPECT_FALSE(Parse({"."}).options.currentDirectoryImplied);
    EXPECT_EQ(Parse({"-"}, true).options.inputs, std::vector<std::string>{"-"});
    EXPECT_EQ(Parse({"-j3", "p"}).options.threads, 3);
    EXPECT_EQ(Parse({"-j", "2", "--threads=0", "p"}).options.threads, 0);  // 0: the number of cores
    EXPECT_EQ(Parse({"-j1024", "p"}).options.threads, 1024);  // the largest
    EXPECT_EQ(Parse({"--decoder-memory=1M", "p"}).options.decoderMemory, 1ull << 20);
    EXPECT_EQ(Parse({"--decoder-memory=1T", "p"}).options.decoderMemory, 1ull << 40);
    EXPECT_EQ(Parse({"--decoder-memory=268435456", "p"}).options.decoderMemory, 256ull << 20);
    EXPECT_EQ(Parse({"--decoder-memory=2GiB", "p"}).options.decoderMemory, 2ull << 30);
}

TEST(HostOptions, TheKeywordLineMayTakeTheModulesWholeLine) {
    std::string w255(255, 'k');
    EXPECT_EQ(Parse({"-x", w255, "p"}).command, Command::kRun);
    EXPECT_EQ(Parse({"-x", w255 + "k", "p"}).command, Command::kUsageError);
    EXPECT_EQ(Parse({"-x", std::string(127, 'a'), "-x", std::string(127, 'b'), "p"}).command, Command::kRun);
    EXPECT_EQ(Parse({"-x", std::string(128, 'a'), "-x", std::string(127, 'b'), "p"}).command, Command::kUsageError);
}

TEST(HostOptions, UsageErrorsNeverReadPastTheArguments) {
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--output"}, "option '--output' needs a value"},
        {{"p", "--exclude-keyword"}, "option '--exclude-keyword' needs a value"},
        {{"-O"}, "option '-O' needs a value"},
        {{"-hx"}, "option '-x' needs a value"},
        {{"--label"}, "option '--label' needs a value"},
        {{"--stats=yes"}, "option '--stats' takes no value"},
        {{"--e"}, "ambiguous option '--e'"},
        {{"-v"}, "unknown option '-v' (grep's, but talveron has no patterns)"},
        {{"--rejected="}, "an empty file name for --output, --rejected or --files0-from"},
        {{"-jx"}, "-j/--threads takes a number from 0 (the number of cores) to 1024, not 'x'"},
        {{"--threads=-1"}, "-j/--threads takes a number from 0 (the number of cores) to 1024, not '-1'"},
        {{"-j", ""}, "-j/--threads takes a number from 0 (the number of cores) to 1024, not ''"},
        {{"-j1025"}, "-j/--threads takes a number from 0 (the number of cores) to 1024, not '1025'"},
        {{"--decoder-memory=1048575"}, "--decoder-memory takes a size from 1M to 1T (K, M, G or T after a number), not '1048575'"},
        {{"--decoder-memory=1025G"}, "--decoder-memory takes a size from 1M to 1T (K, M, G or T after a number), not '1025G'"},
        {{"--decoder-memory=99999999999999999999T"}, "--decoder-memory takes a size from 1M to 1T (K, M, G or T after a number), not '99999999999999999999T'"},
        {{"--decoder-memory=-1M"}, "--decoder-memory takes a size from 1M to 1T (K, M, G or T after a number), not '-1M'"},
        {{"--out-txt", "-c", "p"}, "--out-txt writes OUT.TXT only: it goes with -x, --keyword-line and --messages alone"},
        {{"--out-txt", "-i", "p"}, "--out-txt writes OUT.TXT only: it goes with -x, --keyword-line and --messages alone"},
        {{"--color=yes", "p"}, "--color takes never, always or auto, not 'yes'"},
        {{"--colour=", "p"}, "--color takes never, always or auto, not ''"},
        {{"--base=http://x.jp/", "p"}, "--base goes with --html"},
        {{"--base=", "p"}, "--base goes with --html"},
    };
    for (const auto& c : cases) {
        Parsed parsed = Parse(c.args);
        EXPECT_EQ(parsed.command, Command::kUsageError) << c.error;
        EXPECT_EQ(parsed.error, c.error);
    }
}

// --color takes its WHEN only after '=', as grep's: the next word is an INPUT.
TEST(HostOptions, ColorTakesAnOptionalWhen) {
    for (const char* when : {"--color", "--colour", "--color=never", "--color=always", "--colour=auto"}) {
        Parsed parsed = Parse({when, "a.html", "b.html"});
        EXPECT_EQ(parsed.command, Command::kRun) << when << parsed.error;
        EXPECT_EQ(parsed.options.inputs, (std::vector<std::string>{"a.html", "b.html"})) << when;
    }
}

// --base: what the URL parser takes, http or https; anything else is named.
// Which strings are URLs of those schemes is node's URL's answer.
TEST(HostOptions, BaseIsAnHttpOrHttpsUrl) {
    const std::vector<std::string> bases = {"http//x.jp/", "example.com/dir/", "", "http://x.jp/d/", " HTTPS://X.JP:443/a?b#c ",
                                            "http:x.jp", "https://", "file:///tmp/", "mailto:a@x.jp", "http://[::1", "http://a b/",
                                            "ftp://x.jp/", "http://\\x.jp\\d", "http://xn--a.jp/"};
    // node reads the bases as JSON and answers 1 or 0 for each.
    char dir[] = "/tmp/talveron-base-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string list = "[";
    for (const std::string& base : bases) {
        list += list.size() > 1 ? ",\"" : "\"";
        for (char c : base) list += c == '\\' ? std::string("\\\\") : std::string(1, c);
        list += "\"";
    }
    std::ofstream(std::string(dir) + "/bases.json") << list << "]";
    std::ofstream(std::string(dir) + "/answer.js")
        << "for (const b of JSON.parse(require('fs').readFileSync(process.argv[2], 'utf8'))) { let ok = 0;\n"
           "  try { ok = ['http:', 'https:'].includes(new URL(b).protocol) ? 1 : 0 } catch (e) {}\n"
           "  process.stdout.write(String(ok)) }\n";
    std::string answers;
    if (FILE* pipe = popen(("cd " + std::string(dir) + " && node answer.js bases.json 2>/dev/null").c_str(), "r")) {
        char buffer[256];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) answers.append(buffer, n);
        pclose(pipe);
    }
    std::system(("rm -rf " + std::string(dir)).c_str());
    if (answers.size() != bases.size()) GTEST_SKIP() << "node is needed: " << answers;
    for (std::size_t i = 0; i < bases.size(); ++i) {
        Parsed parsed = Parse({"--html", "--base=" + bases[i], "p"});
        if (answers[i] == '1') {
            EXPECT_EQ(parsed.error, "") << bases[i];
        } else {
            EXPECT_EQ(parsed.error, "--base takes an http or https URL, not '" + bases[i] + "'") << bases[i];
        }
    }
}

TEST(HostOptions, StatsTakesJsonAsItsOnlyValue) {
    const struct {
        std::vector<std::string> args;
        bool stats, json;
        const char* error;
    } cases[] = {
        {{"--stats", "p"}, true, false, ""},
        {{"--stats=json", "p"}, true, true, ""},
        {{"--stat=json", "p"}, true, true, ""},
        {{"--stats=json", "--stats", "p"}, true, false, ""},  // the later wins
        {{"--stats", "json"}, true, false, ""},               // an INPUT named json
        {{"p"}, false, false, ""},
        {{"--stats=JSON", "p"}, false, false, "option '--stats' takes no value"},
        {{"--stats=", "p"}, false, false, "option '--stats' takes no value"},
        {{"--stat=text", "p"}, false, false, "option '--stat' takes no value"},
    };
    for (const auto& c : cases) {
        Parsed parsed = Parse(c.args);
        EXPECT_EQ(parsed.error, c.error) << c.args[0];
        if (*c.error) continue;
        EXPECT_EQ(parsed.options.stats, c.stats) << c.args[0];
        EXPECT_EQ(parsed.options.statsJson, c.json) << c.args[0];
    }
    EXPECT_EQ(Parse({"--stats", "json"}).options.inputs, std::vector<std::string>{"json"});
}

TEST(HostSummary, JsonOfTheCounts) {
    RunCounts counts;
    counts.searched = 12345678901LL;
    counts.failed = 2;
    counts.bytes = 3;
    counts.records = 4;
    counts.excluded[0] = 5;
    counts.excluded[2] = 6;
    counts.tooLong = 7;
    counts.unfinished = 8;
    // Types passed over: escaped, the first 16 by name, the rest as "other".
    std::string passed = "{\"type\":\"a\\\"\\\\x01\",\"count\":2},{\"type\":\"other\",\"count\":2}";
    counts.PassedOver("a\"\x01");
    for (int i = 0; i < 16; ++i) {
        std::string type = "t" + std::to_string(10 + i);
        counts.PassedOver(type);
        if (i < 15) passed += ",{\"type\":\"" + type + "\",\"count\":" + (i == 0 ? "2" : "1") + "}";
    }
    counts.PassedOver("t10");
    counts.PassedOver("a\"\x01");
    counts.PassedOver("u");
    const std::string head =
        "{\"inputs_searched\":12345678901,\"inputs_failed\":2,\"bytes\":3,\"records_written\":4,"
        "\"excluded_by_keyword\":[{\"slot\":1,\"keyword\":\"ads\",\"count\":5},"
        "{\"slot\":3,\"keyword\":\"q\\\"\\\\x5C\\\\xFF\",\"count\":6}],\"dropped_too_long\":7,\"dropped_unfinished\":8,"
        "\"records_passed_over\":[" + passed + "],\"elapsed_seconds\":";
    const struct {
        double seconds;
        const char* shown;
    } cases[] = {{0, "0.000"}, {0.0004, "0.000"}, {1.2345, "1.235"}, {59.9996, "60.000"}, {-1, "0.000"}};
    for (const auto& c : cases)
        EXPECT_EQ(SummaryJson(counts, {"ads", "", "q\"\\\xff"}, c.seconds), head + c.shown + "}");
    EXPECT_EQ(SummaryJson(RunCounts(), {}, 0.25),
              "{\"inputs_searched\":0,\"inputs_failed\":0,\"bytes\":0,\"records_written\":0,\"excluded_by_keyword\":[],"
              "\"dropped_too_long\":0,\"dropped_unfinished\":0,\"records_passed_over\":[],\"elapsed_seconds\":0.250}");
}

// Jobs that take turns at random, each reporting several times: every
// report is delivered in job order, each job finished after its own, and
// with a budget smaller than one report the run still moves on.
TEST(HostJobs, ReportsAreDeliveredInJobOrderWhateverTheTurns) {
    for (int threads : {1, 2, 4}) {
        for (std::size_t budget : {std::size_t{1}, std::size_t{40}, std::size_t{1} << 20}) {
            std::vector<std::string> told;  // delivered and finished, in order
            std::atomic<int> delivering{0};
            Jobs jobs(threads, budget);
            std::mt19937 rng(threads * 1000 + static_cast<unsigned>(budget));
            int j = 0;
            jobs.Run([&](Jobs::Steps& steps) {
                if (j == 40) return false;
                int pause = static_cast<int>(rng() % 300), job = j++;
                steps.work = [job, pause, &told, &delivering](Jobs::Reporter& reporter) {
                    for (int r = 0; r < 5; ++r) {
                        std::this_thread::sleep_for(std::chrono::microseconds(pause));
                        std::string report = std::to_string(job) + "." + std::to_string(r);
                        auto deliver = [report, &told, &delivering] {
                            EXPECT_EQ(delivering++, 0);  // one delivery at a time
                            told.push_back(report);
                            --delivering;
                        };
                        if (reporter.Direct())
                            deliver();
                        else
                            reporter.Keep(deliver, 16);
                    }
                };
                steps.finish = [job, &told] { told.push_back(std::to_string(job) + " done"); };
                return true;
            });
            std::vector<std::string> expected;
            for (int j = 0; j < 40; ++j) {
                for (int r = 0; r < 5; ++r) expected.push_back(std::to_string(j) + "." + std::to_string(r));
                expected.push_back(std::to_string(j) + " done");
            }
            EXPECT_EQ(told, expected) << threads << " threads, budget " << budget;
        }
    }
}

TEST(HostJobs, AJobNotAdmittedHasItsReportsDropped) {
    for (int threads : {1, 3}) {
        std::vector<int> told;
        Jobs jobs(threads, 1 << 20);
        int j = 0;
        jobs.Run([&](Jobs::Steps& steps) {
            if (j == 6) return false;
            int job = j++;
            steps.work = [job, &told](Jobs::Reporter& reporter) {
                auto deliver = [job, &told] { told.push_back(job); };
                if (!reporter.Direct())
                    reporter.Keep(deliver, 1);
                else if (!reporter.Dropping())
                    deliver();
            };
            steps.admit = [job] { return job % 2 == 0; };
            return true;
        });
        EXPECT_EQ(told, (std::vector<int>{0, 2, 4})) << threads;
    }
}

TEST(HostOptions, HelpNamesEveryOptionWithinEightyColumns) {
    std::string help = HelpText();
    for (const char* option : {"--exclude-keyword=WORD", "--output=FILE", "--only-matching", "--count", "--null",
                               "--files-without-match", "--include=GLOB", "--exclude-dir=GLOB", "--no-messages",
                               "--no-progress", "--all-or-nothing", "--label=NAME", "--dereference-recursive", "--threads=N",
                               "--json", "--unique", "--no-fragment", "--links=LIST", "--status=LIST"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
        // Printable ASCII only: every short form is a letter.
        for (char c : line) EXPECT_TRUE(c >= ' ' && c <= '~') << line;
    }
    EXPECT_NE(help.find("      --color[=WHEN] "), std::string::npos);
}

TEST(HostNames, ShownAsTheyAreUnlessTheyWouldBreakALine) {
    const struct {
        std::string name, shown;
    } cases[] = {
        {"plain name.html", "plain name.html"},
        {"\xe6\x97\xa5\xe6\x9c\xac.html", "\xe6\x97\xa5\xe6\x9c\xac.html"},
        {"a\nb", "'a'$'\\n''b'"},
        {"a\n", "'a'$'\\n'"},
        {"\tx", "$'\\t''x'"},
        {"it's\x1b", "'it'\\''s'$'\\033'"},
        {"\xff\xfe", "$'\\377\\376'"},
        {"\xc0\xaf", "$'\\300\\257'"},  // an overlong '/'
        {"\xed\xa0\x80", "$'\\355\\240\\200'"},  // a surrogate
        // The ends of the ranges quoted: the first and last control bytes,
        // DEL, and the printable bytes beside them.
        {std::string("\x01 ~", 3), "$'\\001'' ~'"},
        {"\x1f!", "$'\\037''!'"},
        {"\x7f", "$'\\177'"},
        {"\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},  // U+10FFFF, the last code point
        {"\xf4\x90\x80\x80", "$'\\364\\220\\200\\200'"},
    };
    for (const auto& c : cases) EXPECT_EQ(ShownName(c.name), c.shown) << c.shown;
}

TEST(HostWalkFilter, TakesFilesAsGrepsIncludeAndExclude) {
    WalkFilter filter;
    EXPECT_TRUE(filter.FileWanted("a.HTML"));
    EXPECT_TRUE(filter.FileWanted("a.xhtml"));
    EXPECT_TRUE(filter.FileWanted("a.Shtml"));
    EXPECT_FALSE(filter.FileWanted(".html"));
    EXPECT_FALSE(filter.FileWanted("a.html.bak"));
    EXPECT_TRUE(filter.OperandWanted("notes.txt"));  // a named file is not held to the default set
    filter.includes = {"*.txt"};
    EXPECT_FALSE(filter.FileWanted("a.html"));
    EXPECT_TRUE(filter.FileWanted("a.txt"));
    EXPECT_FALSE(filter.OperandWanted("a.html"));
    filter.excludes = {"b*"};
    EXPECT_FALSE(filter.FileWanted("b.txt"));
    filter.includes.clear();
    filter.allFiles = true;
    EXPECT_TRUE(filter.FileWanted("a.bin"));
    EXPECT_FALSE(filter.FileWanted("bin"));
    filter.excludeDirs = {".git"};
    EXPECT_FALSE(filter.DirectoryWanted(".git"));
    EXPECT_TRUE(filter.DirectoryWanted("git"));
}

TEST(HostFileIdentity, OneFileIsOneDeviceAndOneInode) {
    struct stat a = {}, b = {};
    a.st_mode = b.st_mode = S_IFREG | 0644;
    a.st_ino = b.st_ino = 42;
    a.st_dev = 1;
    b.st_dev = 2;
    Destination where;
    where.Take(a);
    EXPECT_TRUE(where.Is(a));
    EXPECT_FALSE(where.Is(b));
    EXPECT_FALSE(where.IsTemporary(a));
    FileIdentity x, y;
    x.exists = y.exists = true;
    x.ino = y.ino = 42;
    x.dev = 1;
    y.dev = 2;
    EXPECT_FALSE(x.SameAs(y));
    y.dev = 1;
    EXPECT_TRUE(x.SameAs(y));
    // Files not made yet are one when their paths resolve alike.
    EXPECT_TRUE(FileIdentity::OfPath("/tmp/../tmp/talveron-none").SameAs(FileIdentity::OfPath("/tmp/talveron-none")));
    EXPECT_FALSE(FileIdentity::OfPath("/tmp/talveron-none").SameAs(FileIdentity::OfPath("/tmp/talveron-other")));
    EXPECT_EQ(AliasedDescriptor("/dev/stdout"), 1);
    EXPECT_EQ(AliasedDescriptor("/proc/self/fd/2"), 2);
    EXPECT_EQ(AliasedDescriptor("/dev/fd/x"), -1);
    EXPECT_EQ(AliasedDescriptor("/dev/stdout2"), -1);
}

}  // namespace
