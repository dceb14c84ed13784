#include "host/inputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <cerrno>
#include <cstdlib>
#include <cstring>

InputWalker::InputWalker(const std::vector<std::string>& operands, bool allFiles, Report report,
                         std::FILE* namesFile)
    : operands_(operands), namesFile_(namesFile), allFiles_(allFiles), report_(std::move(report)) {
    for (const std::string& operand : operands_) {
        struct stat st;
        if (operand != "-" && ::stat(operand.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) walksDirectories_ = true;
    }
}

InputWalker::~InputWalker() {
    while (!levels_.empty()) Leave();
    std::free(name_);
}

void InputWalker::Leave() {
    ::closedir(levels_.back().dir);
    levels_.pop_back();
}

bool InputWalker::NextOperand(std::string& operand) {
    if (nextOperand_ < operands_.size()) {
        operand = operands_[nextOperand_++];
        return true;
    }
    if (!namesFile_) return false;
    for (;;) {
        ssize_t n = ::getdelim(&name_, &nameSize_, '\0', namesFile_);
        if (n <= 0) return false;
        if (name_[n - 1] == '\0') --n;
        if (n == 0) continue;  // an empty name names nothing
        operand.assign(name_, static_cast<std::size_t>(n));
        return true;
    }
}

bool InputWalker::Wanted(const std::string& name) const {
    if (allFiles_) return true;
    auto endsWith = [&](const char* suffix) {
        std::size_t n = std::strlen(suffix);
        return name.size() > n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
    };
    return endsWith(".htm") || endsWith(".html");
}

bool InputWalker::Descend(const std::string& directory) {
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) {
        if (report_) report_(directory, errno);
        return false;
    }
    Level level;
    level.path = directory.back() == '/' ? directory : directory + "/";
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        // Known at once (most file systems tell the type): links, and files
        // that are not pages, are left out here.
        unsigned char type = entry->d_type;
        if (type == DT_LNK || (type != DT_DIR && type != DT_UNKNOWN && (type != DT_REG || !Wanted(entry->d_name))))
            continue;
        level.entries.push_back({entry->d_name, type, static_cast<unsigned long long>(entry->d_ino)});
    }
    level.dir = dir;  // kept open: its files are opened relative to it
    std::sort(level.entries.begin(), level.entries.end());
    levels_.push_back(std::move(level));
    return true;
}

bool InputWalker::Next(Input& input) {
    for (;;) {
        // Inside a walk: the next entry of the deepest directory.
        while (!levels_.empty()) {
            Level& level = levels_.back();
            if (level.next == level.entries.size()) {
                Leave();
                continue;
            }
            const Entry& entry = level.entries[level.next++];
            std::string path = level.path + entry.name;
            unsigned char type = entry.type;
            unsigned long long inode = entry.inode;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (::lstat(path.c_str(), &st) != 0) continue;  // gone since it was listed
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                Descend(path);
                continue;
            }
            // (A name readdir typed was taken as a page already.)
            if (type == DT_REG && (entry.type == DT_REG || Wanted(path))) {
                input = {path, path, false, inode, ::dirfd(level.dir), entry.name};
                return true;
            }
        }
        std::string operand;
        if (!NextOperand(operand)) return false;
        if (operand == "-") {
            input = {"-", "(standard input)", true, 0, -1, ""};
            return true;
        }
        // A named input is followed through links; a directory is walked;
        // anything else is handed on, and opening it tells what is wrong.
        struct stat st;
        if (::stat(operand.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            Descend(operand);
            continue;
        }
        input = {operand, operand, false, 0, -1, ""};
        return true;
    }
}

long long CountInputs(const std::vector<std::string>& operands, bool allFiles) {
    InputWalker walker(operands, allFiles, nullptr);
    long long count = 0;
    Input input;
    while (walker.Next(input)) ++count;
    return count;
}

namespace {
// Inputs opened and not yet searched, at most; the thread goes on opening
// when half of them were taken, and closes in batches, so that the two
// threads rarely wake each other.
constexpr std::size_t kOpenAhead = 64;
constexpr std::size_t kCloseBatch = 16;
}

