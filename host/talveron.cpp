// talveron: the terminal host. Harvests the addresses of one HTML file into
// OUT.TXT in the current directory, as a host program of the module does, and
// prints them.
//
//   talveron [-q] INPUT [KEYWORD...]
//
// The keywords are joined with single spaces into the keyword line. Messages
// are shown on stderr in UTF-8 with their caption (-q hides them); then each
// record of OUT.TXT is printed on stdout. Exit status: 0 when the search
// returned 0, 1 when it returned -1, 2 for bad usage.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <new>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/cstring.h"
#include "module/export.h"
#include "runtime/runtime.h"

namespace {

const char kUsage[] = "usage: talveron [-q] INPUT [KEYWORD...]\n";
const char kHelp[] =
    "Harvests every <a href=\"http://...\"> address of the HTML file INPUT into\n"
    "OUT.TXT in the current directory and prints them, one per line.\n"
    "An address that contains one of the KEYWORDs (up to six, case counts) is left out.\n"
    "\n"
    "  -q       do not show the messages on stderr\n"
    "  --help   show this help\n"
    "\n"
    "Exit status: 0 after a completed search, 1 when a file could not be opened,\n"
    "2 for bad usage.\n";

// Shift_JIS text to UTF-8; a byte that does not convert is shown as \xNN.
std::string ToUtf8(const char* sjis) {
    std::string out;
    iconv_t cd = iconv_open("UTF-8", "CP932");
    std::size_t left = std::strlen(sjis);
    char* in = const_cast<char*>(sjis);
    char buffer[256];
    while (left > 0) {
        char* dst = buffer;
        std::size_t room = sizeof buffer;
        std::size_t rc = cd == reinterpret_cast<iconv_t>(-1)
                             ? static_cast<std::size_t>(-1)
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

int ShowOnStderr(void*, const char* text, const char* caption, unsigned int) {
    std::string line = "[" + ToUtf8(caption) + "] " + ToUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    return IDYES;
}

int DiscardMessage(void*, const char*, const char*, unsigned int) { return IDYES; }

// Prints the records of OUT.TXT, one per line: each CR LF becomes LF. Only a
// regular file is read: OUT.TXT may be a link to a device.
void PrintRecords() {
    int fd = ::open("OUT.TXT", O_RDONLY | O_CLOEXEC);
    if (fd == -1) return;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    static char buffer[1 << 17];
    static char lines[sizeof buffer];
    std::size_t carry = 0;  // a CR left at the end of the previous chunk
    for (;;) {
        ssize_t n = ::read(fd, buffer + carry, sizeof buffer - carry);
        if (n < 0 && errno == EINTR) continue;
        std::size_t size = carry + (n > 0 ? static_cast<std::size_t>(n) : 0);
        bool atEnd = n <= 0;
        // Drop each CR that a LF follows, 8 bytes at a step: each step copies a
        // word and moves on to its first CR (or past the word).
        char* out = lines;
        const char* in = buffer;
        const char* end = buffer + size;
#ifdef __SSE2__
        while (end - in >= 32) {
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
            unsigned int crs = static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\r'))));
            int k = crs ? __builtin_ctz(crs) : 16;  // bytes before the first CR
            int isCr = k < 16;
            int drop = isCr & (in[k + 1] == '\n');
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
            out += k + isCr - drop;
            in += k + isCr;
        }
#endif
        while (end - in >= 16) {
            std::uint64_t word;
            std::memcpy(&word, in, 8);
            std::uint64_t x = word ^ 0x0D0D0D0D0D0D0D0Dull;  // a CR becomes 0
            std::uint64_t crs = (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
            int k = crs ? __builtin_ctzll(crs) >> 3 : 8;  // bytes before the first CR
            int isCr = k < 8;
            int drop = isCr & (in[k + 1] == '\n');
            std::memcpy(out, &word, 8);
            out += k + isCr - drop;
            in += k + isCr;
        }
        while (in < end) {
            if (*in != '\r') {
                *out++ = *in++;
                continue;
            }
            if (in + 1 == end && !atEnd) break;  // the LF may come with the next chunk
            if (in + 1 == end || in[1] != '\n') *out++ = '\r';
            ++in;
        }
        std::fwrite(lines, 1, static_cast<std::size_t>(out - lines), stdout);
        carry = static_cast<std::size_t>(end - in);
        if (carry) buffer[0] = '\r';
        if (atEnd) break;
    }
    ::close(fd);
}

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool quiet = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "-q") != 0) return Usage();
        quiet = true;
    }
    if (i >= argc) return Usage();
    const char* input = argv[i++];
    std::string keywordLine;
    for (int k = i; k < argc; ++k) {
        if (k > i) keywordLine += ' ';
        keywordLine += argv[k];
    }

    rt::SetMessageHandler(quiet ? DiscardMessage : ShowOnStderr);
    int result;
    try {
        // Each argument is handed over as one reference that the search releases.
        result = BEGIN_SEARCH_ADD(CString(input).Detach(),
                                  CString(keywordLine.data(), static_cast<int>(keywordLine.size())).Detach(),
                                  0, 0);
    } catch (const std::bad_alloc&) {
        std::fputs("talveron: out of memory\n", stderr);
        return 1;
    }
    // After a failed search OUT.TXT holds nothing of this search.
    if (result == 0) PrintRecords();
    std::fflush(stdout);
    return result == 0 ? 0 : 1;
}
