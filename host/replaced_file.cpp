#include "replaced_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "signals.h"

int AliasedDescriptor(const std::string& path) {
    if (path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        std::size_t n = std::strlen(prefix);
        if (path.compare(0, n, prefix) != 0 || path.size() == n || path.size() > n + 4) continue;
        int fd = 0;
        for (std::size_t i = n; i < path.size(); ++i) {
            if (path[i] < '0' || path[i] > '9') return -1;
            fd = fd * 10 + (path[i] - '0');
        }
        return fd;
    }
    return -1;
}

FileIdentity FileIdentity::OfDescriptor(int fd) {
    FileIdentity id;
    struct stat st;
    id.descriptor = fd;
    if (::fstat(fd, &st) == 0) {
        id.exists = true;
        id.regular = S_ISREG(st.st_mode);
        id.dev = st.st_dev;
        id.ino = st.st_ino;
    }
    return id;
}

namespace {

// Where a chain of links to nothing leads: the name that a file made
// through `path` would have (`path` itself when it is no link).
std::string LinkEnd(const std::string& path) {
    std::string at = path;
    char target[4096];
    for (int hops = 0; hops < 40; ++hops) {
        ssize_t n = ::readlink(at.c_str(), target, sizeof target - 1);
        if (n <= 0) break;
        target[n] = '\0';
        std::size_t cut = at.rfind('/');
        at = target[0] == '/' || cut == std::string::npos ? std::string(target) : at.substr(0, cut + 1) + target;
    }
    return at;
}

}  // namespace

FileIdentity FileIdentity::OfPath(const std::string& path) {
    int alias = AliasedDescriptor(path);
    if (alias != -1) return OfDescriptor(alias);
    FileIdentity id;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.regular = S_ISREG(st.st_mode);
        id.dev = st.st_dev;
        id.ino = st.st_ino;
        return id;
    }
    // Not there yet: behind links to nothing, the name they lead to; then
    // its directory's real path and its own name.
    const std::string made = LinkEnd(path);
    std::size_t slash = made.rfind('/');
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : made.substr(0, slash);
    std::string leaf = slash == std::string::npos ? made : made.substr(slash + 1);
    if (char* real = ::realpath(directory.c_str(), nullptr)) {
        id.resolved = std::string(real) + "/" + leaf;
        std::free(real);
    }
    return id;
}

bool FileIdentity::SameAs(const FileIdentity& other) const {
    if (exists && other.exists) return dev == other.dev && ino == other.ino;
    return !exists && !other.exists && !resolved.empty() && resolved == other.resolved;
}

int ReplacedFile::Open(const std::string& path, Destination& where) {
    struct stat st;
    int alias = AliasedDescriptor(path);
    if (alias != -1) {
        // The descriptor already open: it keeps its offset and its mode.
        if (::fstat(alias, &st) != 0) return -1;
        where.Take(st);
        fd_ = alias;
        ownsFd_ = false;
        return fd_;
    }
    // Behind a link, its target.
    target_ = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target_ = real;
        std::free(real);
    }
    bool exists = ::stat(target_.c_str(), &st) == 0;
    // Links that lead round in a loop name no file: refused, as the shell's
    // > refuses them.
    if (!exists && errno == ELOOP) return -1;
    // A link to nothing: the file it leads to is made as a new file is, in
    // full at the end.
    if (!exists) target_ = LinkEnd(path);
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a pipe is written as it is.
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        ownsFd_ = fd_ != -1;
        if (fd_ != -1 && ::fstat(fd_, &st) == 0) where.Take(st);
        return fd_;
    }
    // A file that a shell's > could not write is not replaced either.
    if (exists && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) return -1;
    std::size_t slash = target_.rfind('/');
    std::string leaf = target_.substr(slash == std::string::npos ? 0 : slash + 1);
    std::string name = target_.substr(0, slash == std::string::npos ? 0 : slash + 1) + "." + leaf + ".talveron-XXXXXX";
    fd_ = ::mkstemp(&name[0]);
    if (fd_ == -1 && exists && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        // A directory this user cannot write, around a file they can: the
        // temporary file lies elsewhere and is copied into the file.
        const char* directory = std::getenv("TMPDIR");
        name = std::string(directory && *directory ? directory : "/tmp") + "/." + leaf + ".talveron-XXXXXX";
        fd_ = ::mkstemp(&name[0]);
        copyBack_ = true;
    }
    if (fd_ == -1) return -1;
    ownsFd_ = true;
    ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
    slot_ = HoldTemporary(name.c_str());
    if (slot_ == -1) {
        ::unlink(name.c_str());
        ::close(fd_);
        fd_ = -1;
        errno = ENAMETOOLONG;
        return -1;
    }
    temporary_ = name;
    direct_ = false;
    // The mode and owner of the file it replaces, or those of a new file.
    mode_t mask = ::umask(0);
    ::umask(mask);
    if (exists) {
        where.Take(st);
        // Only root may give a file away. A file that would change owner,
        // or whose other hard links would keep the old contents, is
        // written into at the end instead of replaced.
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) && ::fchown(fd_, st.st_uid, st.st_gid) != 0)
            copyBack_ = true;
        if (st.st_nlink > 1) copyBack_ = true;
    }
    ::fchmod(fd_, exists ? st.st_mode & 07777 : 0666 & ~mask);
    struct stat made;
    if (::fstat(fd_, &made) == 0) where.TakeTemporary(made);
    return fd_;
}

