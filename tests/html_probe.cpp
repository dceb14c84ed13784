// The side of tests/html_oracle.py and tests/html_links_oracle.py that is
// this code.
//
//   html_probe            attribute values, each ended by a 0 byte, back
//                         decoded as an href is decoded, each ended by a 0 byte
//   html_probe links N [KEYWORDS]
//                         pages, each "ADDRESS\nLENGTH\n" and its bytes, read
//                         N bytes at a time, with the keyword line KEYWORDS:
//                         each page's records, then "\x01\n"
//   html_probe fields N OPTIONS [KEYWORDS]
//                         as links, OPTIONS a list of json, all (every kind
//                         of link), unique, nofragment, sink (fields to a
//                         sink that takes them: each page's as JSON lines,
//                         then "\x02\n", then its records), stop=K (that
//                         sink stops the search at its Kth record); a page's
//                         address line may be followed by "Location: V"
//                         and "Refresh: V" lines, its headers
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "html/character_references.h"
#include "html/link_search.h"
#include "include/talveron.h"
#include "search/json_text.h"

namespace {

class Collect final : public SearchSink {
public:
    bool Records(const char* bytes, std::size_t length) override {
        out.append(bytes, length);
        return true;
    }
    std::string out;
};

// Takes each record's fields and writes them as JSON lines of its own.
class Fields final : public SearchSink {
public:
    bool Records(const char* bytes, std::size_t length) override {
        records.append(bytes, length);
        return true;
    }
    bool WantsLinks() const override { return true; }
    bool Link(const LinkFields& link) override {
        AppendJsonLink(links, link);
        links += '\n';
        return ++count != stopAt;
    }
    std::string records, links;
    long count = 0, stopAt = -1;
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
    bool fields = argc >= 4 && std::strcmp(argv[1], "fields") == 0;
    if (((argc == 3 || argc == 4) && std::strcmp(argv[1], "links") == 0) || (fields && argc <= 5)) {
        std::string options = fields ? argv[3] : "";
        auto has = [&](const char* option) { return ("," + options + ",").find("," + std::string(option) + ",") != std::string::npos; };
        Collect collect;
        Fields sink;
        std::size_t stop = options.find("stop=");
        if (stop != std::string::npos) sink.stopAt = std::strtol(options.c_str() + stop + 5, nullptr, 10);
        bool toSink = has("sink") || stop != std::string::npos;
        SearchSink& chosen = toSink ? static_cast<SearchSink&>(sink) : collect;
        const char* keywords = argc == (fields ? 5 : 4) ? argv[argc - 1] : "";
        LinkSearch search(chosen, keywords, true);
        search.SetBlockSize(std::strtoul(argv[2], nullptr, 10));
        search.SetJson(has("json"));
        search.SetLinks(has("all") ? TALVERON_LINKS_ALL : 0);
        search.SetUnique(has("unique"));
        search.SetNoFragment(has("nofragment"));
        for (std::size_t at = 0; at < in.size();) {
            std::size_t line = in.find('\n', at);
            std::string address = in.substr(at, line - at);
            search.SetAddress(address);
            // Its headers, then its length.
            for (;;) {
                std::size_t next = in.find('\n', line + 1);
                std::string header = in.substr(line + 1, next - line - 1);
                if (header.rfind("Location: ", 0) == 0) {
                    search.HeaderLink(LinkSearch::Header::kLocation, header.substr(10));
                } else if (header.rfind("Refresh: ", 0) == 0) {
                    search.HeaderLink(LinkSearch::Header::kRefresh, header.substr(9));
                } else {
                    break;
                }
                line = next;
            }
            std::size_t lengthEnd = in.find('\n', line + 1);
            std::size_t length = std::strtoul(in.c_str() + line + 1, nullptr, 10);
            Bytes page(std::string_view(in).substr(lengthEnd + 1, length));
            search.SearchFrom(page);
            if (toSink) {
                out += sink.links + "\x02\n" + sink.records;
                sink.links.clear();
                sink.records.clear();
                sink.count = 0;
            } else {
                out += collect.out;
                collect.out.clear();
            }
            out += "\x01\n";
            at = lengthEnd + 1 + length;
        }
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
