// Bytes compressed by the formats' own libraries, and a source in memory
// that hands them over a piece at a time, for the tests of the decoders.
#ifndef TALVERON_TESTS_ENCODED_H
#define TALVERON_TESTS_ENCODED_H

#include <brotli/encode.h>
#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "read/byte_source.h"
#include "tests/deflated.h"

inline std::string Zstd(const std::string& s, int checksum = 0) {
    std::string out(ZSTD_compressBound(s.size()), '\0');
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, checksum);
    out.resize(ZSTD_compress2(c, &out[0], out.size(), s.data(), s.size()));
    return ZSTD_freeCCtx(c), out;
}
inline std::string Bzip2(const std::string& s) {
    std::string out(s.size() * 2 + 1000, '\0');
    unsigned n = static_cast<unsigned>(out.size());
    BZ2_bzBuffToBuffCompress(&out[0], &n, const_cast<char*>(s.data()), static_cast<unsigned>(s.size()), 9, 0, 0);
    return out.substr(0, n);
}
inline std::string Xz(const std::string& s) {
    std::string out(lzma_stream_buffer_bound(s.size()), '\0');
    std::size_t n = 0;
    lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const uint8_t*>(s.data()), s.size(),
                            reinterpret_cast<uint8_t*>(&out[0]), &n, out.size());
    return out.substr(0, n);
}
inline std::string Brotli(const std::string& s) {
    std::size_t n = BrotliEncoderMaxCompressedSize(s.size());
    std::string out(n, '\0');
    BrotliEncoderCompress(5, 22, BROTLI_MODE_TEXT, s.size(), reinterpret_cast<const uint8_t*>(s.data()), &n,
                          reinterpret_cast<uint8_t*>(&out[0]));
    return out.substr(0, n);
}
// deflate in its zlib wrapper.
inline std::string ZlibWrapped(const std::string& s) {
    std::string out(compressBound(s.size()), '\0');
    uLongf n = out.size();
    compress(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(s.data()), s.size());
    return out.substr(0, n);
}

class MemorySource final : public ByteSource {
public:
    MemorySource(std::string bytes, std::size_t piece) : bytes_(std::move(bytes)), piece_(piece) {}
    long Read(unsigned char* buffer, std::size_t size) override {
        std::size_t n = std::min({size, piece_, bytes_.size() - at_});
        std::memcpy(buffer, bytes_.data() + (at_ += n) - n, n);
        return static_cast<long>(n);
    }

private:
    std::string bytes_;
    std::size_t piece_, at_ = 0;
};

inline std::string LinkPage(int lines) {
    std::string page;
    for (int i = 0; i < lines; ++i) page += "<a href=\"http://h" + std::to_string(i * 7 % 1000) + ".jp/\">" + std::to_string(i * i) + "</a>\n";
    return page;
}

#endif
