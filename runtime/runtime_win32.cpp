// Windows backend of the runtime layer: the C runtime's own low-level I/O
// (msvcrt.dll, shared with the host) and USER32's MessageBoxA.
#include <windows.h>
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>

#include "runtime/runtime.h"

namespace rt {
namespace {

int Win32Open(const char* path, int oflag, int pmode) { return ::_open(path, oflag, pmode); }
int Win32Read(int fd, void* buffer, unsigned int count) { return ::_read(fd, buffer, count); }
int Win32Write(int fd, const void* buffer, unsigned int count) { return ::_write(fd, buffer, count); }
long Win32Lseek(int fd, long offset, int origin) { return ::_lseek(fd, offset, origin); }
int Win32Eof(int fd) { return ::_eof(fd); }
int Win32Close(int fd) { return ::_close(fd); }

const Backend kWin32Backend = {Win32Open, Win32Read, Win32Write, Win32Lseek, Win32Eof, Win32Close};

}  // namespace

const Backend& PlatformBackend() { return kWin32Backend; }

int LastErrno() { return errno; }

bool IsPrintByte(unsigned char byte) { return ::isprint(byte) != 0; }

int MessageBoxA(void* owner, const char* text, const char* caption, unsigned int style) {
    return ::MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

int _spawnl(int mode, const char* program, const char* arg0, const char* arg1) {
    return static_cast<int>(::_spawnl(mode, program, arg0, arg1, static_cast<const char*>(nullptr)));
}

// Windows shows real message boxes; there is no handler to replace.
MessageHandler SetMessageHandler(MessageHandler) { return nullptr; }

}  // namespace rt
