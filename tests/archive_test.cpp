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
std::string Entries(const std::string& archive, std::size_t piece, bool decompressed = false, long long size = -1) {
    MemorySource source(archive, piece);
    ArchiveReader reader(source, decompressed, size);
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
        if (next == ArchiveReader::Next::kPassedOver) continue;
        if (next == ArchiveReader::Next::kNotSearched) {
            out += "not searched " + reader.Name() + ": " + problem + "\n";
            continue;
        }
        out += "page " + reader.Name() + ": ";
        unsigned char buffer[7];
        for (long n; (n = reader.Body().Read(buffer, sizeof buffer)) > 0;)
            out.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
        out += reader.BodyProblem() + reader.BlockProblem() + "\n";
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

// Of HTML alone: a response that is no page but redirects by its header
// comes out, for its header alone, when header links are asked for.
TEST(ArchiveReader, ARedirectThatIsNoPageComesOutForItsHeaderWhenAsked) {
    const struct {
        std::string head;
        const char* asked;  // with header links: "page", "header" or "passed"
    } cases[] = {
        {"HTTP/1.1 301 Moved\r\nContent-Type: image/png\r\nLocation: /a\r\n", "header"},
        {"HTTP/1.1 399 X\r\nContent-Type: image/png\r\nLocation: /a\r\n", "header"},
        {"HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nRefresh: 0;url=/b\r\n", "header"},
        {"HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nLocation: /a\r\n", "passed"},
        {"HTTP/1.1 400 Bad\r\nContent-Type: image/png\r\nLocation: /a\r\n", "passed"},
        {"HTTP/1.1 299 X\r\nContent-Type: image/png\r\nLocation: /a\r\n", "passed"},
        {"HTTP/1.1 301 Moved\r\nContent-Type: image/png\r\n", "passed"},
        {"HTTP/1.1 301 Moved\r\nContent-Type: text/html\r\nLocation: /a\r\n", "page"},
    };
    for (const auto& c : cases)
        for (bool asked : {false, true}) {
            MemorySource source(Record("response", "http://a.jp/", c.head + "\r\n<body>"), 64);
            ArchiveReader reader(source, false);
            reader.SetHtmlOnly(true);
            reader.SetHeaderLinks(asked);
            std::string problem;
            ArchiveReader::Next next = reader.NextRecord(problem);
            std::string got = next == ArchiveReader::Next::kPassedOver ? "passed"
                              : next != ArchiveReader::Next::kRecord   ? "other"
                              : reader.HeaderOnly()                    ? "header"
                                                                       : "page";
            EXPECT_EQ(got, asked || std::string(c.asked) == "page" ? c.asked : "passed") << c.head << asked;
        }
}

// A record cut in segments, WARC/1.1 style: the first segment carries the
// record's type and name, each continuation its origin and number, the
// last the total length.
std::string Segment(const std::string& type, int number, const std::string& block, bool last,
                    const std::string& origin = "<urn:uuid:1>") {
    std::string fields = number == 1 ? "WARC-Type: " + type + "\r\nWARC-Target-URI: <http://s.jp/>\r\nWARC-Record-ID: " + origin
                                     : "WARC-Type: continuation\r\nWARC-Record-ID: <urn:uuid:" + std::to_string(number) +
                                           "x>\r\nWARC-Segment-Origin-ID: " + origin;
    return "WARC/1.1\r\n" + fields + "\r\nWARC-Segment-Number: " + std::to_string(number) + "\r\n" +
           (last ? "WARC-Segment-Total-Length: 999\r\n" : "") + "Content-Length: " + std::to_string(block.size()) +
           "\r\n\r\n" + block + "\r\n\r\n";
}

TEST(ArchiveReader, ARecordInSegmentsIsReadWholeAndASegmentThatNeverCameIsSaid) {
    const std::string page = Response("Transfer-Encoding: chunked\r\n", Chunked("<a href=\"http://a.jp\"> <a href=\"http://b.jp\">", 7));
    const std::string whole = "page http://s.jp/: <a href=\"http://a.jp\"> <a href=\"http://b.jp\">\n";
    const std::string other = Record("response", "http://o.jp/", Response("", "o"));
    const std::string plain = Response("", "<a href=\"http://a.jp\"> <a href=\"http://b.jp\">");
    const std::string never = "its segment 3 never came (a continuation record must follow the segment before it)";
    const struct {
        std::string archive, expected;
    } cases[] = {
        {Segment("response", 1, page.substr(0, 30), false) + Segment("", 2, page.substr(30, 9), false) +
             Segment("", 3, page.substr(39), true) + other,
         whole + "page http://o.jp/: o\n"},
        // Segment 3 never comes: the page as far as it goes, and why it
        // stops; or, when the HTTP header is not whole, only why.
        {Segment("response", 1, plain.substr(0, 50), false) + Segment("", 2, plain.substr(50, 7), false) + other,
         "page http://s.jp/: " + plain.substr(plain.find("<a"), 57 - plain.find("<a")) + never + "\npage http://o.jp/: o\n"},
        {Segment("response", 1, page.substr(0, 30), false) + Segment("", 2, page.substr(30, 9), false) + other,
         "not searched http://s.jp/: " + never + "\npage http://o.jp/: o\n"},
        // A continuation whose first segment is not here.
        {other + Segment("", 2, "x", true, "<urn:uuid:9>"),
         "page http://o.jp/: o\nmalformed: WARC continuation record at byte " + std::to_string(other.size()) +
             ": its first segment is not in this archive\n"},
    };
    for (const auto& c : cases)
        for (std::size_t piece : {std::size_t{1}, std::size_t{5}, c.archive.size()})
            EXPECT_EQ(Entries(c.archive, piece), c.expected) << "in pieces of " << piece;
}

TEST(ArchiveReader, AFoldedFieldIsUnfoldedAndTrimmed) {
    const std::string block = Response("", "f");
    const std::string archive = "WARC/1.0\r\nWARC-Type:\r\n response\r\nWARC-Target-URI:\r\n\t<http://f.jp/a\r\n b>  \r\n"
                                "Content-Length: " + std::to_string(block.size()) + "\r\n\r\n" + block + "\r\n\r\n";
    EXPECT_EQ(Entries(archive, archive.size()), "page http://f.jp/a b: f\n");
}

TEST(ArchiveReader, SaysWhereInADecompressedArchiveARecordBreaks) {
    std::string archive = Record("resource", "http://a.jp/", "x");
    std::string cut = archive.substr(0, archive.size() - 5);  // its block missing
    EXPECT_EQ(Entries(cut, 100, true), "page http://a.jp/: \nmalformed: malformed WARC record at byte 0 of the "
                                       "decompressed archive: cut short: 0 of its 1 bytes (any records behind its "
                                       "header were read as its block)\n");
}

// A Content-Length past the end: in an archive of known size, the block
// ends before the first record met in it, which is read as a record; from a
// stream, the records are read as its block, and that is said.
TEST(ArchiveReader, ALengthPastTheEndTakesNoRecordsInWhenTheSizeIsKnown) {
    const std::string a = Record("resource", "http://a.jp/", "a"), c = Record("resource", "http://c.jp/", "c");
    std::string huge = Record("resource", "http://b.jp/", "b");
    huge.replace(huge.find("Content-Length: 1"), 17, "Content-Length: 999999999999");
    const std::string archive = a + huge + c;
    const std::size_t left = c.size() + 5;  // "b\r\n\r\n" and c behind the header
    EXPECT_EQ(Entries(archive, 7, false, static_cast<long long>(archive.size())),
              "page http://a.jp/: a\npage http://b.jp/: b\r\n\r\n\nmalformed: malformed WARC record at byte " +
                  std::to_string(a.size()) +
                  ": its Content-Length 999999999999 runs past the end of the archive: its block was taken up to "
                  "the record behind it\npage http://c.jp/: c\n");
    // Cut inside its block, with no record behind: what there is stands.
    EXPECT_EQ(Entries(a + huge.substr(0, huge.size() - 4), 7, false, static_cast<long long>(a.size() + huge.size() - 4)),
              "page http://a.jp/: a\npage http://b.jp/: b\nmalformed: malformed WARC record at byte " +
                  std::to_string(a.size()) + ": cut short: 1 of its 999999999999 bytes\n");
    EXPECT_EQ(Entries(archive, 7), "page http://a.jp/: a\npage http://b.jp/: b\r\n\r\n" + c +
                                       "\nmalformed: malformed WARC record at byte " + std::to_string(a.size()) +
                                       ": cut short: " + std::to_string(left) +
                                       " of its 999999999999 bytes (any records behind its header were read as its "
                                       "block)\n");
}

TEST(ArchiveReader, AResourceIsItsBlockAsItStandsThoughItReadsLikeAResponse) {
    std::string block = Response("Content-Encoding: compress\r\n", "<a href=\"http://a.jp\">");
    EXPECT_EQ(Entries(Record("resource", "file:///h.txt", block), 64), "page file:///h.txt: " + block + "\n");
}

// Each header read into the same record, as a caller may keep one: blank
// lines before a record do not move where it is said to begin, and no field
// of one record stays with the next.
TEST(WarcReader, EachRecordIsReadOnItsOwnWhereItBegins) {
    auto drop = [](std::string record, const char* field) {
        std::size_t at = record.find(field);
        return record.erase(at, record.find('\n', at) + 1 - at);
    };
    const std::string named = Record("resource", "http://a.jp/", "a"), blank = "\r\n\n\r\n\n";
    const std::string broken = "WARC/1.1\r\nWARC-Type: resource\r\n\r\n";  // no Content-Length
    const std::string nameless = drop(Record("resource", "", "b"), "WARC-Target-URI");
    const std::string typeless = drop(Record("", "http://c.jp/", "c"), "WARC-Type");
    const std::string archive = named + blank + broken + nameless + blank + typeless + named;
    const std::size_t at = named.size() + blank.size() + broken.size() + nameless.size() + blank.size();
    const std::string expected = "0 resource http://a.jp/\n" + std::to_string(named.size() + blank.size()) +
                                 ": it has no Content-Length\n" + std::to_string(at - nameless.size() - blank.size()) +
                                 ": it has no WARC-Target-URI\n" + std::to_string(at) + ": it has no WARC-Type\n" +
                                 std::to_string(at + typeless.size()) + " resource http://a.jp/\n";
    for (std::size_t piece : {std::size_t{1}, std::size_t{5}, archive.size()}) {
        MemorySource source(archive, piece);
        WarcReader reader(source);
        WarcRecord record;
        std::string out, problem;
        for (WarcReader::Next next; (next = reader.NextRecord(record, problem)) != WarcReader::Next::kEnd; problem.clear())
            out += std::to_string(record.offset) +
                   (next == WarcReader::Next::kRecord ? " " + record.type + " " + record.target : ": " + problem) + "\n";
        EXPECT_EQ(out, expected) << "in pieces of " << piece;
    }
}

}  // namespace
