#include "read/http_body.h"

#include "read/decoder.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The codings of a list field ("gzip, chunked"), lower case, "identity"
// left out.
std::vector<std::string> Codings(const std::string& field) {
    std::vector<std::string> codings;
    for (std::size_t at = 0; at <= field.size();) {
        std::size_t comma = std::min(field.find(',', at), field.size());
        std::string coding = Lower(FieldValue(field.data() + at, field.data() + comma));
        if (!coding.empty() && coding != "identity") codings.push_back(coding);
        at = comma + 1;
    }
    return codings;
}

}  // namespace

class HttpBody::Framed final : public ByteSource {
public:
    explicit Framed(HttpBody& body) : body_(body) {}
    long Read(unsigned char* buffer, std::size_t size) override { return body_.ReadPlain(buffer, size); }

private:
    HttpBody& body_;
};

HttpBody::HttpBody(WarcReader& block) : block_(block) {}
HttpBody::~HttpBody() = default;

bool HttpBody::Begin(bool response, std::string& problem) {
    std::size_t have = 0;
    const unsigned char* at = block_.Peek(have, 5);
    // A response of another protocol (dns:, say) is searched as it stands.
    if (!response || !at || have < 5 || std::memcmp(at, "HTTP/", 5) != 0) return true;
    std::string transfer, content;
    header_ = true;
    for (;;) {
        // The header block, whole: a 1xx response's is followed by another.
        std::size_t length = 0;
        for (std::size_t want = 4096;; want *= 2) {
            at = block_.Peek(have, want);
            // No further than `want`, however much is at hand: the same
            // archive read in other pieces reads alike.
            if (at && (length = HeaderBlockEnd(at, std::min(have, want))) > 0) break;
            if (have < want || want >= WarcReader::kHeaderMax) {
                problem = have < want ? "its HTTP header block does not end"
                                      : "its HTTP header block is longer than " +
                                            std::to_string(WarcReader::kHeaderMax) + " bytes";
                return false;
            }
        }
        const char* begin = reinterpret_cast<const char*>(at);
        const char* end = begin + length;
        const char* line = static_cast<const char*>(std::memchr(begin, '\n', length)) + 1;
        const char* space = static_cast<const char*>(std::memchr(begin, ' ', static_cast<std::size_t>(line - begin)));
        int status = space ? std::atoi(space + 1) : 0;
        transfer.clear();
        content.clear();
        contentType_.clear();
        hasLocation_ = hasRefresh_ = false;
        location_.clear();
        refresh_.clear();
        for (; line < end;) {
            const char* stop = static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
            const char* colon = static_cast<const char*>(std::memchr(line, ':', static_cast<std::size_t>(stop - line)));
            if (colon) {
                std::string name(line, colon), value = FieldValue(colon + 1, stop);
                if (strcasecmp(name.c_str(), "Transfer-Encoding") == 0) transfer += "," + value;
                if (strcasecmp(name.c_str(), "Content-Encoding") == 0) content += "," + value;
                if (strcasecmp(name.c_str(), "Content-Type") == 0) contentType_ = value;
                if (!hasLocation_ && strcasecmp(name.c_str(), "Location") == 0) {
                    hasLocation_ = true;
                    location_ = value;
                }
                if (!hasRefresh_ && strcasecmp(name.c_str(), "Refresh") == 0) {
                    hasRefresh_ = true;
                    refresh_ = value;
                }
            }
            line = stop + 1;
        }
        block_.Consume(length);
        if (status < 100 || status > 199 || status == 101) {
            status_ = status;
            break;
        }
    }

    std::vector<std::string> transfers = Codings(transfer), contents = Codings(content);
    if (transfers.size() > 1 || (transfers.size() == 1 && transfers[0] != "chunked")) {
        problem = "not searched: transfer coding " + FieldValue(transfer.data() + 1, transfer.data() + transfer.size()) + " is not undone";
        return false;
    }
    chunked_ = !transfers.empty();
    if (contents.empty()) return true;
    const std::string coding = contents.size() == 1 ? contents[0] : "";
    bool known = coding == "gzip" || coding == "x-gzip" || coding == "deflate" || coding == "zstd" || coding == "br";
    if (!known) {
        problem = "not searched: content coding " + FieldValue(content.data() + 1, content.data() + content.size()) + " is not decoded";
        return false;
    }
    decoder_ = coding == "zstd" ? NewZstdDecoder() : coding == "br" ? NewBrotliDecoder() : NewZlibDecoder(coding != "deflate");
    if (!decoder_) {
        problem = "not searched: no memory to decode its " + coding + " content";
        return false;
    }
    framed_.reset(new Framed(*this));
    decoding_.reset(new Decoding(*decoder_, *framed_, 64 * 1024));
    return true;
}

