// An archive read as an iterator: what each record comes out as (a named
// page, a record whose page cannot be had, a record that breaks the
// format), the same however the archive is handed over.
#include <gtest/gtest.h>

#include <string>

#include "read/archive.h"
#include "tests/deflated.h"
#include "tests/warc_records.h"

namespace {

// Each entry as a line: its kind, its name and its page or its problem.
std::string Entries(const std::string& archive, std::size_t piece, bool decompressed = false) {
    MemorySource source(archive, piece);
    ArchiveReader reader(source, decompressed);
    std::string out;
    for (;;) {
        std::string problem;
        ArchiveReader::Next next = reader.NextRecord(problem);
        if (next == ArchiveReader::Next::kEnd) return out;
        if (next == ArchiveReader::Next::kFailed) return out + "failed\n";
        if (next == ArchiveReader::Next::kMalformed) {
            out += "malformed: " + problem + "\n";
            continue;
        }
        if (next == ArchiveReader::Next::kNotSearched) {
            out += "not searched " + reader.Name() + ": " + problem + "\n";
            continue;
        }
        out += "page " + reader.Name() + ": ";
        unsigned char buffer[7];
        for (long n; (n = reader.Body().Read(buffer, sizeof buffer)) > 0;)
            out.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
        out += reader.BodyProblem() + "\n";
    }
}

TEST(ArchiveReader, YieldsThePagesOfResponsesAndResourcesByName) {
    const std::string page = "<a href=\"http://a.jp\">";
    std::string archive = Record("warcinfo", "", "software: test\r\n") +
                          Record("request", "http://a.jp/", "GET / HTTP/1.1\r\n\r\n") +
                          Record("response", "http://a.jp/", Response("", page)) +
                          Record("resource", "file:///b.html", page) +
                          Record("response", "http://c.jp/", Response("Content-Encoding: gzip\r\n", Deflated(page))) +
                          Record("response", "http://d.jp/", Response("Content-Encoding: compress\r\n", "x")) +
                          Record("metadata", "http://a.jp/", "outlinks: x\r\n") +
                          "garbage\r\n\r\n" +
                          Record("response", "http://e.jp/", Response("Transfer-Encoding: chunked\r\n", Chunked(page, 5)));
    const std::string expected = "page http://a.jp/: " + page + "\n" +
                                 "page file:///b.html: " + page + "\n" +
                                 "page http://c.jp/: " + page + "\n" +
                                 "not searched http://d.jp/: not searched: content coding compress is not decoded\n" +
                                 "malformed: malformed WARC record at byte " +
                                 std::to_string(archive.find("garbage")) + ": it does not begin with a WARC version line\n" +
                                 "page http://e.jp/: " + page + "\n";
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{64}, archive.size()})
        EXPECT_EQ(Entries(archive, piece), expected) << "in pieces of " << piece;
}

TEST(ArchiveReader, SaysWhereInADecompressedArchiveARecordBreaks) {
    std::string archive = Record("resource", "http://a.jp/", "x");
    std::string cut = archive.substr(0, archive.size() - 5);  // its block missing
    EXPECT_EQ(Entries(cut, 100, true), "page http://a.jp/: \nmalformed: malformed WARC record at byte 0 of the "
                                       "decompressed archive: cut short: 0 of its 1 bytes\n");
}

TEST(ArchiveReader, AResourceIsItsBlockAsItStandsThoughItReadsLikeAResponse) {
    std::string block = Response("Content-Encoding: compress\r\n", "<a href=\"http://a.jp\">");
    EXPECT_EQ(Entries(Record("resource", "file:///h.txt", block), 64), "page file:///h.txt: " + block + "\n");
}

}  // namespace
