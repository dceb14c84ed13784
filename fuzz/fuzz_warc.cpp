// Web archives as hostile input: any bytes read as an archive, record by
// record, every body decoded. The same archive handed over in big reads and
// in small ones must read alike (records, bodies, complaints), and nothing
// may crash, hang or read out of bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "read/byte_source.h"
#include "read/http_body.h"
#include "read/warc.h"

namespace {

class Pieces final : public ByteSource {
public:
    Pieces(const uint8_t* data, std::size_t size, std::size_t piece) : data_(data), size_(size), piece_(piece) {}
    long Read(unsigned char* buffer, std::size_t size) override {
        std::size_t n = std::min({size, piece_, size_ - at_});
        std::memcpy(buffer, data_ + at_, n);
        at_ += n;
        return static_cast<long>(n);
    }

private:
    const uint8_t* data_;
    std::size_t size_, piece_, at_ = 0;
};

// What an archive reads as: each record's kind, name and body, and each
// complaint. Bodies stop at 4 MiB (a small input may unpack to much more).
std::string ReadArchive(const uint8_t* data, std::size_t size, std::size_t piece) {
    Pieces source(data, size, piece);
    WarcReader reader(source);
    std::string out;
    for (;;) {
        WarcRecord record;
        std::string problem;
        WarcReader::Next next = reader.NextRecord(record, problem);
        if (next == WarcReader::Next::kEnd || next == WarcReader::Next::kFailed) break;
        if (next == WarcReader::Next::kMalformed) {
            out += "malformed at " + std::to_string(record.offset) + ": " + problem + "\n";
            continue;
        }
        out += "record " + record.type + " " + record.target + "\n";
        if (record.type != "response" && record.type != "resource") continue;
        HttpBody body(reader);
        if (!body.Begin(record.type == "response", problem)) {
            out += problem + "\n";
            continue;
        }
        unsigned char buffer[4096];
        std::size_t total = 0;
        long n;
        while (total < (4u << 20) && (n = body.Read(buffer, 1 + total % sizeof buffer)) > 0) {
            out.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
            total += static_cast<std::size_t>(n);
        }
        if (total < (4u << 20) && n < 0) out += "broken: " + body.Problem() + "\n";
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string whole = ReadArchive(data, size, SIZE_MAX);
    std::string pieces = ReadArchive(data, size, 1 + (size ? data[size / 2] % 13 : 0));
    if (whole != pieces) __builtin_trap();
    return 0;
}
