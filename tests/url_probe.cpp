// Reads records "value \0 base \0" from standard input (an empty base: none)
// and writes for each the href that url/url.cpp makes of the value against
// the base, or "FAILURE", each ended by a 0 byte: the side of
// tests/url_oracle.js that is this code.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

#include "url/url.h"

int main() {
    const std::string in((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
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
