#include "read/http_body.h"

#include <brotli/decode.h>
#include <strings.h>
#include <zlib.h>
#include <zstd.h>

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


// A content coding, undone on the compressed bytes that the body gives.
class HttpBody::Decoder {
public:
    explicit Decoder(const char* name) : name_(name) {}
    virtual ~Decoder() = default;

    long Read(HttpBody& body, unsigned char* buffer, std::size_t size) {
        while (!done_) {
            if (pos_ == length_ && !full_) {
                long n = body.ReadPlain(input_, sizeof input_);
                if (n < 0) return -1;
                if (n == 0) {
                    done_ = true;
                    // An empty body (a 304, a 204) has nothing to decode.
                    if (started_ && !ended_) return body.Broken(std::string("its ") + name_ + " content is cut short");
                    return 0;
                }
                pos_ = 0;
                length_ = static_cast<std::size_t>(n);
            }
            if (ended_) {
                // More behind a member's or frame's end: another one, or
                // bytes that are no content.
                if (!Again(input_ + pos_, length_ - pos_)) {
                    done_ = true;
                    return body.Broken(std::string("its ") + name_ + " content has bytes behind its end");
                }
                ended_ = false;
            }
            started_ = true;
            std::size_t used = 0, made = 0;
            Step step = Decode(input_ + pos_, length_ - pos_, used, buffer, size, made);
            pos_ += used;
            full_ = made == size;
            if (step == Step::kBroken) {
                done_ = true;
                return body.Broken(std::string("its ") + name_ + " content is corrupt");
            }
            if (step == Step::kEnd) ended_ = true, full_ = false;
            if (made > 0) return static_cast<long>(made);
        }
        return 0;
    }

protected:
    enum class Step { kMore, kEnd, kBroken };
    virtual Step Decode(const unsigned char* in, std::size_t inLength, std::size_t& used, unsigned char* out,
                        std::size_t outLength, std::size_t& made) = 0;
    // Whether the bytes behind an end begin another member or frame (the
    // decoder then takes it).
    virtual bool Again(const unsigned char* in, std::size_t length) {
        (void)in, (void)length;
        return false;
    }

private:
    const char* name_;
    unsigned char input_[64 * 1024];
    std::size_t pos_ = 0, length_ = 0;
    bool full_ = false;  // the last step filled its room: the decoder may hold more
    bool started_ = false, done_ = false;
    bool ended_ = false;  // a member or frame has ended
};

