// talveron on what a crawl leaves: compressed pages, and web archives whose
// records are inputs of their own, including one that wget really writes.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/deflated.h"
#include "tests/encoded.h"
#include "talveron.h"
#include "tests/host_fixture.h"
#include "tests/random_pages.h"
#include "tests/warc_records.h"

namespace {

class HostArchiveTest : public HostTest {};

const std::string kPage = "<a href=\"http://a.jp/x.html\">A</a> <a href=\"https://s.jp\"> <A HREF=\"http://b.jp\">";

TEST_F(HostArchiveTest, EachRecordIsAnInputNamedByItsTarget) {
    // Every way a body comes, the records that are no pages, and two that
    // break the rules: each page's records under its own name, the search
    // going on behind the broken ones.
    std::vector<std::string> records = {
        Record("warcinfo", "", "software: test\r\n"),
        Record("request", "http://req.jp/", "GET / HTTP/1.1\r\n\r\n<a href=\"http://no.jp\">"),
        Record("response", "http://plain.jp/", Response("", kPage), "WARC/1.0"),
        Record("response", "http://chunked.jp/", Response("Transfer-Encoding: chunked\r\n", Chunked(kPage, 7))),
        Record("response", "http://gzip.jp/",
               Response("Transfer-Encoding: chunked\r\nContent-Encoding: gzip\r\n", Chunked(Deflated(kPage, true), 5))),
        Record("response", "http://deflate.jp/", Response("Content-Encoding: deflate\r\n", Deflated(kPage, false))),
        Record("response", "http://zstd.jp/", Response("Content-Encoding: zstd\r\n", Zstd(kPage))),
        Record("response", "http://br.jp/", Response("Content-Encoding: br\r\n", Brotli(kPage))),
        Record("response", "http://continue.jp/", "HTTP/1.1 100 Continue\r\n\r\n" + Response("", kPage)),
        Record("response", "http://lzw.jp/", Response("Content-Encoding: compress\r\n", kPage)),
        "WARC/1.0\r\nWARC-Type: response\r\n\r\n<a href=\"http://lost.jp\">\r\n\r\n",
        Record("resource", "file:///r.html", "<a href=\"http://r.jp\">"),
        Record("response", "http://unended.jp/", Response("", kPage)).substr(0, 150) + "\r\n\r\n",
        Record("response", "http://empty.jp/", ""),
        Record("response", "dns:x.jp", "x.jp. 60 IN A 127.0.0.1\n"),
        Record("metadata", "http://plain.jp/", "<a href=\"http://meta.jp\">"),
        Record("response", "http://last.jp/", Response("", "<a href=\"http://end.jp\">")),
    };
    std::string archive;
    for (const std::string& record : records) archive += record;
    Write("a.warc", archive);

    std::string expected;
    for (const char* name : {"plain", "chunked", "gzip", "deflate", "zstd", "br", "continue"})
        for (const char* address : {"http://a.jp/x.html", "https://s.jp/", "http://b.jp/"})
            expected += std::string("http://") + name + ".jp/\t" + address + "\n";
    expected += "file:///r.html\thttp://r.jp/\nhttp://last.jp/\thttp://end.jp/\n";
    HostRun run = Host({"--tsv", "--https", "a.warc"});
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.status, 2);
    std::size_t lost = archive.find("WARC/1.0\r\nWARC-Type: response\r\n\r\n");
    std::size_t unended = archive.find("WARC/1.1\r\nWARC-Type: response\r\nWARC-Target-URI: <http://unended.jp/>");
    EXPECT_EQ(run.err,
              "talveron: a.warc: http://lzw.jp/: not searched: content coding compress is not decoded\n"
              "talveron: a.warc: malformed WARC record at byte " + std::to_string(lost) +
                  ": it has no Content-Length\n"
              "talveron: a.warc: malformed WARC record at byte " + std::to_string(unended) +
                  ": its block is not followed by an empty line\n");

