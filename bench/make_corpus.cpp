// Writes the benchmark corpora, the same bytes on every run.
//
//   make_corpus real OUT SIZE < FILE-LIST   the files named on stdin (one path a
//                                           line), concatenated in that order and
//                                           again from the first until SIZE bytes
//   make_corpus dense OUT SIZE              synthetic HTML, about one tag in four
//                                           a matching anchor
//   make_corpus nomatch OUT SIZE            a '<' every 20 to 30 bytes, many near
//                                           misses, no matching anchor
//   make_corpus never OUT SIZE              one anchor whose address never closes
//   make_corpus pages DIR COUNT SIZE        COUNT small pages of SIZE bytes each,
//                                           DIR/p00000.html and on, each with a
//                                           title, text and a few anchors, some
//                                           of them matching
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// A small deterministic generator (xorshift64*), the same on every platform.
struct Random {
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    std::uint32_t Next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<std::uint32_t>((state * 0x2545F4914F6CDD1Dull) >> 32);
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }
};

class Sink {
public:
    Sink(const char* path, std::uint64_t size) : file_(std::fopen(path, "wb")), size_(size) {
        if (!file_) {
            std::perror(path);
            std::exit(1);
        }
    }
    ~Sink() {
        Flush();
        std::fclose(file_);
    }
    bool Full() const { return written_ + buffer_.size() >= size_; }
    void Put(const std::string& s) {
        buffer_ += s;
        if (buffer_.size() >= (1 << 20)) Flush();
    }

private:
    void Flush() {
        std::uint64_t room = size_ - written_;
        std::size_t n = buffer_.size() < room ? buffer_.size() : static_cast<std::size_t>(room);
        std::fwrite(buffer_.data(), 1, n, file_);
        written_ += n;
        buffer_.clear();
    }
    std::FILE* file_;
    std::uint64_t size_;
    std::uint64_t written_ = 0;
    std::string buffer_;
};

const char* const kWords[] = {"the", "harvest", "of", "links", "page", "news", "\x83\x6e\x83\x8a", "\x8a\xd6\x98\x41",
                              "index", "to", "and", "web", "2013", "site", "\x8f\xee\x95\xf1", "more", "a", "is"};

std::string Text(Random& r, std::size_t length) {
    std::string s;
    while (s.size() < length) {
        s += kWords[r.Below(sizeof kWords / sizeof *kWords)];
        s += ' ';
    }
    s.resize(length);
    return s;
}

