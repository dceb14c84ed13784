#include "host/replaced_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

// The temporary files of the run, removed if a signal ends it.
constexpr int kSlots = 4;
char s_temporaries[kSlots][4096];

void RemoveTemporariesAndDie(int signal) {
    for (char* name : s_temporaries)
        if (name[0]) ::unlink(name);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

int ReplacedFile::Open(const std::string& path) {
    path_ = path;
    struct stat st;
    bool exists = ::lstat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        // Written through: never truncated or replaced behind a link.
        struct stat target;
        bool regular = ::stat(path.c_str(), &target) == 0 && S_ISREG(target.st_mode);
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | (regular ? O_APPEND : 0));
        return fd_;
    }
    for (slot_ = 0; slot_ < kSlots && s_temporaries[slot_][0]; ++slot_) {
    }
    std::size_t slash = path.rfind('/');
    temporary_ = path.substr(0, slash == std::string::npos ? 0 : slash + 1) + "." +
                 path.substr(slash == std::string::npos ? 0 : slash + 1) + ".talveron-XXXXXX";
    if (slot_ == kSlots || temporary_.size() >= sizeof s_temporaries[0]) {
        temporary_.clear();
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(s_temporaries[slot_], temporary_.c_str());
    fd_ = ::mkstemp(s_temporaries[slot_]);
    if (fd_ == -1) {
        s_temporaries[slot_][0] = '\0';
        temporary_.clear();
        return -1;
    }
    temporary_ = s_temporaries[slot_];
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, RemoveTemporariesAndDie);
    // The mode of the file it replaces, or that of a new file.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, exists ? st.st_mode & 07777 : 0666 & ~mask);
    return fd_;
}

bool ReplacedFile::Commit() {
    bool ok = fd_ == -1 || ::close(fd_) == 0;
    int error = errno;
    fd_ = -1;
    if (!temporary_.empty()) {
        if (ok && ::rename(temporary_.c_str(), path_.c_str()) != 0) {
            ok = false;
            error = errno;
        }
        if (!ok) ::unlink(temporary_.c_str());
        s_temporaries[slot_][0] = '\0';
        temporary_.clear();
    }
    errno = error;
    return ok;
}

void ReplacedFile::Discard() {
    if (fd_ != -1) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        s_temporaries[slot_][0] = '\0';
        temporary_.clear();
    }
}
