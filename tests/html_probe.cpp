// Reads attribute values from standard input, each ended by a 0 byte, and
// writes each decoded as the standards mode decodes an href, each ended by a
// 0 byte: the side of tests/html_oracle.py that is this code.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include "html/character_references.h"

int main() {
    std::string in((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    std::string out;
    for (std::size_t at = 0; at < in.size();) {
        std::size_t end = in.find('\0', at);
        if (end == std::string::npos) end = in.size();
        AppendAttributeValue(std::string_view(in).substr(at, end - at), out);
        out += '\0';
        at = end + 1;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
