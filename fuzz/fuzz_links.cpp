// Pages read by the HTML standard as hostile input: any bytes, against a
// base taken from the input itself. Read in one piece and in small pieces
// of any size, a page must give the same records and the same reasons
// (the tokenizer's state carried across every piece's end); each record
// read again as a URL must give itself (the serializer's output is its
// own parse); nothing may crash, hang or read out of bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "html/link_search.h"

namespace {

class Pieces final : public ByteSource {
public:
    Pieces(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    long Read(unsigned char* buffer, std::size_t size) override {
        std::size_t n = std::min(size, size_ - at_);
        std::memcpy(buffer, data_ + at_, n);
        at_ += n;
        return static_cast<long>(n);
    }

private:
    const uint8_t* data_;
    std::size_t size_, at_ = 0;
};

class Told final : public SearchSink {
public:
    bool Records(const char* bytes, std::size_t length) override {
        records.append(bytes, length);
        return true;
    }
    void Rejected(int reason, int keyword, long long offset, const char* address, std::size_t length) override {
        reasons += std::to_string(reason) + " " + std::to_string(keyword) + " " + std::to_string(offset) + " " +
                   std::string(address, length) + "\n";
    }
    std::string records, reasons;
};

Told Read(const uint8_t* data, std::size_t size, const std::string& base, std::size_t piece) {
    Told told;
    LinkSearch search(told, "ads", true);
    search.SetBlockSize(piece);
    search.SetAddress(base);
    Pieces source(data, size);
    search.SearchFrom(source);
    return told;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The first byte: the small pieces' size; then a base up to a newline.
    std::size_t piece = 1 + data[0] % 61;
    const uint8_t* page = data + 1;
    std::size_t left = size - 1;
    const void* newline = std::memchr(page, '\n', std::min<std::size_t>(left, 200));
    std::string base = "http://example.com/dir/page.html";
    if (newline) {
        base.assign(reinterpret_cast<const char*>(page), static_cast<const uint8_t*>(newline) - page);
        left -= static_cast<const uint8_t*>(newline) + 1 - page;
        page = static_cast<const uint8_t*>(newline) + 1;
    }
    Told whole = Read(page, left, base, LinkSearch::kBlockSize);
    Told pieces = Read(page, left, base, piece);
    if (whole.records != pieces.records || whole.reasons != pieces.reasons) std::abort();
    Url url;
    for (std::size_t at = 0; at < whole.records.size();) {
        std::size_t end = whole.records.find('\n', at);
        std::string record = whole.records.substr(at, end - at);
        if (!url.Parse(record, nullptr) || url.Href() != record) std::abort();
        at = end + 1;
    }
    return 0;
}
