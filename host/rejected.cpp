#include "host/rejected.h"

#include <unistd.h>

#include <cerrno>

#include "host/messages.h"
#include "module/talveron.h"

RejectedFile::~RejectedFile() { Close(false); }

bool RejectedFile::Open(const std::string& path) {
    path_ = path;
    destination_.Take(path.c_str());
    int fd = replaced_.Open(path);
    file_ = fd == -1 ? nullptr : ::fdopen(::dup(fd), "wb");
    if (!file_) Diagnose(path, errno);
    return file_ != nullptr;
}

void RejectedFile::PutEscaped(const char* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte > 0x20 && byte < 0x7F && byte != '\\')
            std::fputc(byte, file_);
        else
            std::fprintf(file_, "\\x%02X", byte);
    }
}

void RejectedFile::Add(const std::string& input, int reason, int keyword, long long offset, const char* address,
                       std::size_t length, const std::vector<std::string>& keywords) {
    if (!file_) return;
    std::fprintf(file_, "%s:%lld: ", input.c_str(), offset);
    if (reason == TALVERON_EXCLUDED) {
        std::fprintf(file_, "excluded by keyword %d (", keyword);
        if (keyword >= 1 && static_cast<std::size_t>(keyword) <= keywords.size())
            PutEscaped(keywords[keyword - 1].data(), keywords[keyword - 1].size());
        std::fputs("): ", file_);
    } else if (reason == TALVERON_TOO_LONG) {
        std::fputs("longer than 499 bytes: ", file_);
    } else {
        std::fputs("unfinished at end of input: ", file_);
    }
    PutEscaped(address, length);
    std::fputc('\n', file_);
}

bool RejectedFile::Close(bool commit) {
    if (!file_) return true;
    bool ok = !std::ferror(file_);
    int error = errno;
    if (std::fclose(file_) != 0 && ok) {
        ok = false;
        error = errno;
    }
    file_ = nullptr;
    if (ok && commit) {
        if (!replaced_.Commit()) {
            ok = false;
            error = errno;
        }
    } else {
        replaced_.Discard();
    }
    if (!ok) Diagnose(path_, error ? error : EIO);
    return ok;
}
