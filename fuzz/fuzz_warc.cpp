// Web archives as hostile input: any bytes read as an archive, record by
// record, every body decoded. The same archive handed over in big reads and
// in small ones must read alike (records, bodies, complaints), and nothing
// may crash, hang or read out of bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "read/archive.h"

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

// What an archive reads as: each record's name and page, and each
// complaint. Pages stop at 4 MiB (a small input may unpack to much more).
std::string ReadArchive(const uint8_t* data, std::size_t size, std::size_t piece) {
    Pieces source(data, size, piece);
    ArchiveReader reader(source, false);
    std::string out;
    for (;;) {
        std::string problem;
        ArchiveReader::Next next = reader.NextRecord(problem);
        if (next == ArchiveReader::Next::kEnd || next == ArchiveReader::Next::kFailed) break;
        if (next == ArchiveReader::Next::kMalformed) {
            out += problem + "\n";
            continue;
        }
        if (next == ArchiveReader::Next::kPassedOver) {
            out += "passed over " + reader.Type() + "\n";
            continue;
        }
        out += "record " + reader.Name() + "\n";
        if (next == ArchiveReader::Next::kNotSearched) {
            out += problem + "\n";
            continue;
        }
        unsigned char buffer[4096];
        std::size_t total = 0;
        long n;
        while (total < (4u << 20) && (n = reader.Body().Read(buffer, 1 + total % sizeof buffer)) > 0) {
            out.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
            total += static_cast<std::size_t>(n);
        }
        if (total < (4u << 20) && n < 0) out += "broken: " + reader.BodyProblem() + "\n";
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
