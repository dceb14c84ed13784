/* Preloaded into talveron by the tests (LD_PRELOAD) to make happen what a
   real file system does only now and then:
     SHIM_DT_UNKNOWN=1      readdir tells no entry's type (as some file
                            systems do), so the walk must ask for it;
     SHIM_SWAP=LEAF:OTHER   just before LEAF is opened within a walk, OTHER
                            (a pipe or a link made by the test) is renamed
                            over it, as if the page had been swapped after
                            its directory was listed;
     SHIM_FAIL_CLOSE=TEXT   a close of a file whose path holds TEXT closes
                            it and reports EIO (a file system that tells of
                            a failed write only at close);
     SHIM_READDIR_EIO=TEXT:N  a directory opened by a path that ends in TEXT
                            gives N entries, then fails with EIO;
     SHIM_DISK_FREE=END:N   a file whose path ends in END lies on a disk
                            with N bytes free: what is written or reserved
                            past them fails with ENOSPC;
     SHIM_TERM_IN_WRITE=END the first write into a file whose path ends in
                            END sends the process SIGTERM, then goes on;
     SHIM_FAIL_ALLOC=N      the Nth allocation (malloc, calloc, realloc,
                            aligned) made once main has begun fails, in
                            whichever thread; SHIM_COUNT_ALLOC=FILE writes
                            the number made to FILE as the program ends. */
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <execinfo.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace {

template <typename Function>
Function Real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

DIR* failing;        // the directory whose read fails part way
long failingAfter;   // entries it still gives

void Watch(DIR* dir, const char* path) {
    const char* setting = getenv("SHIM_READDIR_EIO");
    const char* colon = setting ? strrchr(setting, ':') : nullptr;
    if (!dir || !colon) return;
    size_t n = static_cast<size_t>(colon - setting), length = strlen(path);
    if (length >= n && strncmp(path + length - n, setting, n) == 0) {
        failing = dir;
        failingAfter = atol(colon + 1);
    }
}

template <typename Entry>
Entry* Read(const char* symbol, DIR* dir) {
    if (dir == failing && failingAfter-- <= 0) {
        errno = EIO;
        return nullptr;
    }
    return Real<Entry* (*)(DIR*)>(symbol)(dir);
}

template <typename Entry>
Entry* Untyped(Entry* entry) {
    if (entry && getenv("SHIM_DT_UNKNOWN")) entry->d_type = DT_UNKNOWN;
    return entry;
}

void Swap(int directory, const char* leaf) {
    const char* swap = getenv("SHIM_SWAP");
    const char* colon = swap ? strchr(swap, ':') : nullptr;
    if (!colon || strlen(leaf) != static_cast<size_t>(colon - swap) || strncmp(swap, leaf, colon - swap) != 0) return;
    renameat(directory, colon + 1, directory, leaf);
}

int OpenAt(const char* symbol, int directory, const char* path, int flags, mode_t mode) {
    Swap(directory, path);
    return Real<int (*)(int, const char*, int, ...)>(symbol)(directory, path, flags, mode);
}

#ifndef TALVERON_SANITIZED
// Allocations are counted from the start of main, so that the loader's and
// the C++ runtime's own are never failed.
std::atomic<long> allocations{0};
std::atomic<bool> counting{false};
long failAllocation = 0;

bool Fails() {
    if (!counting.load(std::memory_order_relaxed)) return false;
    long n = ++allocations;
    if (n != failAllocation) return false;
    if (getenv("SHIM_TRACE_ALLOC")) {
        void* frames[32];
        backtrace_symbols_fd(frames, backtrace(frames, 32), 2);
    }
    errno = ENOMEM;
    return true;
}

int (*realMain)(int, char**, char**);

void WriteCount() {
    counting = false;
    const char* file = getenv("SHIM_COUNT_ALLOC");
    if (!file) return;
    if (FILE* f = fopen(file, "w")) {
        fprintf(f, "%ld\n", allocations.load());
        fclose(f);
    }
}

int CountedMain(int argc, char** argv, char** environment) {
    const char* fail = getenv("SHIM_FAIL_ALLOC");
    failAllocation = fail ? atol(fail) : 0;
    if (fail || getenv("SHIM_COUNT_ALLOC")) {
        atexit(WriteCount);
        counting = true;
    }
    return realMain(argc, argv, environment);
}

#endif

// Whether `fd` is open on a file whose path ends in `end`.
bool PathEndsIn(int fd, const char* end) {
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return false;
    path[n] = '\0';
    size_t length = strlen(end);
    return static_cast<size_t>(n) >= length && strcmp(path + n - length, end) == 0;
}

// How much of a write or reservation of `length` bytes at `at` the disk of
// SHIM_DISK_FREE takes (all when `fd` is not on it), and the signal of
// SHIM_TERM_IN_WRITE.
size_t Room(int fd, off_t at, size_t length) {
    static bool signalled = false;
    const char* term = getenv("SHIM_TERM_IN_WRITE");
    if (term && !signalled && PathEndsIn(fd, term)) {
        signalled = true;
        kill(getpid(), SIGTERM);
    }
    const char* disk = getenv("SHIM_DISK_FREE");
    const char* colon = disk ? strrchr(disk, ':') : nullptr;
    if (!colon) return length;
    char end[4096];
    snprintf(end, sizeof end, "%.*s", static_cast<int>(colon - disk), disk);
    if (!PathEndsIn(fd, end)) return length;
    off_t left = atol(colon + 1);
    if (at < 0) at = lseek(fd, 0, SEEK_CUR);
    return at >= left ? 0 : std::min<size_t>(length, static_cast<size_t>(left - at));
}

template <typename Function, typename... Args>
ssize_t Written(const char* symbol, int fd, off_t at, const void* bytes, size_t length, Args... args) {
    size_t room = Room(fd, at, length);
    if (room == 0 && length > 0) {
        errno = ENOSPC;
        return -1;
    }
    return Real<Function>(symbol)(fd, bytes, room, args...);
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* bytes, size_t length) {
    return Written<ssize_t (*)(int, const void*, size_t)>("write", fd, -1, bytes, length);
}
ssize_t pwrite(int fd, const void* bytes, size_t length, off_t at) {
    return Written<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite", fd, at, bytes, length, at);
}
ssize_t pwrite64(int fd, const void* bytes, size_t length, off_t at) {
    return Written<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64", fd, at, bytes, length, at);
}
int fallocate(int fd, int mode, off_t at, off_t length) {
    if (Room(fd, at, static_cast<size_t>(length)) < static_cast<size_t>(length)) {
        errno = ENOSPC;
        return -1;
    }
    return Real<int (*)(int, int, off_t, off_t)>("fallocate")(fd, mode, at, length);
}
int fallocate64(int fd, int mode, off_t at, off_t length) { return fallocate(fd, mode, at, length); }

#ifndef TALVERON_SANITIZED
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);

