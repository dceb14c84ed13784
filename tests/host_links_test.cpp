// talveron's records of a crawl's link graph: --json (read back by
// Python's json), --unique and --no-fragment, --links, --status, their
// usage errors, and the hints a run gives at its end.
#include <sstream>

#include "tests/host_fixture.h"
#include "tests/warc_records.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A page of `bytes` or more whose addresses come back again and again.
std::string RepeatingPage(std::size_t bytes) {
    std::string page;
    for (int k = 0; page.size() < bytes; ++k)
        page += "<p>text <a href=\"http://h" + std::to_string(k % 7) + ".example/p" + std::to_string(k % 4999) +
                ".html\">x</a></p>\n";
    return page;
}

class HostLinksTest : public HostTest {
protected:
    // Python's json reading `file` (JSON Lines): for each object, its keys
    // joined by commas, a tab and its "page" and "url" (or "count") as
    // Python's json gives them, encoded in UTF-8; "bad" and the reason when
    // a line is no object or does not end in LF.
    std::string ReadJson(const std::string& file) {
        Write("read.py",
              "import json, sys\n"
              "data = open(sys.argv[1], 'rb').read()\n"
              "if data and not data.endswith(b'\\n'): print('bad: no LF at the end'); sys.exit()\n"
              "for line in data.split(b'\\n')[:-1]:\n"
              "    o = json.loads(line.decode('utf-8'))\n"
              "    v = o.get('url', o.get('count'))\n"
              "    sys.stdout.buffer.write((','.join(o) + '\\t' + o['page'] + '\\t' + str(v) + '\\n')"
              ".encode('utf-8'))\n");
        return Shell("/usr/bin/python3 read.py " + Quote(file) + " 2>&1");
    }
    // Python's reading of a name's bytes: UTF-8, other bytes as U+FFFD.
    std::string Decoded(const std::string& name) {
        Write("name.bin", name);
        return Shell("/usr/bin/python3 -c \"import sys; sys.stdout.buffer.write(open('name.bin','rb').read()"
                     ".decode('utf-8','replace').encode('utf-8'))\"");
    }
};

TEST_F(HostLinksTest, JsonNamesEachRecordByItsPageAsPythonReadsIt) {
    // A quote, a tab, a backslash, a byte that is no UTF-8, and UTF-8.
    const std::vector<std::string> names = {"q\"t\tb\\.html", "bad\xff\xc3(.html", "\xc3\xa9t\xc3\xa9.html"};
    std::vector<std::string> args = {"--json"};
    std::string want;
    for (std::size_t k = 0; k < names.size(); ++k) {
        std::string n = std::to_string(k);
        Write(names[k], "<a href=\"http://a" + n + ".example/\"><a href=\"http://b" + n + ".example/x.html\">");
        args.push_back(names[k]);
        HostRun plain = Host({"-h", names[k]});
        for (const std::string& url : Lines(plain.out)) want += "page,url\t" + Decoded(names[k]) + "\t" + url + "\n";
    }
    HostRun run = Host(args, "", ">out.jsonl");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadJson("out.jsonl"), want);
}

TEST_F(HostLinksTest, JsonCountsAreObjectsOfPageAndCount) {
    Write("a.html", "<a href=\"http://a.example/\"><a href=\"http://b.example/\">");
    Write("b.html", "nothing");
    HostRun counts = Host({"-c", "a.html", "b.html"});
    HostRun run = Host({"-c", "--json", "a.html", "b.html"}, "", ">out.jsonl");
    EXPECT_EQ(run.status, 0) << run.err;
    std::string want;
    for (const std::string& line : Lines(counts.out)) {
        std::size_t colon = line.find(':');
        want += "page,count\t" + line.substr(0, colon) + "\t" + line.substr(colon + 1) + "\n";
    }
    EXPECT_EQ(ReadJson("out.jsonl"), want);
}

