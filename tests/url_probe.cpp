// Reads records "value \0 base \0" from standard input (an empty base: none)
// and writes for each the href that url/url.cpp makes of the value against
// the base, or "FAILURE", each ended by a 0 byte: the side of
// tests/url_oracle.js that is this code. First it checks what the oracle
// cannot see: that parsing into a used object allocates nothing, and that a
// base or an input may be the object itself; it exits 1 if not.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <new>
#include <string>
#include <string_view>

#include "url/url.h"

static std::size_t g_allocations = 0;

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

static bool Check(bool ok, const char* what) {
    if (!ok) std::fprintf(stderr, "url_probe: %s\n", what);
    return ok;
}

static bool SelfCheck() {
    const char* const links[] = {"/wiki/Page_123?x=1#s", "other.html", "https://Example.COM/a/./b/../c",
                                 "../a/b?x#y", "//cdn.example/x", "HTTP://u:p@Host.Example:8080/p?q#f",
                                 "http://0x7f.1/", "http://[::1]/", "?q", "#f"};
    Url base, url;
    bool ok = base.Parse("https://www.example.org/dir/page.html", nullptr);
    std::size_t allocations = 0;
    for (int round = 0; round < 2; ++round) {
        allocations = g_allocations;
        for (const char* link : links) ok = url.Parse(link, &base) && ok;
    }
    ok = Check(ok, "an ordinary link failed") &&
         Check(g_allocations == allocations, "parsing ordinary links into a used object allocated");
    ok = url.Parse("https://a.example/dir/page.html", nullptr) && url.Parse("page2.html", &url) &&
         Check(url.Href() == "https://a.example/dir/page2.html", "a base that is the object itself") && ok;
    ok = url.Parse(url.Href(), nullptr) &&
         Check(url.Href() == "https://a.example/dir/page2.html", "an input that is the object's own href") && ok;
    return ok;
}

int main() {
    const std::string in((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    if (!SelfCheck()) return 1;
    const std::string_view all(in);
    std::string out;
    // One object for every value and one for every base, as a caller would
    // keep them: parsing again must not carry anything over.
    Url url, base;
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t value_end = all.find('\0', at);
        if (value_end == std::string_view::npos) break;
        const std::size_t base_end = all.find('\0', value_end + 1);
        if (base_end == std::string_view::npos) break;
        const std::string_view value = all.substr(at, value_end - at);
        const std::string_view base_text = all.substr(value_end + 1, base_end - value_end - 1);
        at = base_end + 1;
        bool ok;
        if (base_text.empty()) {
            ok = url.Parse(value, nullptr);
        } else {
            ok = base.Parse(base_text, nullptr) && url.Parse(value, &base);
        }
        out += ok ? url.Href() : std::string("FAILURE");
        out += '\0';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
