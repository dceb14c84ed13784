#include "host/messages.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

void Diagnose(const std::string& what, int error) {
    std::fprintf(stderr, "talveron: %s: %s\n", what.c_str(), std::strerror(error));
}

void Say(const std::string& text) { std::fprintf(stderr, "talveron: %s\n", text.c_str()); }

std::string ToUtf8(const char* sjis) {
    std::string out;
    iconv_t cd = iconv_open("UTF-8", "CP932");
    std::size_t left = std::strlen(sjis);
    char* in = const_cast<char*>(sjis);
    char buffer[256];
    while (left > 0) {
        char* dst = buffer;
        std::size_t room = sizeof buffer;
        std::size_t rc = cd == reinterpret_cast<iconv_t>(-1) ? static_cast<std::size_t>(-1)
                                                              : iconv(cd, &in, &left, &dst, &room);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc == static_cast<std::size_t>(-1) && (cd == reinterpret_cast<iconv_t>(-1) || errno != E2BIG)) {
            unsigned char byte = static_cast<unsigned char>(*in);
            if (byte >= 0x20 && byte < 0x7F) {
                out += static_cast<char>(byte);
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
                out += escaped;
            }
            ++in;
            --left;
        }
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    return out;
}

void ShowModuleMessage(const char* text, const char* caption) {
    std::string line = "[" + ToUtf8(caption) + "] " + ToUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}
