// A web archive as an iterator: each record that holds a page (a response
// or a resource) comes out with its name and a source of its page's bytes;
// a record that breaks the format comes out as what went wrong and where.
// Whoever reads the records only iterates.
#ifndef TALVERON_READ_ARCHIVE_H
#define TALVERON_READ_ARCHIVE_H

#include <memory>
#include <string>

#include "read/byte_source.h"
#include "read/http_body.h"
#include "read/warc.h"

class ArchiveReader {
public:
    // `decompressed`: `in` is a decompressor's output (said with offsets).
    // `size`: the archive's length when known (a regular file), else -1.
    ArchiveReader(ByteSource& in, bool decompressed, long long size = -1);

    enum class Next {
        kRecord,      // Name() and Body() are the next record's
        kNotSearched, // the record's page cannot be had: Name() and `problem`
        kMalformed,   // a record that breaks the format: `problem` says where
        kPassedOver,  // a record of a type not searched: Type() tells it
        kEnd,         // the archive has ended
        kFailed,      // a read of the archive failed (Errno())
    };
    // Moves past what is left of the record before. Records of other types
    // (warcinfo, request, metadata, revisit, ...; the type's case counts)
    // come out as passed over.
    Next NextRecord(std::string& problem);

    // Records whose page is not HTML (by its Content-Type: HTTP's for a
    // response, the record's own for a resource; none counts as HTML) come
    // out as passed over, Type() their media type.
    void SetHtmlOnly(bool htmlOnly) { htmlOnly_ = htmlOnly; }
    // With SetHtmlOnly: a response that is not HTML but redirects by its
    // header (a 3xx with Location, or a Refresh header) comes out as a
    // record all the same, HeaderOnly(): its header's link is searched,
    // its body not read.
    void SetHeaderLinks(bool headerLinks) { headerLinks_ = headerLinks; }
    bool HeaderOnly() const { return headerOnly_; }

    const std::string& Name() const { return name_; }
    const std::string& Type() const { return type_; }
    // The record's page: an HTTP response's body, decoded, or the block.
    // A read that fails because the body is broken sets errno EBADMSG, and
    // BodyProblem() says how; else the archive could not be read.
    ByteSource& Body() { return *body_; }
    const std::string& BodyProblem() const { return body_->Problem(); }
    // The record's HTTP response as its header block tells it (see
    // HttpBody): after kRecord or kNotSearched. Status() is 0 for a record
    // that holds no HTTP response, or whose header block does not end.
    const HttpBody& Response() const { return *body_; }
    // After the body's end: what was missing from the record's block (a
    // segment that never came), else "".
    const std::string& BlockProblem() const { return reader_.BlockProblem(); }
    int Errno() const { return reader_.Errno(); }
    // The archive's bytes read so far (decompressed).
    long long BytesRead() const { return reader_.BytesRead(); }

private:
    WarcReader reader_;
    bool decompressed_;
    bool htmlOnly_ = false;
    bool headerLinks_ = false;
    bool headerOnly_ = false;
    std::string name_, type_;
    std::unique_ptr<HttpBody> body_;
};

#endif