    // Per record: counts and names, as grep gives them for files (names
    // shown for an archive's many inputs), and the dropped addresses.
    // (The record that runs on takes in the one behind it.)
    EXPECT_EQ(Host({"-c", "a.warc"}).out,
              "http://plain.jp/:2\nhttp://chunked.jp/:2\nhttp://gzip.jp/:2\nhttp://deflate.jp/:2\nhttp://zstd.jp/:2\n"
              "http://br.jp/:2\nhttp://continue.jp/:2\nfile:///r.html:1\nhttp://unended.jp/:0\ndns:x.jp:0\n"
              "http://last.jp/:1\n");
    EXPECT_EQ(Host({"-h", "-l", "-x", "b.jp", "a.warc"}).out.find("http://plain.jp/\n"), 0u);
    HostRun rejected = Host({"-x", "b.jp", "--rejected=/dev/stdout", "a.warc"});
    EXPECT_NE(rejected.out.find("http://zstd.jp/:"), std::string::npos) << rejected.out;

    // The same archive compressed per record (as crawlers write it) or
    // whole, and read from a pipe, gives the same.
    Shell("split -b 777 a.warc part. && for p in part.*; do gzip -c $p; done > a.warc.gz && zstd -q a.warc -o b.warc.zst");
    for (const std::string& name : {std::string("a.warc.gz"), std::string("b.warc.zst")}) {
        HostRun packed = Host({"-z", "--tsv", "--https", name});
        EXPECT_EQ(packed.out, expected) << name;
        EXPECT_NE(packed.err.find(name + ": malformed WARC record at byte " + std::to_string(lost) +
                                  " of the decompressed archive"),
                  std::string::npos)
            << packed.err;
    }
    EXPECT_EQ(Host({"--tsv", "--https", "-"}, "cat a.warc | ").out, expected);
    // A walk takes archives; threads give what one thread gives.
    Shell("mkdir d && cp a.warc d/ && cp a.warc.gz d/b.warc.gz && printf '<a href=\"http://p.jp\">' > d/p.html");
    EXPECT_EQ(Host({"-z", "-j3", "-c", "d"}).out, Host({"-z", "-j1", "-c", "d"}).out);
}

TEST_F(HostArchiveTest, RealPagesReadAlikeFromAnArchive) {
    // Each real page as a crawler may keep it (as it came, chunked, gzip
    // coded in chunks), in one archive compressed record by record: each
    // record gives the page's own records under its address.
    std::vector<std::string> names = RealPageNames();
    if (names.empty()) GTEST_SKIP() << kRealPagesHint;
    std::string archive, expected;
    for (std::size_t k = 0; k < names.size(); ++k) {
        std::string page = ReadRealPage(names[k]), uri = "http://real.jp/" + std::to_string(k);
        std::string body = k % 3 == 0   ? Response("", page)
                           : k % 3 == 1 ? Response("Transfer-Encoding: chunked\r\n", Chunked(page, 1000 + k))
                                        : Response("Transfer-Encoding: chunked\r\nContent-Encoding: gzip\r\n",
                                                   Chunked(Deflated(page), 777));
        Write("r.warc.part", Record("response", uri, body));
        Shell("gzip -c r.warc.part >> r.warc.gz");
        Write("p.html", page);
        std::istringstream records(Host({"-h", "--https", "p.html"}).out);
        for (std::string line; std::getline(records, line);) expected += uri + "\t" + line + "\n";
    }
    ASSERT_FALSE(expected.empty());
    HostRun run = Host({"-z", "--https", "--tsv", "r.warc.gz"});
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.err, "");
}

TEST_F(HostArchiveTest, AnArchiveCutShortKeepsTheRecordsBeforeTheCut) {
    std::string archive = Record("response", "http://one.jp/", Response("", kPage)) +
                          Record("response", "http://two.jp/", Response("", kPage + kPage));
    Write("cut.warc", archive.substr(0, archive.size() - 40));
    HostRun run = Host({"-c", "cut.warc"});
    EXPECT_EQ(run.out, "http://one.jp/:2\nhttp://two.jp/:3\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("cut.warc: malformed WARC record at byte " + std::to_string(archive.find("WARC/1.1", 1)) +
                           ": cut short"),
              std::string::npos)
        << run.err;
}