void Real(const char* out, std::uint64_t size) {
    std::vector<std::string> paths;
    for (std::string line; std::getline(std::cin, line);)
        if (!line.empty()) paths.push_back(line);
    if (paths.empty()) {
        std::fprintf(stderr, "make_corpus: no files given\n");
        std::exit(1);
    }
    Sink sink(out, size);
    while (!sink.Full()) {
        for (const std::string& path : paths) {
            std::ifstream file(path, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            sink.Put(bytes);
            if (sink.Full()) break;
        }
    }
}

void Dense(const char* out, std::uint64_t size) {
    Random r;
    Sink sink(out, size);
    static const char* const kOthers[] = {"</a>", "<p>", "</p>", "<br>", "<li>", "<span>", "</span>", "<td>"};
    int n = 0;
    while (!sink.Full()) {
        sink.Put(Text(r, 8 + r.Below(24)));
        if (r.Below(4) == 0) {
            ++n;
            std::string host = "www.site" + std::to_string(r.Below(5000)) + ".example.com";
            switch (r.Below(4)) {
                case 0: sink.Put("<a href=\"http://" + host + "/news/" + std::to_string(n) + ".html\">"); break;
                case 1: sink.Put("<A HREF=\"http://" + host + "\">"); break;
                case 2: sink.Put("<a href=\"http://" + host + "/search?q=" + std::to_string(n) + "\">"); break;
                default: sink.Put("<a href=\"http://" + host + "/dir/\">"); break;
            }
        } else if (r.Below(3) == 0) {
            sink.Put("<div class=\"c" + std::to_string(r.Below(50)) + "\">");
        } else {
            sink.Put(kOthers[r.Below(sizeof kOthers / sizeof *kOthers)]);
        }
    }
}

void NoMatch(const char* out, std::uint64_t size) {
    Random r;
    Sink sink(out, size);
    static const char* const kTags[] = {
        "<a href=\"https://x.jp/\">", "<a href='http://x.jp/'>", "<a  href=\"http://x/\">", "<A HREF=http://x.jp>",
        "<a name=\"top\">",           "</a>",                    "<b>",                    "<abbr>",
        "<area href=\"http://x\">",   "<a href=\"ftp://x.jp\">", "<a href=\"http:/x\">",   "<a\thref=\"http://x\">",
        "<p>",                        "<a class=\"c\" href=",    "<td>",                   "<a href=\"HTTPS://x\">",
    };
    while (!sink.Full()) {
        std::string tag = kTags[r.Below(sizeof kTags / sizeof *kTags)];
        std::size_t gap = 20 + r.Below(11);
        sink.Put(tag);
        if (gap > tag.size()) sink.Put(Text(r, gap - tag.size()));
    }
}

void Never(const char* out, std::uint64_t size) {
    Random r;
    Sink sink(out, size);
    sink.Put("<html><body><p>one address that never closes: <a href=\"http://never.closes.example.com/");
    std::string block;
    while (block.size() < (1 << 20)) block += Text(r, 60) + "<p>" + Text(r, 30) + "</p>\r\n";
    while (!sink.Full()) sink.Put(block);
}

// One small page: a head, then paragraphs, list items and anchors while they
// fit, then text up to SIZE bytes less the closing tags. About one anchor in
// three matches; the others are relative, https or written another way.
std::string SmallPage(Random& r, int number, std::size_t size) {
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"Shift_JIS\"><title>" + Text(r, 12 + r.Below(20)) +
                       "</title></head>\n<body><h1>" + Text(r, 10 + r.Below(20)) + "</h1>\n";
    static const char kEnd[] = "</body></html>\n";
    const std::size_t room = size > sizeof kEnd - 1 ? size - (sizeof kEnd - 1) : 0;
    for (int k = 0;; ++k) {
        std::string host = "www.site" + std::to_string(r.Below(3000)) + ".example.jp";
        std::string piece;
        switch (r.Below(9)) {
            case 0: piece = "<a href=\"http://" + host + "/news/" + std::to_string(number) + "-" + std::to_string(k) + ".html\">"; break;
            case 1: piece = "<A HREF=\"http://" + host + "\">"; break;
            case 2: piece = "<a href=\"http://" + host + "/dir/\">"; break;
            case 3: piece = "<a href=\"https://" + host + "/\">"; break;
            case 4: piece = "<a class=\"nav\" href=\"http://" + host + "/\">"; break;
            case 5: piece = "<a href=\"p" + std::to_string(r.Below(10000)) + ".html\">"; break;
            case 6: piece = "<li>"; break;
            default: piece = "<p>"; break;
        }
        piece += Text(r, 20 + r.Below(100));
        piece += piece[1] == 'a' || piece[1] == 'A' ? "</a>\n" : "\n";
        if (page.size() + piece.size() > room) break;
        page += piece;
    }
    if (page.size() < room) page += Text(r, room - page.size());
    page.resize(room);
    return page + kEnd;
}

void Pages(const char* dir, int count, std::size_t size) {
    ::mkdir(dir, 0755);
    Random r;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/p%05d.html", i);
        std::string page = SmallPage(r, i, size);
        std::string path = std::string(dir) + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(page.data(), 1, page.size(), file) != page.size() || std::fclose(file) != 0) {
            std::perror(path.c_str());
            std::exit(1);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "pages") == 0) {
        Pages(argv[2], std::atoi(argv[3]), std::strtoull(argv[4], nullptr, 10));
        return 0;
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_corpus real|dense|nomatch|never OUT SIZE\n"
                             "       make_corpus pages DIR COUNT SIZE\n");
        return 2;
    }
    std::uint64_t size = std::strtoull(argv[3], nullptr, 10);
    std::string kind = argv[1];
    if (kind == "real") Real(argv[2], size);
    else if (kind == "dense") Dense(argv[2], size);
    else if (kind == "nomatch") NoMatch(argv[2], size);
    else if (kind == "never") Never(argv[2], size);
    else return 2;
    return 0;
}
