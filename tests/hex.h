// Bytes as lower-case hex and back, for the reports that the Windows programs
// of the tests and their Linux driver exchange ("-" stands for no bytes).
#ifndef TALVERON_TESTS_HEX_H
#define TALVERON_TESTS_HEX_H

#include <cstdlib>
#include <string>

inline std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out.empty() ? "-" : out;
}

inline std::string Unhex(const std::string& hex) {
    std::string out;
    if (hex == "-") return out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

#endif