struct InputOpener::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Opened> ready;  // opened (or failed), in order
    std::vector<int> toClose;  // searched
    bool walked = false;       // the walk has ended
    bool stop = false;         // the search has ended
    bool searchWaits = false;  // Next waits for an input
    std::thread thread;
};

void InputOpener::Open(Opened& opened) {
    if (opened.input.standardInput) {
        opened.fd = 0;
        return;
    }
    // Within a walk, relative to the directory: no look-up of the whole path.
    const Input& input = opened.input;
    opened.fd = input.directory != -1 ? ::openat(input.directory, input.leaf.c_str(), O_RDONLY | O_CLOEXEC)
                                      : ::open(input.path.c_str(), O_RDONLY | O_CLOEXEC);
    opened.error = opened.fd == -1 ? errno : 0;
}

void InputOpener::Run(Shared* shared, InputWalker* walker) {
    bool more = true;
    std::unique_lock<std::mutex> lock(shared->mutex);
    for (;;) {
        // What was searched is closed here, without the lock held.
        while (!shared->toClose.empty()) {
            std::vector<int> fds;
            fds.swap(shared->toClose);
            lock.unlock();
            for (int fd : fds) ::close(fd);
            lock.lock();
        }
        if (shared->stop) return;
        if (more && shared->ready.size() < kOpenAhead) {
            lock.unlock();
            Opened opened;
            more = walker->Next(opened.input);  // its errors are queued meanwhile
            if (more) Open(opened);
            lock.lock();
            if (more)
                shared->ready.push_back(std::move(opened));
            else
                shared->walked = true;
            if (shared->searchWaits) shared->changed.notify_all();
            continue;
        }
        shared->changed.wait(lock, [&] {
            return shared->stop || shared->toClose.size() >= kCloseBatch ||
                   (more && shared->ready.size() <= kOpenAhead / 2);
        });
    }
}

InputOpener::InputOpener(InputWalker& walker, bool ahead) : walker_(walker) {
    if (!ahead) {
        walker_.SetReport([this](const std::string& path, int error) {
            pending_.push_back({{path, path, false, 0, -1, ""}, -1, error});
        });
        return;
    }
    shared_ = std::make_unique<Shared>();
    Shared* shared = shared_.get();
    walker_.SetReport([shared](const std::string& path, int error) {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->ready.push_back({{path, path, false, 0, -1, ""}, -1, error});
        if (shared->searchWaits) shared->changed.notify_all();
    });
    shared_->thread = std::thread(Run, shared, &walker_);
}

InputOpener::~InputOpener() {
    if (!shared_) return;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->stop = true;
        shared_->changed.notify_all();
    }
    shared_->thread.join();
    for (Opened& opened : shared_->ready)
        if (opened.fd > 0) ::close(opened.fd);
    for (int fd : shared_->toClose) ::close(fd);
}

bool InputOpener::Next(Opened& opened) {
    if (!shared_) {
        if (pending_.empty() && !walked_) {
            Opened next;
            if (walker_.Next(next.input)) {
                Open(next);
                pending_.push_back(std::move(next));  // behind the walk's errors met on the way
            } else {
                walked_ = true;
            }
        }
        if (pending_.empty()) return false;
        opened = std::move(pending_.front());
        pending_.pop_front();
        return true;
    }
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->searchWaits = true;
    shared_->changed.wait(lock, [&] { return !shared_->ready.empty() || shared_->walked; });
    shared_->searchWaits = false;
    if (shared_->ready.empty()) return false;
    opened = std::move(shared_->ready.front());
    shared_->ready.pop_front();
    if (shared_->ready.size() == kOpenAhead / 2) shared_->changed.notify_all();
    return true;
}

void InputOpener::Done(Opened& opened) {
    int fd = opened.input.standardInput ? -1 : opened.fd;
    opened.fd = -1;
    if (!shared_) {
        if (fd != -1) ::close(fd);
        return;
    }
    if (fd == -1) return;
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->toClose.push_back(fd);
    if (shared_->toClose.size() == kCloseBatch) shared_->changed.notify_all();
}