// Writes the temporary file into the file in place. Another run writing
// into the same file waits for this one (and this one for it), so that the
// file ends as one run's whole output; the room is had before the first old
// byte is overwritten, so that a full disk leaves the file as it was; and an
// ending signal waits until the copy is done.
bool ReplacedFile::CopyBack() {
    int into = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (into == -1) return false;
    struct stat st;
    bool ok = ::fstat(fd_, &st) == 0;
    while (ok && ::flock(into, LOCK_EX) != 0 && errno == EINTR) {
    }  // a file system without locks is written unlocked
    HoldEndingSignals();
    if (ok && st.st_size > 0 && ::fallocate(into, FALLOC_FL_KEEP_SIZE, 0, st.st_size) != 0)
        ok = errno == EOPNOTSUPP || errno == ENOSYS;  // a file system that cannot tell
    char buffer[1 << 16];
    for (off_t at = 0; ok && at < st.st_size;) {
        ssize_t n = ::pread(fd_, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;  // the temporary file shrank
            ok = false;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            ssize_t w = ::pwrite(into, buffer + done, static_cast<std::size_t>(n - done), at + done);
            if (w < 0 && errno == EINTR) continue;
            ok = w > 0;
            if (w == 0) errno = EIO;
            done += w > 0 ? w : 0;
        }
        at += n;
    }
    // What the old contents held past the new end goes.
    if (ok && ::ftruncate(into, st.st_size) != 0) ok = false;
    int error = errno;
    if (::close(into) != 0 && ok) {
        ok = false;
        error = errno;
    }
    ReleaseEndingSignals();
    errno = error;
    return ok;
}

bool ReplacedFile::Commit() {
    bool ok = true;
    int error = 0;
    if (fd_ != -1 && copyBack_ && !temporary_.empty() && !CopyBack()) {
        ok = false;
        error = errno;
    }
    if (fd_ != -1 && ownsFd_ && ::close(fd_) != 0) {
        ok = false;
        error = errno;
    }
    fd_ = -1;
    if (!temporary_.empty()) {
        if (copyBack_) {
            ::unlink(temporary_.c_str());
        } else if (ok && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
            ok = false;
            error = errno;
        }
        if (!ok) ::unlink(temporary_.c_str());
        ReleaseTemporary(slot_);
        slot_ = -1;
        temporary_.clear();
    }
    errno = error;
    return ok;
}

void ReplacedFile::Discard() {
    if (fd_ != -1 && ownsFd_) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        ReleaseTemporary(slot_);
        slot_ = -1;
        temporary_.clear();
    }
}
