#include "tests/random_pages.h"

#include <dirent.h>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

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
    "<a href=\"https://", "<A HREF=\"HTTPS://", "<a href=\"https:/", "<a href='http://", "<a  href=\"http://",
    "a href=\"http://", "\"", "\"", "\">",
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

namespace {

// A page's name as the tool's walk takes it: *.htm, *.html, *.xhtml, *.xht
// and *.shtml, any case.
bool IsPageName(const std::string& name) {
    for (const char* suffix : {".htm", ".html", ".xhtml", ".xht", ".shtml"}) {
        std::size_t n = std::strlen(suffix);
        if (name.size() > n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0) return true;
    }
    return false;
}

// The pages under `folder` + `relative`, as the tool walks them: depth first,
// each directory's entries in byte order, links left out.
void WalkPages(const std::string& folder, const std::string& relative, std::vector<std::string>& names) {
    DIR* dir = opendir((folder + "/" + relative).c_str());
    if (!dir) return;
    std::vector<std::string> entries;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") entries.push_back(name);
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end());
    for (const std::string& name : entries) {
        std::string path = relative.empty() ? name : relative + "/" + name;
        struct stat st;
        if (lstat((folder + "/" + path).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) WalkPages(folder, path, names);
        if (S_ISREG(st.st_mode) && IsPageName(name)) names.push_back(path);
    }
}

}  // namespace

std::vector<std::string> RealPageNames() {
    std::vector<std::string> names;
    std::string folder = RealPagesDir();
    if (!folder.empty()) WalkPages(folder, "", names);
    return names;
}

std::string ReadRealPage(const std::string& name) {
    std::ifstream file(RealPagesDir() + "/" + name, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}
