// The page that a record of a web archive holds: for an HTTP response, the
// body behind the header block, its chunked transfer coding undone and its
// content coding (gzip, deflate, zstd, br) decoded; for anything else, the
// block as it is.
#ifndef TALVERON_READ_HTTP_BODY_H
#define TALVERON_READ_HTTP_BODY_H

#include <cstddef>
#include <memory>
#include <string>

#include "read/byte_source.h"
#include "read/warc.h"

class Decoder;
class Decoding;

class HttpBody final : public ByteSource {
public:
    explicit HttpBody(WarcReader& block);
    ~HttpBody();

    // Reads the HTTP header block (`response`: the block holds one). False
    // when the body cannot be had: `problem` says why (a header block that
    // does not end, a coding that is not decoded).
    bool Begin(bool response, std::string& problem);
    // -1 when the archive could not be read (errno) or the body is broken
    // (errno EBADMSG; Problem() says how).
    long Read(unsigned char* buffer, std::size_t size) override;
    const std::string& Problem() const { return problem_; }
    // Whether the block began with an HTTP header block, and its last
    // Content-Type ("" when none).
    bool HasHeader() const { return header_; }
    const std::string& ContentType() const { return contentType_; }
    // The response's status code (of the last header block, behind any
    // 1xx), 0 without a header block that ends. Its Location and Refresh
    // headers, white space trimmed: where one comes more than once, the
    // first counts (copies of one value, the common case, agree).
    int Status() const { return status_; }
    bool HasLocation() const { return hasLocation_; }
    const std::string& Location() const { return location_; }
    bool HasRefresh() const { return hasRefresh_; }
    const std::string& Refresh() const { return refresh_; }

private:
    // The body as it comes, its chunked framing undone: what the content
    // coding's decoder reads.
    class Framed;
    long ReadPlain(unsigned char* buffer, std::size_t size);
    long ReadChunked(unsigned char* buffer, std::size_t size);
    bool ChunkLine(std::string& line);
    long Broken(const std::string& problem);

    WarcReader& block_;
    bool chunked_ = false;
    enum class Chunking { kSize, kData, kDataEnd, kTrailer, kDone } chunking_ = Chunking::kSize;
    unsigned long long chunkLeft_ = 0;
    std::unique_ptr<Framed> framed_;
    std::unique_ptr<Decoder> decoder_;
    std::unique_ptr<Decoding> decoding_;
    std::string problem_;
    bool header_ = false;
    std::string contentType_;
    int status_ = 0;
    bool hasLocation_ = false, hasRefresh_ = false;
    std::string location_, refresh_;
};

#endif
