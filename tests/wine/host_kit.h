// What the Windows programs of the tests share: a malloc that fails on
// demand (put in place of a module's malloc import with PatchImport), reading
// a whole file, and the C runtime's next descriptor.
#ifndef TALVERON_TESTS_WINE_HOST_KIT_H
#define TALVERON_TESTS_WINE_HOST_KIT_H

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

typedef void*(__cdecl* MallocFn)(std::size_t);
inline MallocFn g_realMalloc = nullptr;  // the import replaced
inline volatile LONG g_mallocCalls = 0;  // calls since the count was reset
inline LONG g_mallocFailAt = 0;          // the one that fails; 0 for none

inline void* __cdecl FailingMalloc(std::size_t size) {
    if (InterlockedIncrement(&g_mallocCalls) == g_mallocFailAt) return nullptr;
    return g_realMalloc(size);
}

inline std::string ReadAll(const char* path) {
    std::string bytes;
    if (std::FILE* file = std::fopen(path, "rb")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
        std::fclose(file);
    }
    return bytes;
}

// The descriptor that the next open gets: the lowest free one of the C
// runtime (shared by a host and its module), so that one left open shows.
// `path` is any existing file.
inline int NextDescriptor(const char* path) {
    int fd = _open(path, _O_RDONLY | _O_BINARY);
    _close(fd);
    return fd;
}

#endif
