// The runtime layer: the C runtime and Windows calls that the module uses,
// behind one small interface. The module's code calls only the names in
// namespace rt; each platform supplies a backend (runtime_posix.cpp,
// runtime_win32.cpp), and tests may put their own backend underneath to fake
// files or make calls fail.
//
// Meanings are those of the Windows C runtime's low-level I/O:
// - files are always binary: bytes pass unchanged, CR LF and 0x1A included;
// - _open returns a descriptor, or -1 when the file cannot be opened (a
//   directory never opens; a read-only file does not open for writing);
// - _read returns the count of bytes read, 0 at end of file, -1 on error;
// - _write returns the count of bytes written or -1;
// - ReadAt reads at an offset without moving the descriptor: as _read;
// - _eof returns 0 while bytes remain, 1 at end of file, -1 on error;
// - _close returns 0 or -1.
// - SameFile is true when both paths name one existing file (the same
//   device and file, whatever names or links lead there).
#ifndef TALVERON_RUNTIME_RUNTIME_H
#define TALVERON_RUNTIME_RUNTIME_H

// Open flags and permission with the Windows C runtime's values.
#ifndef _O_RDONLY
#define _O_RDONLY 0x0000
#endif
#ifndef _O_WRONLY
#define _O_WRONLY 0x0001
#endif
#ifndef _O_RDWR
#define _O_RDWR 0x0002
#endif
#ifndef _O_APPEND
#define _O_APPEND 0x0008
#endif
#ifndef _O_CREAT
#define _O_CREAT 0x0100
#endif
#ifndef _O_TRUNC
#define _O_TRUNC 0x0200
#endif
#ifndef _O_BINARY
#define _O_BINARY 0x8000
#endif
#ifndef _S_IWRITE
#define _S_IWRITE 0x0080
#endif
#ifndef _S_IREAD
#define _S_IREAD 0x0100
#endif
#ifndef _P_WAIT
#define _P_WAIT 0
#endif
#ifndef MB_YESNO
#define MB_YESNO 0x00000004L
#endif
#ifndef IDYES
#define IDYES 6
#endif
#ifndef IDNO
#define IDNO 7
#endif

namespace rt {

// One platform's implementation of the calls below. Tests wrap the
// platform's backend to fake or fail calls (see SetBackend).
struct Backend {
    int (*open)(const char* path, int oflag, int pmode);
    int (*read)(int fd, void* buffer, unsigned int count);
    int (*write)(int fd, const void* buffer, unsigned int count);
    int (*readAt)(int fd, void* buffer, unsigned int count, long long offset);
    int (*eof)(int fd);
    int (*close)(int fd);
    bool (*sameFile)(const char* path1, const char* path2);
};

int _open(const char* path, int oflag, int pmode = 0);
int _read(int fd, void* buffer, unsigned int count);
int _write(int fd, const void* buffer, unsigned int count);
int ReadAt(int fd, void* buffer, unsigned int count, long long offset);
int _eof(int fd);
int _close(int fd);
bool SameFile(const char* path1, const char* path2);

// Writes all `count` bytes, calling _write again after a short write.
// Returns `count`, or -1 when a write fails (or writes nothing).
int WriteAll(int fd, const void* buffer, unsigned int count);

// Starts `program` with the arguments `arg0` and `arg1`. In mode _P_WAIT it
// waits until the program ends and returns its exit status; -1 when it cannot
// be started. On Windows this is the C runtime's _spawnl, which joins the
// arguments with one space into the program's command line.
int _spawnl(int mode, const char* program, const char* arg0, const char* arg1);

// The export's calls take turns. BeginCall waits while a call of another
// thread runs, then begins this thread's call and returns true; it returns
// false at once, beginning nothing, when this thread is inside a call already
// (a call made from a message box of that call). EndCall ends the call begun.
bool BeginCall();
void EndCall();

// A call's turn for the scope: `begun` tells whether it began.
struct CallTurn {
    bool begun = BeginCall();
    CallTurn() = default;
    CallTurn(const CallTurn&) = delete;
    CallTurn& operator=(const CallTurn&) = delete;
    ~CallTurn() {
        if (begun) EndCall();
    }
};

// The calling thread's errno after a failed call.
int LastErrno();

// The C runtime's isprint in its current locale, for every byte value
// 0..255.
void PrintableBytes(bool printable[256]);

// Shows a modal message box and returns the button pressed (IDYES, IDNO).
// The text and caption are Shift_JIS bytes. On Windows this is USER32's
// MessageBoxA; elsewhere it is handed to the message handler.
int MessageBoxA(void* owner, const char* text, const char* caption, unsigned int style);

// Where messages go on platforms without message boxes. The default handler
// discards the message and answers IDYES. Returns the previous handler.
using MessageHandler = int (*)(void* owner, const char* text, const char* caption,
                               unsigned int style);
MessageHandler SetMessageHandler(MessageHandler handler);

// The platform's own backend, and the one in use. SetBackend(nullptr)
// restores the platform's. Returns the previous one.
const Backend& PlatformBackend();
const Backend* SetBackend(const Backend* backend);

}  // namespace rt

#endif