TEST_F(HostLinksTest, JsonOnThreadsAndIntoAFileIsOneSearchAfterTheOther) {
    Shell("mkdir site");
    for (int k = 0; k < 40; ++k)
        Write("site/p" + std::to_string(100 + k) + ".html",
              "<a href=\"http://s" + std::to_string(k) + ".example/\">");
    Write("site/big.html", RepeatingPage(9u << 20));  // cut into parts on two threads
    HostRun one = Host({"--json", "-j1", "site"});
    HostRun two = Host({"--json", "-j2", "-O", "out.jsonl", "site"});
    EXPECT_EQ(two.status, 0) << two.err;
    // Compared whole: gtest's difference of two large texts takes minutes.
    EXPECT_TRUE(Read("out.jsonl") == one.out) << Read("out.jsonl").size() << " bytes, not " << one.out.size();
    EXPECT_GT(Lines(one.out).size(), 40u);
}

TEST_F(HostLinksTest, UniqueKeepsAPageWholeOnThreads) {
    Write("big.html", RepeatingPage(9u << 20));
    HostRun all = Host({"-j2", "big.html"});
    std::string want = Shell(Quote(TALVERON_HOST) + " -j1 big.html | awk '!seen[$0]++'");
    ASSERT_LT(want.size(), all.out.size());  // the page repeats itself
    HostRun unique = Host({"--unique", "-j2", "big.html"});
    EXPECT_EQ(unique.status, 0) << unique.err;
    EXPECT_TRUE(unique.out == want) << unique.out.size() << " bytes, not " << want.size();
}

// What the options that the library carries out are handed to it as.
TEST_F(HostLinksTest, UniqueNoFragmentAndLinksReachTheSearch) {
    Write("p.html",
          "<a href=\"http://x.example/a.html#f\"><iframe src=\"http://x.example/frame.html\"></iframe>"
          "<a href=\"http://x.example/a.html#g\"><a href=\"http://x.example/a.html#f\">");
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"--unique"}, "http://x.example/a.html#f/\nhttp://x.example/a.html#g/\n"},  // the module adds the /
        {{"--no-fragment"}, "http://x.example/a.html\nhttp://x.example/a.html\nhttp://x.example/a.html\n"},
        {{"--unique", "--no-fragment"}, "http://x.example/a.html\n"},
        {{"--html", "--links=frame"}, "http://x.example/frame.html\n"},
        {{"--html", "--links=a,frame", "--unique"},
         "http://x.example/a.html#f\nhttp://x.example/frame.html\nhttp://x.example/a.html#g\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("p.html");
        HostRun run = Host(args);
        EXPECT_EQ(run.out, c.out) << args[0] << " " << run.err;
    }
}

TEST_F(HostLinksTest, UsageErrors) {
    Write("p.html", "<a href=\"http://x.example/\">");
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--json", "--tsv"}, "--json and --tsv"},
        {{"--json", "-l"}, "--json prints records"},
        {{"--json", "-L"}, "--json prints records"},
        {{"--json", "-h"}, "-h or -Z"},
        {{"--json", "-Z"}, "-h or -Z"},
        {{"--json", "--out-txt"}, "--out-txt writes OUT.TXT only"},
        {{"--unique", "--out-txt"}, "--out-txt writes OUT.TXT only"},
        {{"--links=a"}, "--links goes with --html"},
        {{"--html", "--links=a,img"}, "a, area, redirect, frame, link, form, resource or all, not 'a,img'"},
        {{"--html", "--links=a,"}, "not 'a,'"},
        {{"--html", "--links="}, "--links takes"},
        {{"--status=99"}, "from 100 to 599"},
        {{"--status=600"}, "not '600'"},
        {{"--status=300-200"}, "not '300-200'"},
        {{"--status=2xx"}, "not '2xx'"},
        {{"--status=200,"}, "not '200,'"},
        {{"--status=200-"}, "not '200-'"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("p.html");
        HostRun run = Host(args);
        EXPECT_EQ(run.status, 2) << args[0];
        EXPECT_EQ(run.out, "") << args[0];
        EXPECT_NE(run.err.find(c.says), std::string::npos) << args[0] << ": " << run.err;
    }
    // -q prints nothing, in any form: --json changes nothing there.
    EXPECT_EQ(Host({"--json", "-q", "p.html"}).status, 0);
    EXPECT_EQ(Host({"--status=200-299,304,404", "p.html"}).status, 0);
}

