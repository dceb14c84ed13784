// Web archives' records and HTTP bodies as crawlers and servers write them,
// for the tests of what talveron reads: records framed as WARC/1.1
// writers frame them, bodies chunked as servers chunk them.
#ifndef TALVERON_TESTS_WARC_RECORDS_H
#define TALVERON_TESTS_WARC_RECORDS_H

#include <cstdio>
#include <string>

#include "tests/encoded.h"

// A body in chunks of `size` bytes (the last shorter), and the last chunk.
inline std::string Chunked(const std::string& body, std::size_t size) {
    std::string out;
    char line[32];
    for (std::size_t at = 0; at < body.size(); at += size) {
        std::string piece = body.substr(at, size);
        snprintf(line, sizeof line, "%zx;ext=1\r\n", piece.size());
        out += line + piece + "\r\n";
    }
    return out + "0\r\nTrailer: x\r\n\r\n";
}

inline std::string Record(const std::string& type, const std::string& uri, const std::string& block,
                   const std::string& version = "WARC/1.1") {
    return version + "\r\nWARC-Type: " + type + "\r\nWARC-Target-URI: <" + uri + ">\r\nContent-Length: " +
           std::to_string(block.size()) + "\r\n\r\n" + block + "\r\n\r\n";
}

inline std::string Response(const std::string& fields, const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" + fields + "\r\n" + body;
}

#endif
