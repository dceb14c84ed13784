// Dispatch of the file calls to the backend in use.
#include "runtime/runtime.h"

namespace rt {
namespace {

const Backend* g_backend = nullptr;  // null: the platform's own

const Backend& Current() { return g_backend ? *g_backend : PlatformBackend(); }

}  // namespace

const Backend* SetBackend(const Backend* backend) {
    const Backend* previous = g_backend ? g_backend : &PlatformBackend();
    g_backend = backend;
    return previous;
}

int _open(const char* path, int oflag, int pmode) { return Current().open(path, oflag, pmode); }
int _read(int fd, void* buffer, unsigned int count) { return Current().read(fd, buffer, count); }
int _write(int fd, const void* buffer, unsigned int count) {
    return Current().write(fd, buffer, count);
}
int ReadAt(int fd, void* buffer, unsigned int count, long long offset) {
    return Current().readAt(fd, buffer, count, offset);
}
int _eof(int fd) { return Current().eof(fd); }
int _close(int fd) { return Current().close(fd); }
bool SameFile(const char* path1, const char* path2) { return Current().sameFile(path1, path2); }

int WriteAll(int fd, const void* buffer, unsigned int count) {
    const char* bytes = static_cast<const char*>(buffer);
    unsigned int done = 0;
    while (done < count) {
        int n = _write(fd, bytes + done, count - done);
        if (n <= 0) return -1;
        done += static_cast<unsigned int>(n);
    }
    return static_cast<int>(count);
}

}  // namespace rt
