// POSIX backend of the runtime layer: Linux system calls with the meanings of
// the Windows C runtime's low-level I/O.
#include "runtime/runtime.h"

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <climits>
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace rt {
namespace {

bool WantsWrite(int oflag) { return (oflag & (_O_WRONLY | _O_RDWR)) != 0; }

int PosixOpen(const char* path, int oflag, int pmode) {
    int flags = (oflag & _O_RDWR) ? O_RDWR : (oflag & _O_WRONLY) ? O_WRONLY : O_RDONLY;
    if (oflag & _O_CREAT) flags |= O_CREAT;
    if (oflag & _O_TRUNC) flags |= O_TRUNC;
    if (oflag & _O_APPEND) flags |= O_APPEND;
    flags |= O_CLOEXEC;

    struct stat st;
    if (::stat(path, &st) == 0) {
        // Windows opens no directory as a file, and honours a file's
        // read-only attribute even for administrators; a file that no one
        // may write stands for that attribute here.
        if (S_ISDIR(st.st_mode)) {
            errno = EACCES;
            return -1;
        }
        if (WantsWrite(oflag) && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) {
            errno = EACCES;
            return -1;
        }
    }
    // _S_IWRITE creates a writable file; without it the new file is read-only.
    mode_t mode = (pmode & _S_IWRITE) ? 0666 : 0444;
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd == -1 && errno == EINTR);
    if (fd == -1) return -1;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {  // replaced since the stat above
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

int PosixRead(int fd, void* buffer, unsigned int count) {
    if (count > INT_MAX) count = INT_MAX;
    ssize_t n;
    for (;;) {
        n = ::read(fd, buffer, count);
        if (n != -1 || errno == EINTR) {
            if (n != -1) break;
            continue;
        }
        // A descriptor in non-blocking mode: wait until it can be read, so
        // that a pause is never taken for an error or for the end.
        if (errno != EAGAIN && errno != EWOULDBLOCK) break;
        pollfd ready = {fd, POLLIN, 0};
        if (::poll(&ready, 1, -1) == -1 && errno != EINTR) break;
    }
    return static_cast<int>(n);
}

int PosixWrite(int fd, const void* buffer, unsigned int count) {
    if (count > INT_MAX) count = INT_MAX;
    ssize_t n;
    do {
        n = ::write(fd, buffer, count);
    } while (n == -1 && errno == EINTR);
    return static_cast<int>(n);
}

int PosixReadAt(int fd, void* buffer, unsigned int count, long long offset) {
    if (count > INT_MAX) count = INT_MAX;
    ssize_t n;
    do {
        n = ::pread(fd, buffer, count, static_cast<off_t>(offset));
    } while (n == -1 && errno == EINTR);
    return static_cast<int>(n);
}

int PosixEof(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return -1;
    off_t pos = ::lseek(fd, 0, SEEK_CUR);
    if (pos == static_cast<off_t>(-1)) return -1;
    return pos >= st.st_size ? 1 : 0;
}

int PosixClose(int fd) { return ::close(fd); }

bool PosixSameFile(const char* path1, const char* path2) {
    struct stat st1, st2;
    return ::stat(path1, &st1) == 0 && ::stat(path2, &st2) == 0 && st1.st_dev == st2.st_dev &&
           st1.st_ino == st2.st_ino;
}

int DiscardMessage(void*, const char*, const char*, unsigned int) { return IDYES; }

// Set from any thread, while searches of other threads show messages.
std::atomic<MessageHandler> g_messageHandler{DiscardMessage};

const Backend kPosixBackend = {PosixOpen, PosixRead, PosixWrite, PosixReadAt, PosixEof, PosixClose, PosixSameFile};

pthread_mutex_t g_callLock = PTHREAD_MUTEX_INITIALIZER;
// The thread whose call runs, or 0 (no thread has that id). Only that thread
// stores its own id here, so a thread finds its own id only while its call
// runs.
std::atomic<pthread_t> g_callOwner{0};

}  // namespace

const Backend& PlatformBackend() { return kPosixBackend; }

bool BeginCall() {
    pthread_t self = ::pthread_self();
    if (g_callOwner.load(std::memory_order_relaxed) == self) return false;
    ::pthread_mutex_lock(&g_callLock);
    g_callOwner.store(self, std::memory_order_relaxed);
    return true;
}

void EndCall() {
    g_callOwner.store(0, std::memory_order_relaxed);
    ::pthread_mutex_unlock(&g_callLock);
}

int LastErrno() { return errno; }

void PrintableBytes(bool printable[256]) {
    // The "C" locale's are known (0x20 to 0x7E); asking isprint for each
    // byte costs as much as searching a small page.
    const char* locale = std::setlocale(LC_CTYPE, nullptr);
    bool plain = locale && (std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0);
    for (int byte = 0; byte < 256; ++byte)
        printable[byte] = plain ? byte >= 0x20 && byte <= 0x7E : std::isprint(byte) != 0;
}

int MessageBoxA(void* owner, const char* text, const char* caption, unsigned int style) {
    MessageHandler handler = g_messageHandler;
    return handler(owner, text, caption, style);
}

int _spawnl(int mode, const char* program, const char* arg0, const char* arg1) {
    char* argv[] = {const_cast<char*>(arg0), const_cast<char*>(arg1), nullptr};
    pid_t pid;
    int error = ::posix_spawn(&pid, program, nullptr, nullptr, argv, environ);
    if (error != 0) {
        errno = error;
        return -1;
    }
    if (mode != _P_WAIT) return static_cast<int>(pid);
    int status;
    while (::waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR) return -1;
    }
    // A program ended by a signal reports 128 plus the signal, as shells do.
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

MessageHandler SetMessageHandler(MessageHandler handler) {
    return g_messageHandler.exchange(handler ? handler : DiscardMessage);
}

}  // namespace rt