TEST_F(HostArchiveTest, WhatCrawlersAndServersLeaveIsReadOrSaid) {
    // Bodies of more than one gzip member or zstd frame, bytes behind a
    // body's end, a record without its address, LF line ends, a cut chunked
    // body: nothing is dropped without a word.
    std::string two = "<a href=\"http://m1.jp\">", second = "<a href=\"http://m2.jp\">";
    std::string archive =
        Record("response", "http://gz.jp/", Response("Content-Encoding: gzip\r\n", Deflated(two) + Deflated(second))) +
        Record("response", "http://zs.jp/", Response("Content-Encoding: zstd\r\n", Zstd(two) + Zstd(second))) +
        Record("response", "http://junk.jp/", Response("Content-Encoding: gzip\r\n", Deflated(two) + "<a href")) +
        "WARC/1.0\r\nWARC-Type: resource\r\nContent-Length: 3\r\n\r\nabc\r\n\r\n" +
        "WARC/1.0\nWARC-Type: resource\nWARC-Target-URI: file:///lf\nContent-Length: " + std::to_string(two.size()) +
        "\n\n" + two + "\n\n" +
        Record("response", "http://cut.jp/", Response("Transfer-Encoding: chunked\r\n", "40\r\n" + two));
    Write("a.warc", archive);
    HostRun run = Host({"-h", "a.warc"});
    EXPECT_EQ(run.out, "http://m1.jp/\nhttp://m2.jp/\nhttp://m1.jp/\nhttp://m2.jp/\nhttp://m1.jp/\nhttp://m1.jp/\n"
                       "http://m1.jp/\n");
    EXPECT_EQ(run.err, "talveron: a.warc: http://junk.jp/: its gzip content has bytes behind its end\n"
                       "talveron: a.warc: malformed WARC record at byte " +
                           std::to_string(archive.find("WARC/1.0\r\nWARC-Type: resource")) +
                           ": it has no WARC-Target-URI\n"
                           "talveron: a.warc: http://cut.jp/: its chunked body is cut short\n");
    // Counts are named by --tsv as records are, for one input too.
    EXPECT_EQ(Host({"--tsv", "-c", "a.warc"}).out.substr(0, 15), "http://gz.jp/\t2");
    Write("p.html", two);
    EXPECT_EQ(Host({"--tsv", "-c", "p.html"}).out, "p.html\t1\n");
}

