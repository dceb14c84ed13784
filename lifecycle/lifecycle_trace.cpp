// The lifecycle log of a TALVERON_TRACE_LIFECYCLE build.
#include "lifecycle/module_object.h"

#ifdef TALVERON_TRACE_LIFECYCLE

#include <cstring>
#include <initializer_list>

#include "runtime/runtime.h"

void TraceLifecycle(const char* event, const char* name) {
    int fd = rt::_open("LIFECYCLE.TXT", _O_BINARY | _O_WRONLY | _O_CREAT | _O_APPEND, _S_IWRITE);
    if (fd == -1) return;
    char line[128];
    std::size_t n = 0;
    for (const char* part : {event, " ", name, "\n"}) {
        std::size_t length = std::strlen(part);
        if (n + length >= sizeof line) break;
        std::memcpy(line + n, part, length);
        n += length;
    }
    rt::_write(fd, line, static_cast<unsigned int>(n));
    rt::_close(fd);
}

#endif
