// An in-memory file system behind the runtime layer, with faults on demand,
// in the manner of a test VFS. While a FakeFiles object lives, every rt::_open,
// _read, ReadAt, _write, _eof and _close of the module goes to it, and every
// message box is recorded in it.
#ifndef TALVERON_TESTS_FAKE_FILES_H
#define TALVERON_TESTS_FAKE_FILES_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "runtime/runtime.h"

struct RecordedMessage {
    std::string text;
    std::string caption;
    void* owner;
    unsigned int style;
};

class FakeFiles {
public:
    FakeFiles();
    ~FakeFiles();
    FakeFiles(const FakeFiles&) = delete;
    FakeFiles& operator=(const FakeFiles&) = delete;

    struct File {
        std::string data;
        bool readOnly = false;
        bool directory = false;
        // Reads that would deliver bytes at or past this offset fail.
        std::size_t unreadableFrom = static_cast<std::size_t>(-1);
    };
    std::map<std::string, File> files;

    unsigned int maxWrite = 0;  // when not 0, a write takes at most this many bytes
    // When not 0: the device holds at most this many bytes of written files
    // (a write takes what fits, then fails with ENOSPC).
    std::size_t capacity = 0;
    // When not 0: writes of more bytes than this fail with ENOSPC.
    unsigned int longWritesFail = 0;
    // When set: every write returns 0, taking nothing (and setting no errno).
    bool writesTakeNothing = false;

    // One injected fault: the Nth call (counted from 1, over all descriptors)
    // of one kind fails, once or from then on (a write with ENOSPC).
    enum class Call { kNone, kOpen, kRead, kWrite, kReadAt };
    Call faultCall = Call::kNone;
    int faultAt = 0;
    bool faultPersists = false;

    // Called at the start of every read.
    std::function<void()> onRead;

    // What happened.
    std::vector<RecordedMessage> messages;
    int reads = 0, writes = 0, opens = 0, closes = 0, readAts = 0;
    int faultsHit = 0;  // calls that the injected fault failed
    int OpenDescriptors() const { return static_cast<int>(open_.size()); }

private:
    struct Open {
        std::string name;
        std::size_t pos;
        bool writable;
    };
    std::map<int, Open> open_;
    // The open file behind `fd`, or null (errno EBADF).
    Open* Lookup(int fd);
    int nextFd_ = 3;
    const rt::Backend* previousBackend_;
    rt::MessageHandler previousHandler_;

    bool Faulted(Call call, int number) {
        bool hit = call == faultCall && (number == faultAt || (faultPersists && number > faultAt));
        faultsHit += hit;
        return hit;
    }

    static FakeFiles* current_;
    static int DoOpen(const char* path, int oflag, int pmode);
    static int DoRead(int fd, void* buffer, unsigned int count);
    static int DoWrite(int fd, const void* buffer, unsigned int count);
    static int DoReadAt(int fd, void* buffer, unsigned int count, long long offset);
    static int DoEof(int fd);
    static int DoClose(int fd);
    static bool DoSameFile(const char* path1, const char* path2);
    static int DoMessage(void* owner, const char* text, const char* caption, unsigned int style);
};

#endif