TEST_F(HostArchiveTest, ManyBrokenRecordsAreSaidInFewLinesAndDamageLosesNothingBefore) {
    // Damage in an archive compressed whole turns what follows it into
    // noise: the first ten broken records are said, then how many more.
    std::string archive;
    for (int i = 0; i < 30; ++i) archive += "WARC/1.0\r\nWARC-Type: response\r\n\r\n<a href=\"http://n.jp\">\r\n";
    archive += Record("response", "http://last.jp/", Response("", kPage));
    Write("w.warc", archive);
    HostRun run = Host({"-c", "w.warc"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "http://last.jp/:2\n");
    std::size_t lines = 0;
    for (char c : run.err) lines += c == '\n';
    EXPECT_EQ(lines, 11u) << run.err;
    const std::string more = "talveron: w.warc: 20 more malformed WARC records\n";
    EXPECT_EQ(run.err.substr(run.err.size() - std::min(run.err.size(), more.size())), more) << run.err;
    // A zstd page damaged in its middle keeps what its decoder gave before
    // the damage, as zstd -dc does.
    std::string page;
    for (int i = 0; i < 3000; ++i) page += "<a href=\"http://h" + std::to_string(i) + ".jp/\">" + std::string(2000, 'x');
    std::string frame = Zstd(page);
    frame[frame.size() / 2] ^= 0xff;
    Write("z.html.zst", frame);
    long long kept = std::stoll(Host({"-z", "-c", "z.html.zst"}).out);
    long long tool = std::stoll(Host({"-c"}, "zstd -dc z.html.zst 2>/dev/null | ").out);
    EXPECT_GE(kept, tool);
}

TEST_F(HostArchiveTest, StreamsEndingOnAWholeChunkDecompressWithoutComplaint) {
    // A page whose decompressed size is a whole number of the decompressor's
    // chunks: its end falls where the decoder's room ends.
    std::string page = kPage;
    page += std::string((1 << 20) - page.size(), 'x');
    Write("p.html", page);
    // (Zero bytes behind the last gzip member, as tar pads, are no damage.)
    Shell("gzip -k p.html && zstd -q p.html && bzip2 -k p.html && xz -k p.html && "
          "{ cat p.html.gz; head -c 1000 /dev/zero; } > padded.html.gz");
    for (const char* name : {"p.html.gz", "p.html.zst", "p.html.bz2", "p.html.xz", "padded.html.gz"}) {
        HostRun run = Host({"-z", "-c", name});
        EXPECT_EQ(run.out, "2\n") << name;
        EXPECT_EQ(run.status, 0) << name << run.err;
    }
}

TEST_F(HostArchiveTest, WgetsArchiveOfALocalSite) {
    // wget crawls three pages from a server on 127.0.0.1 into a WARC file;
    // each page's records come under its address.
    if (Shell("command -v wget && command -v python3").find("python3") == std::string::npos)
        GTEST_SKIP() << "wget and python3 are needed";
    Shell("mkdir site && cd site && "
          "printf '<a href=\"one.html\">1</a><a href=\"two.html\">2</a><a href=\"http://x.jp/i\">' > index.html && "
          "printf '<a href=\"http://x.jp/1\"> <a href=\"https://y.jp/1\">' > one.html && "
          "printf '<A HREF=\"http://x.jp/2.html\">' > two.html");
    // (The server runs in the background of a shell that has moved to the
    // test's folder first.)
    Shell("true; (cd site && exec python3 -c 'import http.server, socketserver\n"
          "s = socketserver.TCPServer((\"127.0.0.1\", 0), http.server.SimpleHTTPRequestHandler)\n"
          "open(\"../port\", \"w\").write(str(s.server_address[1]))\n"
          "s.serve_forever()') > /dev/null 2>&1 & echo $! > server.pid; "
          "for i in $(seq 100); do [ -s port ] && break; sleep 0.1; done");
    std::string port = Read("port");
    if (port.empty()) Shell("kill $(cat server.pid)");
    ASSERT_FALSE(port.empty());
    std::string site = "http://127.0.0.1:" + port + "/";
    Shell("wget -q -r -l 2 --no-proxy --warc-file=crawl " + site + "index.html -P mirror; kill $(cat server.pid)");
    ASSERT_TRUE(Exists("crawl.warc.gz"));
    HostRun run = Host({"-z", "--tsv", "--https", "crawl.warc.gz"});
    EXPECT_EQ(run.out, site + "index.html\thttp://x.jp/i/\n" + site + "one.html\thttp://x.jp/1/\n" + site +
                           "one.html\thttps://y.jp/1/\n" + site + "two.html\thttp://x.jp/2.html\n");
    EXPECT_EQ(run.status, 0) << run.err;
}

// A record whose Content-Length runs past the end of a file: its block ends
// before the record behind it, which keeps its own name; read from a pipe,
// it cannot.
TEST_F(HostArchiveTest, ALengthPastTheEndOfAFileSwallowsNoRecords) {
    std::string huge = Record("response", "http://b.jp/", Response("", "<a href=\"http://b.jp/x\">"));
    huge.replace(huge.find("Content-Length: "), 16, "Content-Length: 99999999999");
    Write("x.warc", huge + Record("response", "http://c.jp/", Response("", "<a href=\"http://c.jp/x\">")));
    HostRun run = Host({"--tsv", "x.warc"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "http://b.jp/\thttp://b.jp/x/\nhttp://c.jp/\thttp://c.jp/x/\n");
    EXPECT_NE(run.err.find("runs past the end of the archive"), std::string::npos) << run.err;
    run = Host({"--tsv"}, "cat x.warc | ");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "http://b.jp/\thttp://b.jp/x/\nhttp://b.jp/\thttp://c.jp/x/\n");
    EXPECT_NE(run.err.find("any records behind its header were read as its block"), std::string::npos) << run.err;
}

// xz data whose block asks for a dictionary of 1 GiB: preset 6's 8 MiB
// written as 1 GiB in its block header (whose CRC32 is made again).
std::string XzAskingFor1GiB(const std::string& page) {
    std::string xz = Xz(page);
    const std::size_t header = 12, size = (static_cast<unsigned char>(xz[header]) + 1) * 4;
    std::size_t props = xz.find(std::string("\x21\x01\x16", 3), header);  // LZMA2, one byte, 8 MiB
    EXPECT_LT(props, header + size);
    xz[props + 2] = 36;
    std::uint32_t crc = lzma_crc32(reinterpret_cast<const uint8_t*>(&xz[header]), size - 4, 0);
    for (int i = 0; i < 4; ++i) xz[header + size - 4 + i] = static_cast<char>(crc >> (8 * i));
    return xz;
}

// A stream whose window or dictionary is larger than the decoders' budget
// is not decoded (nor its memory taken): it is said with what it needs,
// and --decoder-memory lets it in.
TEST_F(HostArchiveTest, AStreamThatNeedsMoreMemoryThanAllowedIsSaidWithWhatItNeeds) {
    const std::string page = "<a href=\"http://m.jp/\">";
    Write("x.html.xz", XzAskingFor1GiB(page));
    Shell("printf '%s' '" + page + "' | zstd -q --long=31 >z.html.zst");
    Write("a.warc", Record("response", "http://w.jp/", Response("Content-Encoding: zstd\r\n", Read("z.html.zst"))));
    // One frame of 1.5 MiB, whose window is its content: in a budget of
    // 1536K to the byte (not rounded to a power of two), not in 1M.
    Write("s.html.zst", Zstd(page + std::string((1536u << 10) - page.size(), ' ')));
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"-z", "x.html.xz"},
         "x.html.xz: xz data at byte 24 of the compressed input needs 1025 MiB of memory, more than the 128 MiB allowed"},
        {{"-z", "--decoder-memory=1G", "z.html.zst"},
         "z.html.zst: zstd data at byte 0 of the compressed input needs 2048 MiB of memory, more than the 1024 MiB "
         "allowed"},
        {{"a.warc"}, "a.warc: http://w.jp/: its zstd content needs 2048 MiB of memory, more than the 128 MiB allowed"},
        {{"-z", "--decoder-memory=1M", "s.html.zst"},
         "s.html.zst: zstd data at byte 0 of the compressed input needs 2 MiB of memory, more than the 1 MiB allowed"},
    };
    for (const auto& c : cases) {
        HostRun run = Host(c.args);
        EXPECT_EQ(run.status, 2) << c.says;
        EXPECT_EQ(run.err, std::string("talveron: ") + c.says + "\n");
        EXPECT_EQ(run.out, "");
    }
    HostRun run = Host({"-z", "-h", "--decoder-memory=2G", "x.html.xz", "z.html.zst", "a.warc"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "http://m.jp/\nhttp://m.jp/\nhttp://m.jp/\n");
    run = Host({"-z", "--decoder-memory=1536K", "s.html.zst"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "http://m.jp/\n");
}

TEST_F(HostArchiveTest, QuietStopsAtTheFirstRecordFound) {
    // What lies behind it is never read: neither a record that cannot be
    // searched nor one that breaks the format is said.
    Write("a.warc", Record("response", "http://a.jp/", Response("", kPage)) +
                        Record("response", "http://lzw.jp/", Response("Content-Encoding: compress\r\n", kPage)) +
                        "garbage\r\n\r\n");
    HostRun run = Host({"-q", "a.warc"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

TEST_F(HostArchiveTest, ALargeArchiveIsSearchedWholeOnThreads) {
    // Never cut in parts as a large page is: its records keep their names,
    // and --stats counts the bytes of their pages.
    const long long size = kPage.size() + (9 << 20);
    Write("big.warc", Record("resource", "http://big.jp/", kPage + std::string(9 << 20, 'x')));
    EXPECT_EQ(Host({"-j2", "-c", "big.warc"}).out, "http://big.jp/:2\n");
    std::string err = Host({"-j2", "--stats=json", "big.warc"}).err;
    EXPECT_NE(err.find("\"bytes\":" + std::to_string(size) + ","), std::string::npos) << err;
}

TEST_F(HostArchiveTest, ArchivesAreCountedAndNamedOnRecords) {
    // Two archives of one site: --archive-names tells their records apart;
    // --stats counts archives and their records searched (a warcinfo
    // record is passed over, not searched).
    Shell("mkdir crawls");
    std::string archive = Record("warcinfo", "", "software: x\r\n") + Record("response", "http://a.jp/", Response("", kPage)) +
                          Record("resource", "http://b.jp/", kPage);
    Write("crawls/1.warc", archive);
    Write("crawls/2.warc", archive);
    EXPECT_EQ(Host({"-c", "--archive-names", "crawls"}).out,
              "crawls/1.warc{http://a.jp/}:2\ncrawls/1.warc{http://b.jp/}:2\n"
              "crawls/2.warc{http://a.jp/}:2\ncrawls/2.warc{http://b.jp/}:2\n");
    HostRun stats = Host({"-c", "--stats=json", "crawls"});
    EXPECT_NE(stats.err.find("\"inputs_searched\":4,\"inputs_failed\":0,\"bytes\":" +
                             std::to_string(4 * kPage.size()) + ",\"records_written\":8,\"archives_searched\":2,"
                             "\"records_searched\":4,"),
              std::string::npos)
        << stats.err;
    // The standards read the same bytes.
    stats = Host({"--html", "--stats=json", "crawls"});
    EXPECT_NE(stats.err.find(",\"bytes\":" + std::to_string(4 * kPage.size()) + ","), std::string::npos) << stats.err;
    stats = Host({"--stats", "-s", "crawls/1.warc"});
    EXPECT_NE(stats.err.find("talveron: archives searched      1\ntalveron: records searched       2\n"),
              std::string::npos)
        << stats.err;
    // An archive cut short fails, but the records read before the cut were
    // searched all the same.
    Shell("gzip -c crawls/1.warc | head -c $(( $(gzip -c crawls/1.warc | wc -c) - 12 )) > cut.warc.gz");
    stats = Host({"--stats=json", "cut.warc.gz"});
    EXPECT_NE(stats.err.find("\"archives_searched\":0,\"records_searched\":1,"), std::string::npos) << stats.err;
    // A run of pages alone says nothing of archives.
    Write("p.html", kPage);
    EXPECT_EQ(Host({"--stats=json", "p.html"}).err.find("archives"), std::string::npos);
    EXPECT_EQ(Host({"--stats", "p.html"}).err.find("archives"), std::string::npos);
}

}  // namespace

// --html through the tool: a file's own address is its file: URL (so its
// relative links are no http records) unless --base; what is passed over
// is counted, listed and, for a value too long to hold, said.
TEST_F(HostArchiveTest, HtmlLinksOfAFileAgainstItsAddress) {
    Write("p.html", "<a href=a.html><a href='mailto:x'><a href=\"HTTP://X.jp:80/#f\"><a href=\"" +
                        std::string(TALVERON_LINK_MAX + 1, 'z') + "\"><a href='http://['>");
    Shell("pwd -P | tr -d '\\n' > pwd.txt");
    HostRun run = Host({"--html", "--stats", "--rejected=why.txt", "p.html"});
    EXPECT_EQ(run.out, "http://x.jp/#f\n");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string tooLong = std::to_string(Read("p.html").find("<a href=\"z"));
    EXPECT_NE(run.err.find("talveron: p.html: byte " + tooLong + ": a link longer than " + std::to_string(TALVERON_LINK_MAX) + " bytes is passed over\n"),
              std::string::npos) << run.err;
    EXPECT_NE(run.err.find("links passed over      1 (file)\ntalveron: links passed over      1 (mailto)\n"
                           "talveron: links passed over      1 (not an address)\n"),
              std::string::npos) << run.err;
    EXPECT_NE(Host({"--html", "--stats=json", "p.html"}).err.find(
                  "\"links_passed_over\":[{\"kind\":\"file\",\"count\":1},{\"kind\":\"mailto\",\"count\":1},"
                  "{\"kind\":\"not an address\",\"count\":1}]"),
              std::string::npos);
    std::string why = Read("why.txt");
    EXPECT_EQ(why.substr(0, why.find('\n') + 1), "p.html:0: not http or https: file://" + Read("pwd.txt") + "/a.html\n");
    EXPECT_NE(why.find("p.html:15: not http or https: mailto:x\n"), std::string::npos) << why;
    EXPECT_NE(why.find("p.html:" + tooLong + ": longer than " + std::to_string(TALVERON_LINK_MAX) + " bytes: zzz"), std::string::npos);

    run = Host({"--html", "--base=https://s.jp/d/i.html", "-c", "p.html"});
    EXPECT_EQ(run.out, "2\n");
    run = Host({"--html", "--https", "p.html"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--https"), std::string::npos) << run.err;
}

namespace {

// A link against a long base: its address, up to --max-address, exactly as
// written (the base's path gone back through by ".."); a longer one passed
// over, said, listed with the value as written (cut as values are) and
// counted. A base longer than the limit is still the page's base.
TEST_F(HostArchiveTest, HtmlAddressesUpToTheLimitAgainstALongBase) {
    const std::string base = "http://b.jp/" + std::string(1023 - 13, 'd') + "/";  // 1023 bytes
    const std::string value(600, 'v');
    Write("p.html", "<base href=" + base + "><a href=x><a href=xy><a href=../y><a href=/z><a href=#f><a href=" + value + ">");
    HostRun run = Host({"--html", "--max-address=1K", "--stats=json", "--rejected=why.txt", "p.html"});
    EXPECT_EQ(run.out, base + "x\nhttp://b.jp/y\nhttp://b.jp/z\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("\"dropped_too_long\":3,"), std::string::npos) << run.err;
    const std::string xy = std::to_string(Read("p.html").find("<a href=xy"));
    EXPECT_NE(run.err.find("talveron: p.html: byte " + xy + ": a link whose address would be longer than 1024 bytes"),
              std::string::npos) << run.err;
    const std::string cut = std::to_string(Read("p.html").find("<a href=v"));
    EXPECT_EQ(Read("why.txt"), "p.html:" + xy + ": address longer than 1024 bytes: xy\n"
              "p.html:" + std::to_string(Read("p.html").find("<a href=#")) + ": address longer than 1024 bytes: #f\n"
              "p.html:" + cut + ": address longer than 1024 bytes: " + value.substr(0, TALVERON_ADDRESS_KEPT) + "\n");

    // The default, and a base far past it.
    Write("p.html", "<base href=http://b.jp/" + std::string(TALVERON_HTML_ADDRESS_MAX, 'd') +
                        "/><a href=x><a href=../y><a href=?q>");
    run = Host({"--html", "--stats", "p.html"});
    EXPECT_EQ(run.out, "http://b.jp/y\n");
    EXPECT_NE(run.err.find("dropped as too long    2\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("longer than " + std::to_string(TALVERON_HTML_ADDRESS_MAX) + " bytes"), std::string::npos);
    for (const char* wrong : {"--max-address=1023", "--max-address=2G", "--max-address=1X"})
        EXPECT_EQ(Host({"--html", wrong, "p.html"}).status, 2) << wrong;
    EXPECT_EQ(Host({"--max-address=1M", "p.html"}).status, 2);
}

// Where ICU cannot be loaded (hidden here by an empty file mounted over it,
// where the system lets a mount namespace be made), a page's international
// domains, and its ASCII "xn--" ones, are not passed over as no address:
// the run says why it stops and exits 2; the records before stand.
TEST_F(HostArchiveTest, HtmlWithoutIcuSaysSoAndFails) {
    void* icu = dlopen(TALVERON_ICU_LIBRARY, RTLD_LAZY);
    ASSERT_NE(icu, nullptr) << dlerror();
    link_map* map = nullptr;
    ASSERT_EQ(dlinfo(icu, RTLD_DI_LINKMAP, &map), 0);
    char file[PATH_MAX];
    ASSERT_NE(realpath(map->l_name, file), nullptr);
    Write("empty", "");
    const std::string hidden = "unshare -rm sh -c 'mount --bind empty " + std::string(file) +
                               " 2>/dev/null || exit 77; exec \"$0\" \"$@\"' ";
    for (const char* domain : {"xn--mnchen-3ya.de", "m\xC3\xBCnchen.de"}) {
        Write("p.html", std::string("<a href=http://a.jp/1><a href=http://") + domain + "/><a href=http://b.jp/2>");
        HostRun run = Host({"--html", "--rejected=why.txt", "p.html"}, hidden);
        if (run.status == 77) GTEST_SKIP() << "no mount namespace here";
        EXPECT_EQ(run.status, 2) << domain;
        EXPECT_EQ(run.out, "http://a.jp/1\n") << domain;
        EXPECT_NE(run.err.find("talveron: p.html: international domain names cannot be converted: "), std::string::npos)
            << run.err;
        EXPECT_EQ(Read("why.txt"), "") << domain;
    }
    dlclose(icu);
}

}  // namespace
// --base on a folder names the folder's address: each page's is the base
// joined with its path below the folder, as a mirror lays a site out (a
// base without its query and fragment, its path ended by '/'); a page's
// own <base href> is resolved against that and wins. node's URL, with its
// pathToFileURL's encoding of a path, gives each record.
TEST_F(HostArchiveTest, BaseOfAFolderIsEachPagesAddressBelowIt) {
    const std::string links = "<a href=other.html><a href=\"#top\"><a href=\"?q\"><a href=\"../x\">";
    Shell("mkdir -p 'site/sub/deeper' 'site/\xc3\xa9 d' site/b");
    for (const char* name : {"index.html", "sub/page.html", "sub/deeper/p.htm", "a b%c#d?e\\f.html", "\xc3\xa9 d/\xc3\xbc.html",
                             "c\r\t.html"})
        Write(std::string("site/") + name, links);
    Write("site/b/rel.html", "<base href=\"../up/\">" + links);
    Write("site/b/own.html", "<base href=\"http://y.jp/d/\">" + links);
    Write("expect.js",
          "const fs = require('fs'), {pathToFileURL} = require('url');\n"
          "const dir = new URL(process.argv[2]); dir.search = ''; dir.hash = '';\n"
          "if (!dir.pathname.endsWith('/')) dir.pathname += '/';\n"
          "for (const path of fs.readFileSync('list', 'utf8').split('\\0').filter(p => p)) {\n"
          "  const below = pathToFileURL('/' + path.slice('site/'.length)).href.slice('file:///'.length);\n"
          "  let base = new URL(below, dir);\n"
          "  const own = /<base href=\"([^\"]*)\">/.exec(fs.readFileSync(path, 'utf8'));\n"
          "  if (own) base = new URL(own[1], base);\n"
          "  for (const href of ['other.html', '#top', '?q', '../x']) process.stdout.write(new URL(href, base).href + '\\n');\n"
          "}\n");
    Shell(Quote(TALVERON_HOST) + " --list-inputs site >list");
    for (const char* base : {"http://x.jp/", "https://x.jp/mirror?x=1#f", "http://x.jp/a/b/"}) {
        std::string expected = Shell("node expect.js " + Quote(base) + " 2>/dev/null");
        if (expected.empty()) GTEST_SKIP() << "node is needed";
        HostRun run = Host({"--html", "-h", std::string("--base=") + base, "site"});
        EXPECT_EQ(run.out, expected) << base;
        EXPECT_EQ(run.status, 0) << run.err;
    }
    // A name that is not UTF-8 keeps its bytes, percent-encoded; a file
    // named is at the base itself, a page of a folder named "." below it.
    Write("\xff.html", links);
    EXPECT_EQ(Host({"--html", "-h", "--base=http://x.jp/d/", "\xff.html"}).out,
              "http://x.jp/d/other.html\nhttp://x.jp/d/#top\nhttp://x.jp/d/?q\nhttp://x.jp/x\n");
    std::string out = Shell("mkdir w && mv '\xff.html' w/ && cd w && " + Quote(TALVERON_HOST) + " --html -h --base=http://x.jp/d .");
    EXPECT_EQ(out, "http://x.jp/d/other.html\nhttp://x.jp/d/%FF.html#top\nhttp://x.jp/d/%FF.html?q\nhttp://x.jp/x\n");
}
