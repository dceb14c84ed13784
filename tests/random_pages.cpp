#include "tests/random_pages.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

// Parts and variants of the anchor, endings, and bytes that readers and
// filters get wrong.
const char* const kFragments[] = {
    "<", "<<", "<<<", "<a href=\"http://", "<A HREF=\"HTTP://", "<a hReF=\"HttP://", "<a href=\"http:/",
    "<a href=\"https://", "<a href='http://", "<a  href=\"http://", "a href=\"http://", "\"", "\"", "\">",
    ".html", ".HTM", ".shtml", "/", "?x=1", "abc", "ABC", "jp/", "x", " ", "\r\n", "\t", "\x1a", "\x7f",
    "\x83\x41", "\x95\x5c", "\x81\x40", "example.com", "<p>", "<a href=\"http://a.jp\">",
};

}  // namespace

std::string RandomPage(std::mt19937& rng, int pieces) {
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kFragments) + 1);
    std::string page;
    for (int i = 0; i < pieces; ++i) {
        std::size_t k = pick(rng);
        if (k == std::size(kFragments))
            page += '\0';
        else if (k == std::size(kFragments) + 1)
            page += static_cast<char>(rng() & 0xff);
        else
            page += kFragments[k];
    }
    return page;
}

std::string RandomKeywords(std::mt19937& rng) {
    static const char* const kWords[] = {"", "abc", "ABC", "jp/", "x", "\x95\x5c", "a\tb", "html", "/"};
    std::string line;
    int words = static_cast<int>(rng() % 8);
    for (int i = 0; i < words; ++i) {
        if (i) line += ' ';
        line += kWords[rng() % std::size(kWords)];
    }
    return line;
}

std::string ManyAnchors(int count) {
    std::string page;
    for (int i = 0; i < count; ++i)
        page += "\x83\x41<a href=\"http://s" + std::to_string(i) + ".jp\">x</a> <A HREF=\"HTTP://t" +
                std::to_string(i) + ".jp/a.html\">";
    return page;
}

const char kRealPagesHint[] = "set TALVERON_PAGES_DIR to a folder of saved .html pages to run this test";

std::string RealPagesDir() {
    const char* dir = std::getenv("TALVERON_PAGES_DIR");
    return dir ? dir : "";
}

std::vector<std::string> RealPageNames() {
    std::vector<std::string> names;
    std::string folder = RealPagesDir();
    if (DIR* dir = folder.empty() ? nullptr : opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0) names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadRealPage(const std::string& name) {
    std::ifstream file(RealPagesDir() + "/" + name, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}
