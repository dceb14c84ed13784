// Bytes compressed by zlib as servers and crawlers compress them, for the
// tests of what talveron decompresses.
#ifndef TALVERON_TESTS_DEFLATED_H
#define TALVERON_TESTS_DEFLATED_H

#include <zlib.h>

#include <string>

// `bytes` as one gzip member (or, with `gzip` false, a raw deflate stream)
// at compression `level` (0: stored blocks).
inline std::string Deflated(const std::string& bytes, bool gzip = true, int level = 9) {
    z_stream z = {};
    deflateInit2(&z, level, Z_DEFLATED, gzip ? 31 : -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, bytes.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

#endif