long HttpBody::Read(unsigned char* buffer, std::size_t size) {
    if (!decoding_) return ReadPlain(buffer, size);
    long n = decoding_->Read(buffer, size);
    // A failed read of the archive, or a broken chunked framing (said).
    if (n >= 0 || decoding_->Failed() == Decoding::Fault::kRead) return n;
    std::string its = std::string("its ") + decoding_->Name() + " content ";
    switch (decoding_->Failed()) {
        case Decoding::Fault::kCutShort: return Broken(its + "is cut short");
        case Decoding::Fault::kTrailing: return Broken(its + "has bytes behind its end");
        case Decoding::Fault::kTooBig: return Broken(its + decoding_->TooBig());
        default: return Broken(its + "is corrupt");
    }
}

long HttpBody::Broken(const std::string& problem) {
    problem_ = problem;
    errno = EBADMSG;
    return -1;
}

long HttpBody::ReadPlain(unsigned char* buffer, std::size_t size) {
    if (chunked_) return ReadChunked(buffer, size);
    std::size_t have;
    const unsigned char* at = block_.Peek(have);
    if (!at) {
        if (!block_.Failed()) return 0;
        errno = block_.Errno();
        return -1;
    }
    std::size_t n = std::min(have, size);
    std::memcpy(buffer, at, n);
    block_.Consume(n);
    return static_cast<long>(n);
}

// The next line of the chunked framing, without its line end; false at the
// end of the block (or after a failed read) before one ends.
bool HttpBody::ChunkLine(std::string& line) {
    constexpr std::size_t kLineMax = 4096;
    for (std::size_t want = 64;; want *= 2) {
        std::size_t have;
        const unsigned char* at = block_.Peek(have, want);
        const void* lf = at ? std::memchr(at, '\n', std::min(have, want)) : nullptr;
        if (lf) {
            std::size_t length = static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - at);
            line.assign(reinterpret_cast<const char*>(at), length > 0 && at[length - 1] == '\r' ? length - 1 : length);
            block_.Consume(length + 1);
            return true;
        }
        if (have < want || want >= kLineMax) return false;
    }
}

long HttpBody::ReadChunked(unsigned char* buffer, std::size_t size) {
    std::string line;
    for (;;) {
        switch (chunking_) {
            case Chunking::kSize: {
                if (!ChunkLine(line)) {
                    if (block_.Failed()) return errno = block_.Errno(), -1;
                    return Broken("its chunked body is cut short");
                }
                std::size_t digits = 0;
                unsigned long long value = 0;
                while (digits < line.size() && digits < 16 && std::isxdigit(static_cast<unsigned char>(line[digits]))) {
                    char c = line[digits++];
                    value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
                }
                std::string rest = FieldValue(line.data() + digits, line.data() + line.size());
                if (digits == 0 || (!rest.empty() && rest[0] != ';')) return Broken("its chunked body is broken");
                chunkLeft_ = value;
                chunking_ = value > 0 ? Chunking::kData : Chunking::kTrailer;
                break;
            }
            case Chunking::kData: {
                std::size_t have;
                const unsigned char* at = block_.Peek(have);
                if (!at) {
                    if (block_.Failed()) return errno = block_.Errno(), -1;
                    return Broken("its chunked body is cut short");
                }
                std::size_t n = static_cast<std::size_t>(std::min<unsigned long long>({have, size, chunkLeft_}));
                std::memcpy(buffer, at, n);
                block_.Consume(n);
                if ((chunkLeft_ -= n) == 0) chunking_ = Chunking::kDataEnd;
                return static_cast<long>(n);
            }
            case Chunking::kDataEnd:
                if (!ChunkLine(line) || !line.empty()) {
                    if (block_.Failed()) return errno = block_.Errno(), -1;
                    return Broken(line.empty() ? "its chunked body is cut short" : "its chunked body is broken");
                }
                chunking_ = Chunking::kSize;
                break;
            case Chunking::kTrailer:
                // Trailer fields up to an empty line; a body that ends
                // without that line has lost nothing.
                if (!ChunkLine(line) || line.empty()) chunking_ = Chunking::kDone;
                break;
            case Chunking::kDone:
                return 0;
        }
    }
}