void* malloc(size_t size) { return Fails() ? nullptr : __libc_malloc(size); }
void* calloc(size_t n, size_t size) { return Fails() ? nullptr : __libc_calloc(n, size); }
void* realloc(void* old, size_t size) { return Fails() ? nullptr : __libc_realloc(old, size); }
void* aligned_alloc(size_t alignment, size_t size) { return Fails() ? nullptr : __libc_memalign(alignment, size); }
void* memalign(size_t alignment, size_t size) { return Fails() ? nullptr : __libc_memalign(alignment, size); }
int posix_memalign(void** out, size_t alignment, size_t size) {
    if (Fails()) return ENOMEM;
    *out = __libc_memalign(alignment, size);
    return *out ? 0 : ENOMEM;
}

int __libc_start_main(int (*main)(int, char**, char**), int argc, char** argv, void (*init)(), void (*fini)(),
                      void (*loaderFini)(), void* stackEnd) {
    realMain = main;
    auto real = Real<int (*)(int (*)(int, char**, char**), int, char**, void (*)(), void (*)(), void (*)(), void*)>(
        "__libc_start_main");
    return real(CountedMain, argc, argv, init, fini, loaderFini, stackEnd);
}
#endif

struct dirent* readdir(DIR* dir) { return Untyped(Read<struct dirent>("readdir", dir)); }
struct dirent64* readdir64(DIR* dir) { return Untyped(Read<struct dirent64>("readdir64", dir)); }

DIR* opendir(const char* path) {
    DIR* dir = Real<DIR* (*)(const char*)>("opendir")(path);
    Watch(dir, path);
    return dir;
}

int closedir(DIR* dir) {
    if (dir == failing) failing = nullptr;
    return Real<int (*)(DIR*)>("closedir")(dir);
}

int openat(int directory, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    return OpenAt("openat", directory, path, flags, mode);
}

int openat64(int directory, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    return OpenAt("openat64", directory, path, flags, mode);
}

int close(int fd) {
    static int (*real)(int) = Real<int (*)(int)>("close");
    const char* text = getenv("SHIM_FAIL_CLOSE");
    char link[64], path[4096];
    ssize_t n = -1;
    if (text) {
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        n = readlink(link, path, sizeof path - 1);
    }
    int result = real(fd);
    if (n > 0) {
        path[n] = '\0';
        if (strstr(path, text)) {
            errno = EIO;
            return -1;
        }
    }
    return result;
}

}  // extern "C"
