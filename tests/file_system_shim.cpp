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
                            a failed write only at close). */
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern "C" {

struct dirent* readdir(DIR* dir) {
    static struct dirent* (*real)(DIR*);
    if (!real) real = reinterpret_cast<struct dirent* (*)(DIR*)>(dlsym(RTLD_NEXT, "readdir"));
    struct dirent* entry = real(dir);
    if (entry && getenv("SHIM_DT_UNKNOWN")) entry->d_type = DT_UNKNOWN;
    return entry;
}

struct dirent64* readdir64(DIR* dir) {
    static struct dirent64* (*real)(DIR*);
    if (!real) real = reinterpret_cast<struct dirent64* (*)(DIR*)>(dlsym(RTLD_NEXT, "readdir64"));
    struct dirent64* entry = real(dir);
    if (entry && getenv("SHIM_DT_UNKNOWN")) entry->d_type = DT_UNKNOWN;
    return entry;
}

}  // extern "C"

static void Swap(int directory, const char* leaf) {
    const char* swap = getenv("SHIM_SWAP");
    const char* colon = swap ? strchr(swap, ':') : nullptr;
    if (!colon || strlen(leaf) != static_cast<size_t>(colon - swap) || strncmp(swap, leaf, colon - swap) != 0) return;
    renameat(directory, colon + 1, directory, leaf);
}

extern "C" {

int openat(int directory, const char* path, int flags, ...) {
    static int (*real)(int, const char*, int, ...);
    if (!real) real = reinterpret_cast<int (*)(int, const char*, int, ...)>(dlsym(RTLD_NEXT, "openat"));
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    Swap(directory, path);
    return real(directory, path, flags, mode);
}

int openat64(int directory, const char* path, int flags, ...) {
    static int (*real)(int, const char*, int, ...);
    if (!real) real = reinterpret_cast<int (*)(int, const char*, int, ...)>(dlsym(RTLD_NEXT, "openat64"));
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    Swap(directory, path);
    return real(directory, path, flags, mode);
}

int close(int fd) {
    static int (*real)(int);
    if (!real) real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "close"));
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
