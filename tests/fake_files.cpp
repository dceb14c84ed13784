#include "tests/fake_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

FakeFiles* FakeFiles::current_ = nullptr;

FakeFiles::FakeFiles() {
    static const rt::Backend backend = {DoOpen, DoRead, DoWrite, DoReadAt, DoEof, DoClose, DoSameFile};
    current_ = this;
    previousBackend_ = rt::SetBackend(&backend);
    previousHandler_ = rt::SetMessageHandler(DoMessage);
}

FakeFiles::~FakeFiles() {
    rt::SetBackend(previousBackend_ == &rt::PlatformBackend() ? nullptr : previousBackend_);
    rt::SetMessageHandler(previousHandler_);
    current_ = nullptr;
}

int FakeFiles::DoOpen(const char* path, int oflag, int pmode) {
    FakeFiles& self = *current_;
    if (self.Faulted(Call::kOpen, ++self.opens)) {
        errno = EIO;
        return -1;
    }
    bool writable = (oflag & (_O_WRONLY | _O_RDWR)) != 0;
    auto it = self.files.find(path);
    if (it == self.files.end()) {
        if (!(oflag & _O_CREAT)) {
            errno = ENOENT;
            return -1;
        }
        File created;
        created.readOnly = !(pmode & _S_IWRITE);
        it = self.files.emplace(path, created).first;
    } else if (it->second.directory || (writable && it->second.readOnly)) {
        errno = EACCES;
        return -1;
    } else if (oflag & _O_TRUNC) {
        it->second.data.clear();
    }
    int fd = self.nextFd_++;
    self.open_[fd] = Open{path, 0, writable};
    return fd;
}

FakeFiles::Open* FakeFiles::Lookup(int fd) {
    auto it = open_.find(fd);
    if (it == open_.end()) {
        errno = EBADF;
        return nullptr;
    }
    return &it->second;
}

int FakeFiles::DoRead(int fd, void* buffer, unsigned int count) {
    FakeFiles& self = *current_;
    if (self.onRead) self.onRead();
    if (self.Faulted(Call::kRead, ++self.reads)) {
        errno = EIO;
        return -1;
    }
    Open* open = self.Lookup(fd);
    if (!open) return -1;
    const File& file = self.files[open->name];
    std::size_t pos = open->pos;
    if (pos >= file.unreadableFrom) {
        errno = EIO;
        return -1;
    }
    std::size_t limit = file.data.size() < file.unreadableFrom ? file.data.size() : file.unreadableFrom;
    if (pos >= limit) return 0;
    std::size_t n = limit - pos < count ? limit - pos : count;
    std::memcpy(buffer, file.data.data() + pos, n);
    open->pos += n;
    return static_cast<int>(n);
}

int FakeFiles::DoWrite(int fd, const void* buffer, unsigned int count) {
    FakeFiles& self = *current_;
    int number = ++self.writes;
    if (self.Faulted(Call::kWrite, number)) {
        errno = ENOSPC;
        return -1;
    }
    Open* open = self.Lookup(fd);
    if (!open) return -1;
    if (!open->writable) {
        errno = EBADF;
        return -1;
    }
    if (self.writesTakeNothing) return 0;
    if (self.longWritesFail != 0 && count > self.longWritesFail) {
        errno = ENOSPC;
        return -1;
    }
    if (self.maxWrite != 0 && count > self.maxWrite) count = self.maxWrite;
    std::string& data = self.files[open->name].data;
    std::size_t pos = open->pos;
    if (self.capacity != 0) {
        std::size_t room = pos < self.capacity ? self.capacity - pos : 0;
        if (room == 0) {
            errno = ENOSPC;
            return -1;
        }
        if (count > room) count = static_cast<unsigned int>(room);
    }
    if (data.size() < pos + count) data.resize(pos + count);
    data.replace(pos, count, static_cast<const char*>(buffer), count);
    open->pos += count;
    return static_cast<int>(count);
}

int FakeFiles::DoReadAt(int fd, void* buffer, unsigned int count, long long offset) {
    FakeFiles& self = *current_;
    if (self.Faulted(Call::kReadAt, ++self.readAts)) {
        errno = EIO;
        return -1;
    }
    Open* open = self.Lookup(fd);
    if (!open) return -1;
    const File& file = self.files[open->name];
    const std::string& data = file.data;
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    // As _read: up to the unreadable bytes, and a read there fails.
    if (static_cast<std::size_t>(offset) >= file.unreadableFrom) {
        errno = EIO;
        return -1;
    }
    std::size_t size = std::min(data.size(), file.unreadableFrom);
    std::size_t at = std::min(static_cast<std::size_t>(offset), size);
    std::size_t n = std::min<std::size_t>(count, size - at);
    std::memcpy(buffer, data.data() + at, n);
    return static_cast<int>(n);
}

int FakeFiles::DoEof(int fd) {
    FakeFiles& self = *current_;
    Open* open = self.Lookup(fd);
    if (!open) return -1;
    return open->pos >= self.files[open->name].data.size() ? 1 : 0;
}

int FakeFiles::DoClose(int fd) {
    FakeFiles& self = *current_;
    ++self.closes;
    if (self.open_.erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

bool FakeFiles::DoSameFile(const char* path1, const char* path2) {
    // No links here: one file has one name.
    return std::strcmp(path1, path2) == 0 && current_->files.count(path1) != 0;
}

int FakeFiles::DoMessage(void* owner, const char* text, const char* caption, unsigned int style) {
    current_->messages.push_back({text, caption, owner, style});
    return current_->messages.size() % 2 ? IDYES : IDNO;  // Yes and No in turn
}
