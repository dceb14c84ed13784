// An HTTP response in a web archive's record, read from memory a piece at
// a time: its 1xx blocks passed over, its chunked framing undone, its
// content coding decoded, and what goes wrong said as the tool says it.
#include <gtest/gtest.h>

#include "read/http_body.h"
#include "read/warc.h"
#include "tests/warc_records.h"

namespace {

// The body of a record of `block`, and the problem said (by Begin or Read).
std::pair<std::string, std::string> ReadBody(const std::string& block, std::size_t piece) {
    MemorySource source("WARC/1.1\r\nWARC-Type: response\r\nWARC-Target-URI: <http://a.jp/>\r\nContent-Length: " +
                            std::to_string(block.size()) + "\r\n\r\n" + block + "\r\n\r\n", piece);
    WarcReader reader(source);
    WarcRecord record;
    std::string problem, out;
    EXPECT_EQ(reader.NextRecord(record, problem), WarcReader::Next::kRecord);
    HttpBody body(reader);
    if (!body.Begin(true, problem)) return {"", problem};
    unsigned char buffer[1000];
    for (long n; (n = body.Read(buffer, 1 + out.size() % sizeof buffer)) != 0; out.append(reinterpret_cast<char*>(buffer), n))
        if (n < 0) return {out, body.Problem()};
    return {out, ""};
}

TEST(HttpBody, FramingAndCodingsAreUndoneAndTheirFaultsSaid) {
    const std::string page = LinkPage(2000), gz = Deflated(page), ok = "HTTP/1.1 200 OK\r\n";
    const std::string chunked = ok + "Transfer-Encoding: chunked\r\n", coded = ok + "Content-Encoding: ";
    std::string chunks;  // the gzip body in chunks of 100 bytes, then the last chunk and a trailer
    for (std::size_t at = 0; at < gz.size(); at += 100) {
        char line[32];
        snprintf(line, sizeof line, "%zx;x=1\r\n", gz.substr(at, 100).size());
        chunks += line + gz.substr(at, 100) + "\r\n";
    }
    const std::pair<std::string, std::string> cases[] = {  // a block, and the problem said
        {ok + "\r\n" + page, ""},
        {chunked + "Content-Encoding: gzip\r\n\r\n" + chunks + "0\r\nTrailer: x\r\n\r\n", ""},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early\r\nLink: x\r\n\r\n" + coded + "x-gzip\r\n\r\n" + gz, ""},
        {coded + "deflate\r\n\r\n" + Deflated(page, false), ""},
        {coded + "deflate\r\n\r\n" + ZlibWrapped(page), ""},
        {coded + "zstd\r\n\r\n" + Zstd(page), ""},
        {coded + "identity, br\r\n\r\n" + Brotli(page), ""},
        {coded + "Identity\r\n\r\n" + page, ""},  // no coding: searched as it stands
        // Chunk sizes in hex of either case.
        {chunked + "\r\n1A\r\n" + page.substr(0, 0x1A) + "\r\naB;x\r\n" + page.substr(0x1A, 0xAB) + "\r\n" +
             Chunked(page.substr(0x1A + 0xAB), 0xC0DE), ""},
        // Chunk lines ended by a line feed alone, as some servers end them.
        {chunked + "\n1a\n" + page.substr(0, 0x1a) + "\n" + Chunked(page.substr(0x1a), 0x100), ""},
        {chunked + "\r\n" + Chunked(page, 0x100).substr(0, Chunked(page, 0x100).size() - 2) + "\n", ""},
        {coded + "br\r\n\r\n" + Brotli(page) + "x", "its br content has bytes behind its end"},
        {coded + "gzip\r\n\r\n" + gz.substr(0, gz.size() / 2), "its gzip content is cut short"},
        {coded + "zstd\r\n\r\n" + Zstd(page) + "junk", "its zstd content is corrupt"},
        {coded + "compress\r\n\r\n" + page, "not searched: content coding compress is not decoded"},
        {ok + "Transfer-Encoding: gzip\r\n\r\n" + gz, "not searched: transfer coding gzip is not undone"},
        {chunked + "\r\nzz\r\n", "its chunked body is broken"},
        {chunked + "\r\n40\r\n" + page.substr(0, 5), "its chunked body is cut short"},
        {ok + "Content-Type: text/html", "its HTTP header block does not end"},
        {ok + "X: " + std::string(WarcReader::kHeaderMax, 'x') + "\r\n\r\n", "its HTTP header block is longer than 65536 bytes"},
    };
    for (const auto& c : cases)
        for (std::size_t piece : {std::size_t(1) << 20, std::size_t(3)}) {
            std::pair<std::string, std::string> got = ReadBody(c.first, piece);
            EXPECT_EQ(got.second, c.second) << &c - cases << " " << piece;
            // All of the page, or a part of it where the body is broken.
            EXPECT_EQ(got.first, c.second.empty() ? page : page.substr(0, got.first.size())) << &c - cases;
        }
    // An empty body (a 304's) is no fault, whatever its coding says.
    for (const char* coding : {"gzip", "deflate", "zstd", "br"})
        EXPECT_EQ(ReadBody("HTTP/1.1 304 Not Modified\r\nContent-Encoding: " + std::string(coding) + "\r\n\r\n", 3),
                  std::make_pair(std::string(), std::string()))
            << coding;
}

TEST(HttpBody, InterimResponsesArePassedOverUpToTheFinalOne) {
    // RFC 9110 15.2: a 1xx response is interim, another follows it; but 101
    // switches the connection away from HTTP, so what follows it is no
    // HTTP response but the body itself.
    const std::string page = LinkPage(20), final = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    const struct {
        const char* status;
        bool interim;
    } cases[] = {{"100 Continue", true}, {"101 Switching Protocols", false}, {"102 Processing", true},
                 {"103 Early Hints", true}, {"199 X", true}, {"200 OK", false}, {"204 No Content", false}};
    for (const auto& c : cases) {
        std::string block = "HTTP/1.1 " + std::string(c.status) + "\r\nLink: </s.css>\r\n\r\n" + final + page;
        EXPECT_EQ(ReadBody(block, 7), std::make_pair(c.interim ? page : final + page, std::string())) << c.status;
    }
}

// The final response's status and its redirects (the first Location and
// Refresh where one comes twice); an interim response's are not its.
TEST(HttpBody, TheFinalResponsesStatusLocationAndRefreshAreKept) {
    const struct {
        std::string block;
        int status;
        const char *location, *refresh;  // null: none
    } cases[] = {
        {"HTTP/1.1 301 Moved\r\nLocation:  /a \r\nlocation: /b\r\n\r\n", 301, "/a", nullptr},
        {"HTTP/1.1 103 Early\r\nLocation: /x\r\nRefresh: 1\r\n\r\nHTTP/1.1 200 OK\r\nREFRESH: 0; url=/n\r\n"
         "Refresh: 5\r\n\r\n", 200, nullptr, "0; url=/n"},
        {"HTTP/1.1 302 Found\r\nLocation:\r\n\r\n", 302, "", nullptr},
        {"HTTP/1.0 404 Not Found\r\n\r\n", 404, nullptr, nullptr},
        {"HTTP/1.1 200 OK\r\nContent-Type: text/html", 0, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        MemorySource source(Record("response", "http://a.jp/", c.block), 5);
        WarcReader reader(source);
        WarcRecord record;
        std::string problem;
        ASSERT_EQ(reader.NextRecord(record, problem), WarcReader::Next::kRecord);
        HttpBody body(reader);
        body.Begin(true, problem);
        EXPECT_EQ(body.Status(), c.status) << c.block;
        EXPECT_EQ(body.HasLocation() ? "<" + body.Location() + ">" : "none",
                  c.location ? "<" + std::string(c.location) + ">" : "none") << c.block;
        EXPECT_EQ(body.HasRefresh() ? "<" + body.Refresh() + ">" : "none",
                  c.refresh ? "<" + std::string(c.refresh) + ">" : "none") << c.block;
    }
}

}  // namespace
