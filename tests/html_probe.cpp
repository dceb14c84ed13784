// The side of tests/html_oracle.py and tests/html_links_oracle.py that is
// this code.
//
//   html_probe            attribute values, each ended by a 0 byte, back
//                         decoded as an href is decoded, each ended by a 0 byte
//   html_probe links N [KEYWORDS]
//                         pages, each "ADDRESS\nLENGTH\n" and its bytes, read
//                         N bytes at a time, with the keyword line KEYWORDS:
//                         each page's records, then "\x01\n"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "html/character_references.h"
#include "html/link_search.h"

namespace {

class Collect final : public SearchSink {
public:
    bool Records(const char* bytes, std::size_t length) override {
        out.append(bytes, length);
        return true;
    }
    std::string out;
};

class Bytes final : public ByteSource {
public:
    explicit Bytes(std::string_view bytes) : bytes_(bytes) {}
    long Read(unsigned char* buffer, std::size_t size) override {
        std::size_t n = std::min(size, bytes_.size());
        std::memcpy(buffer, bytes_.data(), n);
        bytes_.remove_prefix(n);
        return static_cast<long>(n);
    }

private:
    std::string_view bytes_;
};

}  // namespace

int main(int argc, char** argv) {
    std::string in((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    std::string out;
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "links") == 0) {
        Collect sink;
        LinkSearch search(sink, argc == 4 ? argv[3] : "", true);
        search.SetBlockSize(std::strtoul(argv[2], nullptr, 10));
        for (std::size_t at = 0; at < in.size();) {
            std::size_t line = in.find('\n', at);
            std::string address = in.substr(at, line - at);
            std::size_t lengthEnd = in.find('\n', line + 1);
            std::size_t length = std::strtoul(in.c_str() + line + 1, nullptr, 10);
            Bytes page(std::string_view(in).substr(lengthEnd + 1, length));
            search.SetAddress(address);
            search.SearchFrom(page);
            sink.out += "\x01\n";
            at = lengthEnd + 1 + length;
        }
        out = sink.out;
    } else {
        for (std::size_t at = 0; at < in.size();) {
            std::size_t end = in.find('\0', at);
            if (end == std::string::npos) end = in.size();
            AppendAttributeValue(std::string_view(in).substr(at, end - at), out);
            out += '\0';
            at = end + 1;
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
