// Windows backend of the runtime layer: the C runtime's own low-level I/O
// (msvcrt.dll, shared with the host) and USER32's MessageBoxA.
#include <windows.h>
#include <ctype.h>
#include <errno.h>
#include <clocale>
#include <fcntl.h>
#include <io.h>
#include <process.h>

#include "runtime/runtime.h"

namespace rt {
namespace {

int Win32Open(const char* path, int oflag, int pmode) { return ::_open(path, oflag, pmode); }
int Win32Read(int fd, void* buffer, unsigned int count) { return ::_read(fd, buffer, count); }
int Win32Write(int fd, const void* buffer, unsigned int count) { return ::_write(fd, buffer, count); }
// Only the terminal tool reads ranges; here a positioned read moves the
// descriptor, which no one else reads at the same time.
int Win32ReadAt(int fd, void* buffer, unsigned int count, long long offset) {
    if (::_lseeki64(fd, offset, SEEK_SET) == -1) return -1;
    return ::_read(fd, buffer, count);
}
int Win32Eof(int fd) { return ::_eof(fd); }
int Win32Close(int fd) { return ::_close(fd); }

// The volume and file index of an existing file or directory.
bool FileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE file = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BOOL known = ::GetFileInformationByHandle(file, info);
    ::CloseHandle(file);
    return known != FALSE;
}

bool Win32SameFile(const char* path1, const char* path2) {
    BY_HANDLE_FILE_INFORMATION info1, info2;
    return FileIdentity(path1, &info1) && FileIdentity(path2, &info2) &&
           info1.dwVolumeSerialNumber == info2.dwVolumeSerialNumber &&
           info1.nFileIndexHigh == info2.nFileIndexHigh && info1.nFileIndexLow == info2.nFileIndexLow;
}

const Backend kWin32Backend = {Win32Open, Win32Read, Win32Write, Win32ReadAt, Win32Eof, Win32Close, Win32SameFile};

// A slim lock needs no set-up at load and takes no memory.
SRWLOCK g_callLock = SRWLOCK_INIT;
// The thread whose call runs, or 0. Only that thread stores its own id here,
// so a thread finds its own id only while its call runs.
volatile LONG g_callOwner = 0;

}  // namespace

const Backend& PlatformBackend() { return kWin32Backend; }

bool BeginCall() {
    LONG self = static_cast<LONG>(::GetCurrentThreadId());
    if (g_callOwner == self) return false;
    ::AcquireSRWLockExclusive(&g_callLock);
    ::InterlockedExchange(&g_callOwner, self);
    return true;
}

void EndCall() {
    ::InterlockedExchange(&g_callOwner, 0);
    ::ReleaseSRWLockExclusive(&g_callLock);
}

int LastErrno() { return errno; }


void PrintableBytes(bool printable[256]) {
    for (int byte = 0; byte < 256; ++byte) printable[byte] = ::isprint(byte) != 0;
}

int MessageBoxA(void* owner, const char* text, const char* caption, unsigned int style) {
    return ::MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

int _spawnl(int mode, const char* program, const char* arg0, const char* arg1) {
    return static_cast<int>(::_spawnl(mode, program, arg0, arg1, static_cast<const char*>(nullptr)));
}

// Windows shows real message boxes; there is no handler to replace.
MessageHandler SetMessageHandler(MessageHandler) { return nullptr; }

}  // namespace rt