TEST_F(HostLinksTest, StatusPassesResponsesOverAndCountsThem) {
    auto response = [](const std::string& status, const std::string& uri) {
        return Record("response", uri,
                      "HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\n\r\n<a href=\"http://from." +
                          uri.substr(7) + "\">");
    };
    Write("crawl.warc", response("200 OK", "http://ok.example/") + response("404 Not Found", "http://gone.example/") +
                            response("301 Moved", "http://moved.example/") +
                            response("404 Not Found", "http://gone2.example/") +
                            response("304 Not Modified", "http://same.example/"));
    HostRun run = Host({"-h", "--status=200-299,304", "--stats=json", "crawl.warc"});
    EXPECT_EQ(run.out, "http://from.ok.example/\nhttp://from.same.example/\n");
    Write("stats.json", run.err);
    EXPECT_EQ(Shell("/usr/bin/python3 -c \"import json; print(json.load(open('stats.json'))"
                    "['statuses_passed_over'])\""),
              "[{'status': 301, 'count': 1}, {'status': 404, 'count': 2}]\n");
    HostRun human = Host({"-h", "--status=404", "--stats", "crawl.warc"});
    EXPECT_NE(human.err.find("responses passed over  1 (status 200)"), std::string::npos) << human.err;
    EXPECT_EQ(human.out, "http://from.gone.example/\nhttp://from.gone2.example/\n");
}

TEST_F(HostLinksTest, HintsAreGivenOnceWhereTheyHelp) {
    Write("mixed.html", "<a href=\"https://s.example/\"><a href=\"http://p.example/\"><a href=\"https://t.example/\">");
    Write("rel.html", "<a href=\"other.html\"><a href=\"http://p.example/\">");
    Shell("mkdir gz && printf '<a href=\"http://z.example/\">' | gzip > gz/page.html.gz");
    const char kHttps[] = "<a href=\"https:// anchors were passed over: --https (or --html) takes them";
    const char kFile[] = "1 link(s) resolved to file: addresses were passed over: --base=URL";
    const char kZip[] = "1 compressed page(s) or archive(s) (-z takes them)";
    const struct {
        std::vector<std::string> args;
        const char* hint;
        bool given;
    } cases[] = {
        {{"mixed.html"}, kHttps, true},
        {{"-s", "mixed.html"}, kHttps, false},
        {{"--https", "mixed.html"}, kHttps, false},
        {{"--stats=json", "mixed.html"}, kHttps, false},
        {{"--html", "rel.html"}, kFile, true},
        {{"--html", "--base=http://x.example/", "rel.html"}, kFile, false},
        {{"--html", "-s", "rel.html"}, kFile, false},
        {{"gz"}, kZip, true},
        {{"-z", "gz"}, kZip, false},
    };
    for (const auto& c : cases) {
        HostRun run = Host(c.args);
        std::size_t at = run.err.find(c.hint);
        EXPECT_EQ(at != std::string::npos, c.given) << c.args[0] << ": " << run.err;
        if (at != std::string::npos) {
            EXPECT_EQ(run.err.find(c.hint, at + 1), std::string::npos) << "said twice";
        }
    }
    // Counted up to the page's first record; all of them with --stats.
    EXPECT_NE(Host({"mixed.html"}).err.find("talveron: at least 1 <a href"), std::string::npos);
    EXPECT_NE(Host({"--stats", "mixed.html"}).err.find("talveron: 2 <a href"), std::string::npos);
}

}  // namespace
