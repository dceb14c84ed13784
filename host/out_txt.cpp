#include "out_txt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "messages.h"
#include "output.h"
#include "texts.h"
#include "talveron_legacy.h"

namespace {

// What the module's messages tell, for the exit status and the diagnostics.
bool s_showMessages = false;
bool s_recordFailed = false;
int s_recordFailures = 0;
std::string s_input;

// The module's messages, by their Shift_JIS bytes.
const char kOutputNotOpened[] = MSG_OUTPUT_NOT_OPENED;
const char kInputMissing[] = MSG_INPUT_MISSING;
const char kFileError[] = MSG_FILE_ERROR;

void OnMessage(const char* text, const char* caption) {
    if (std::strcmp(text, MSG_ERRNO) == 0) {
        s_recordFailed = true;
        ++s_recordFailures;
    }
    if (s_showMessages) {
        ShowModuleMessage(text, caption);
        return;
    }
    // Without --messages, the failures in English.
    if (std::strcmp(text, kOutputNotOpened) == 0) {
        struct stat st;
        bool sameAsInput = false;
        struct stat in;
        if (::stat("OUT.TXT", &st) == 0 && ::stat(s_input.c_str(), &in) == 0)
            sameAsInput = st.st_dev == in.st_dev && st.st_ino == in.st_ino;
        Say(sameAsInput ? "OUT.TXT: is the input file; not written" : "OUT.TXT: cannot be opened for writing");
    } else if (std::strcmp(text, kInputMissing) == 0) {
        // The module does not say why: the OS does.
        int fd = ::open(s_input.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        int error = fd == -1 ? errno : (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) ? EISDIR : ENOENT);
        if (fd != -1) ::close(fd);
        Diagnose(s_input, error);
    } else if (std::strcmp(text, kFileError) == 0) {
        Say(s_input + ": read error");
    }
}

// Prints the records of OUT.TXT, one per line ended by LF. Only a regular
// file is read: OUT.TXT may be a link to a device.
bool PrintRecords() {
    int fd = ::open("OUT.TXT", O_RDONLY | O_CLOEXEC);
    if (fd == -1) return true;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return true;
    }
    static Output output;
    static Destination where;
    output.Open("", false, where);
    static char buffer[1 << 17];
    static char lines[sizeof buffer];
    std::size_t carry = 0;  // a piece of a record left from the previous read
    for (;;) {
        ssize_t n = ::read(fd, buffer + carry, sizeof buffer - carry);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::size_t size = carry + static_cast<std::size_t>(n);
        // Whole records only; the rest waits for the next read.
        std::size_t whole = size;
        while (whole > 0 && buffer[whole - 1] != '\n') --whole;
        // Each CR LF becomes LF (a record holds no CR of its own).
        std::size_t kept = 0;
        for (std::size_t i = 0; i < whole; ++i)
            if (buffer[i] != '\r') lines[kept++] = buffer[i];
        output.Records(lines, kept, "");
        carry = size - whole;
        std::memmove(buffer, buffer + whole, carry);
        if (carry == sizeof buffer) carry = 0;  // no record is this long
    }
    ::close(fd);
    return output.Finish(true);
}

}  // namespace

int RunOutTxt(const Options& options) {
    s_showMessages = options.messages;
    s_input = options.inputs[0] == "-" ? "/dev/stdin" : options.inputs[0];
    talveron_set_message_handler(OnMessage);
    // Each argument is handed over as one reference that the call releases.
    char* path = talveron_legacy_string(s_input.c_str());
    char* keywords = talveron_legacy_string(options.keywordLine.c_str());
    if (!path || !keywords) {
        talveron_legacy_string_free(path);
        talveron_legacy_string_free(keywords);
        Say("out of memory");
        return 1;
    }
    int result = BEGIN_SEARCH_ADD(path, keywords, 0, 0);
    talveron_set_message_handler(nullptr);
    if (s_recordFailed && !s_showMessages)
        Say("OUT.TXT: " + std::to_string(s_recordFailures) + " record(s) could not be written");
    // After a failed search OUT.TXT holds nothing of this search.
    bool printed = result == 0 ? PrintRecords() : true;
    return result == 0 && !s_recordFailed && printed ? 0 : 1;
}
