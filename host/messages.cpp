#include "messages.h"

#include <iconv.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "talveron.h"

namespace {

// Diagnostics come from the search, the writing thread and the opening
// thread: one line at a time.
std::mutex s_mutex;
std::atomic<bool> s_statusShown{false};
bool s_hideInputDiagnostics = false;

const char kErase[] = "\r\033[K";

void (*s_beforeSaying)(void*) = nullptr;
void* s_beforeSayingContext = nullptr;

// Takes no memory of its own: it also says that memory ran out.
void WriteLine(const char* const* parts, std::size_t count) {
    if (s_beforeSaying) s_beforeSaying(s_beforeSayingContext);
    std::lock_guard<std::mutex> lock(s_mutex);
    if (s_statusShown.exchange(false)) std::fputs(kErase, stderr);
    for (std::size_t i = 0; i < count; ++i) std::fputs(parts[i], stderr);
    std::fflush(stderr);
}

void WriteLine(const std::string& line) {
    const char* parts[] = {line.c_str()};
    WriteLine(parts, 1);
}

// The length of the valid UTF-8 sequence at `s` (at most `left` bytes), or 0.
std::size_t Utf8Length(const unsigned char* s, std::size_t left) {
    unsigned char c = s[0];
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || n > left) return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((s[i] & 0xC0) != 0x80) return 0;
    // Overlong forms, surrogates and code points past U+10FFFF.
    if (n == 2 && c < 0xC2) return 0;
    if (n == 3 && ((c == 0xE0 && s[1] < 0xA0) || (c == 0xED && s[1] >= 0xA0))) return 0;
    if (n == 4 && ((c == 0xF0 && s[1] < 0x90) || c > 0xF4 || (c == 0xF4 && s[1] >= 0x90))) return 0;
    return n;
}

}  // namespace

std::string ShownName(const std::string& name) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(name.data());
    std::size_t size = name.size();
    // Most names are printable ASCII through and through.
    std::size_t ascii = 0;
    while (ascii < size && bytes[ascii] >= 0x20 && bytes[ascii] < 0x7F) ++ascii;
    if (ascii == size) return name;
    bool plain = true;
    for (std::size_t i = 0; i < size && plain;) {
        std::size_t n = Utf8Length(bytes + i, size - i);
        plain = n > 0 && !(n == 1 && (bytes[i] < 0x20 || bytes[i] == 0x7F));
        i += n ? n : 1;
    }
    if (plain) return name;
    // Printable runs in '...', the others as $'\n' or $'\377' between them.
    std::string out;
    bool inDollar = false, quoted = false;  // within $'..', within '..'

    for (std::size_t i = 0; i < size;) {
        std::size_t n = Utf8Length(bytes + i, size - i);
        bool special = n == 0 || (n == 1 && (bytes[i] < 0x20 || bytes[i] == 0x7F));
        if (special) {
            if (!inDollar) out += quoted ? "'$'" : "$'";
            inDollar = true;
            quoted = false;
            unsigned char c = bytes[i];
            if (c >= 7 && c <= 13) {
                out += '\\';
                out += "abtnvfr"[c - 7];
            } else {
                char octal[8];
                std::snprintf(octal, sizeof octal, "\\%03o", c);
                out += octal;
            }
            ++i;
            continue;
        }
        if (inDollar || !quoted) out += inDollar ? "''" : "'";
        inDollar = false;
        quoted = true;
        if (bytes[i] == '\'') {
            out += "'\\''";
        } else {
            out.append(name, i, n);
        }
        i += n;
    }
    return out + "'";  // ends $'..' or '..'
}

void Diagnose(const std::string& what, int error) {
    WriteLine("talveron: " + what + ": " + std::strerror(error) + "\n");
}

void SetBeforeSaying(void (*before)(void*), void* context) {
    s_beforeSaying = before;
    s_beforeSayingContext = context;
}

void Say(const std::string& text) { WriteLine("talveron: " + text + "\n"); }

void SayWithoutMemory(const char* text) {
    const char* parts[] = {"talveron: ", text, "\n"};
    WriteLine(parts, 3);
}

void SayUsageError(const std::string& error) {
    WriteLine("talveron: " + error + "\nTry 'talveron --help' for more information.\n");
}

void HideInputDiagnostics(bool hide) { s_hideInputDiagnostics = hide; }

void DiagnoseInput(const std::string& name, int error) {
    if (!s_hideInputDiagnostics) Diagnose(ShownName(name), error);
}

std::string JsonName(const std::string& name) {
    // Written as the library writes the records' strings (the quotes and
    // six bytes for each byte at most).
    std::string text(name.size() * 6 + 3, '\0');
    long long length = talveron_json_string(name.data(), name.size(), &text[0], text.size());
    if (length < 0) throw std::bad_alloc();
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void AppendEscaped(std::string& out, const char* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte > 0x20 && byte < 0x7F && byte != '\\') {
            out += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
}

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
    WriteLine("[" + ToUtf8(caption) + "] " + ToUtf8(text) + "\n");
}

void ShowStatus(const std::string& line) {
    std::lock_guard<std::mutex> lock(s_mutex);
    std::string text = "\r" + line + "\033[K";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    s_statusShown = true;
}

void EraseStatus() {
    std::lock_guard<std::mutex> lock(s_mutex);
    if (s_statusShown.exchange(false)) {
        std::fputs(kErase, stderr);
        std::fflush(stderr);
    }
}

void EraseStatusOnSignal() {
    if (s_statusShown.exchange(false)) {
        ssize_t ignored = ::write(2, kErase, sizeof kErase - 1);
        (void)ignored;
    }
}