namespace {

// gzip, and deflate with its zlib wrapper or without (as some servers send it).
class ZlibDecoder final : public HttpBody::Decoder {
public:
    explicit ZlibDecoder(bool gzip) : Decoder(gzip ? "gzip" : "deflate"), gzip_(gzip) {}
    ~ZlibDecoder() override {
        if (begun_) inflateEnd(&z_);
    }

protected:
    Step Decode(const unsigned char* in, std::size_t inLength, std::size_t& used, unsigned char* out,
                std::size_t outLength, std::size_t& made) override {
        if (!begun_) {
            bool wrapped = inLength < 2 || ((in[0] & 0x0f) == 8 && ((in[0] << 8) | in[1]) % 31 == 0);
            if (inflateInit2(&z_, gzip_ ? 15 + 16 : wrapped ? 15 : -15) != Z_OK) return Step::kBroken;
            begun_ = true;
        }
        z_.next_in = const_cast<unsigned char*>(in);
        z_.avail_in = static_cast<uInt>(inLength);
        z_.next_out = out;
        z_.avail_out = static_cast<uInt>(std::min<std::size_t>(outLength, 1u << 30));
        uInt room = z_.avail_out;
        int rc = inflate(&z_, Z_NO_FLUSH);
        used = inLength - z_.avail_in;
        made = room - z_.avail_out;
        if (rc == Z_STREAM_END) return Step::kEnd;
        return rc == Z_OK || rc == Z_BUF_ERROR ? Step::kMore : Step::kBroken;
    }
    bool Again(const unsigned char* in, std::size_t length) override {
        if (!gzip_ || in[0] != 0x1f || (length > 1 && in[1] != 0x8b)) return false;
        return inflateReset(&z_) == Z_OK;
    }

private:
    bool gzip_;
    bool begun_ = false;
    z_stream z_ = {};
};

class ZstdDecoder final : public HttpBody::Decoder {
public:
    ZstdDecoder() : Decoder("zstd"), d_(ZSTD_createDStream()) {}
    ~ZstdDecoder() override { ZSTD_freeDStream(d_); }

protected:
    Step Decode(const unsigned char* in, std::size_t inLength, std::size_t& used, unsigned char* out,
                std::size_t outLength, std::size_t& made) override {
        if (!d_) return Step::kBroken;
        ZSTD_inBuffer input = {in, inLength, 0};
        ZSTD_outBuffer output = {out, outLength, 0};
        std::size_t rc = ZSTD_decompressStream(d_, &output, &input);
        used = input.pos;
        made = output.pos;
        if (ZSTD_isError(rc)) return Step::kBroken;
        return rc == 0 ? Step::kEnd : Step::kMore;
    }
    bool Again(const unsigned char*, std::size_t) override { return true; }  // a frame follows, or the decoder says

private:
    ZSTD_DStream* d_;
};

class BrotliDecoder final : public HttpBody::Decoder {
public:
    BrotliDecoder() : Decoder("br"), b_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
    ~BrotliDecoder() override { BrotliDecoderDestroyInstance(b_); }

protected:
    Step Decode(const unsigned char* in, std::size_t inLength, std::size_t& used, unsigned char* out,
                std::size_t outLength, std::size_t& made) override {
        if (!b_) return Step::kBroken;
        std::size_t inLeft = inLength, outLeft = outLength;
        const uint8_t* next = in;
        uint8_t* to = out;
        BrotliDecoderResult rc = BrotliDecoderDecompressStream(b_, &inLeft, &next, &outLeft, &to, nullptr);
        used = inLength - inLeft;
        made = outLength - outLeft;
        if (rc == BROTLI_DECODER_RESULT_ERROR) return Step::kBroken;
        return rc == BROTLI_DECODER_RESULT_SUCCESS ? Step::kEnd : Step::kMore;
    }

private:
    BrotliDecoderState* b_;
};

}  // namespace

HttpBody::HttpBody(WarcReader& block) : block_(block) {}
HttpBody::~HttpBody() = default;

bool HttpBody::Begin(bool response, std::string& problem) {
    std::size_t have = 0;
    const unsigned char* at = block_.Peek(have, 5);
    // A response of another protocol (dns:, say) is searched as it stands.
    if (!response || !at || have < 5 || std::memcmp(at, "HTTP/", 5) != 0) return true;
    std::string transfer, content;
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
        for (; line < end;) {
            const char* stop = static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
            const char* colon = static_cast<const char*>(std::memchr(line, ':', static_cast<std::size_t>(stop - line)));
            if (colon) {
                std::string name(line, colon), value = FieldValue(colon + 1, stop);
                if (strcasecmp(name.c_str(), "Transfer-Encoding") == 0) transfer += "," + value;
                if (strcasecmp(name.c_str(), "Content-Encoding") == 0) content += "," + value;
            }
            line = stop + 1;
        }
        block_.Consume(length);
        if (status < 100 || status > 199 || status == 101) break;
    }

    std::vector<std::string> transfers = Codings(transfer), contents = Codings(content);
    if (transfers.size() > 1 || (transfers.size() == 1 && transfers[0] != "chunked")) {
        problem = "not searched: transfer coding " + FieldValue(transfer.data() + 1, transfer.data() + transfer.size()) + " is not undone";
        return false;
    }
    chunked_ = !transfers.empty();
    if (contents.empty()) return true;
    if (contents.size() == 1) {
        const std::string& coding = contents[0];
        if (coding == "gzip" || coding == "x-gzip" || coding == "deflate")
            decoder_.reset(new ZlibDecoder(coding != "deflate"));
        else if (coding == "zstd")
            decoder_.reset(new ZstdDecoder);
        else if (coding == "br")
            decoder_.reset(new BrotliDecoder);
    }
    if (!decoder_) {
        problem = "not searched: content coding " + FieldValue(content.data() + 1, content.data() + content.size()) + " is not decoded";
        return false;
    }
    return true;
}

long HttpBody::Read(unsigned char* buffer, std::size_t size) {
    return decoder_ ? decoder_->Read(*this, buffer, size) : ReadPlain(buffer, size);
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
