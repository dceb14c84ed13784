#include "inputs.h"

#include "talveron.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool MatchesAny(const std::vector<std::string>& globs, const std::string& base) {
    for (const std::string& glob : globs)
        if (::fnmatch(glob.c_str(), base.c_str(), 0) == 0) return true;
    return false;
}

std::string BaseName(const std::string& path) {
    std::size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return path;
    std::size_t slash = path.rfind('/', end);
    return path.substr(slash == std::string::npos ? 0 : slash + 1, end - (slash == std::string::npos ? 0 : slash + 1) + 1);
}

}  // namespace

bool WalkFilter::InDefaultSet(const std::string& base) const {
    return talveron_name_kind(base.c_str(), compressedToo ? TALVERON_DECOMPRESS : 0) >= 0;
}

bool WalkFilter::FileWanted(const std::string& base) const {
    if (MatchesAny(excludes, base)) return false;
    if (!includes.empty()) return MatchesAny(includes, base);
    return allFiles || InDefaultSet(base);
}

bool WalkFilter::OperandWanted(const std::string& base) const {
    return !MatchesAny(excludes, base) && (includes.empty() || MatchesAny(includes, base));
}

bool WalkFilter::DirectoryWanted(const std::string& base) const { return !MatchesAny(excludeDirs, base); }

bool WalkFilter::NamedDirectoryWanted(const std::string& path) const {
    std::size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return DirectoryWanted(path);  // "/"
    std::string name = path.substr(0, end + 1);
    for (std::size_t at = 0; at != std::string::npos;) {
        if (!DirectoryWanted(name.substr(at))) return false;
        at = name.find('/', at);
        if (at != std::string::npos) at = name.find_first_not_of('/', at);
    }
    return true;
}

InputWalker::InputWalker(const std::vector<std::string>& operands, const WalkFilter& filter, Report report,
                         std::FILE* namesFile, bool namesFromStandardInput)
    : operands_(operands),
      namesFile_(namesFile),
      filter_(filter),
      namesFromStandardInput_(namesFromStandardInput),
      report_(std::move(report)) {
    for (const std::string& operand : operands_) {
        struct stat st;
        if (operand != "-" && ::stat(operand.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) walksDirectories_ = true;
    }
}

InputWalker::~InputWalker() {
    while (!levels_.empty()) Leave();
    std::free(name_);
}

void InputWalker::LeftOut(const char* base) {
    if (MatchesAny(filter_.excludes, base)) {
        ++tally_.excluded;
        return;
    }
    ++tally_.notInSet;
    // A compressed page of the default set's kinds, which -z would take.
    if (filter_.includes.empty() && !filter_.allFiles && !filter_.compressedToo &&
        talveron_name_kind(base, TALVERON_DECOMPRESS) >= 0)
        ++tally_.compressed;
}

void InputWalker::Leave() {
    levels_.pop_back();  // closed when no input of it is held any more
}

bool InputWalker::NextOperand(std::string& operand) {
    fromList_ = false;
    if (nextOperand_ < operands_.size()) {
        operand = operands_[nextOperand_++];
        return true;
    }
    if (!namesFile_ || namesError_) return false;
    errno = 0;
    ssize_t n = ::getdelim(&name_, &nameSize_, '\0', namesFile_);
    if (n <= 0) {
        // The end of the list, or a list that could not be read (a
        // directory, an I/O error): never taken for an empty list.
        if (std::ferror(namesFile_)) namesError_ = errno ? errno : EIO;
        return false;
    }
    if (name_[n - 1] == '\0') --n;
    operand.assign(name_, static_cast<std::size_t>(n));
    fromList_ = true;
    return true;
}

bool InputWalker::Descend(const std::string& directory) {
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) {
        if (report_) report_(directory, errno);
        return false;
    }
    Level level;
    level.path = directory.back() == '/' ? directory : directory + "/";
    if (bareCurrentDirectory_ && levels_.empty() && directory == ".") level.path.clear();
    struct stat st;
    if (::fstat(::dirfd(dir), &st) == 0) {
        level.dev = st.st_dev;
        level.ino = st.st_ino;
        // With -R, a link back to a directory on the way down is a loop.
        for (const Level& above : levels_) {
            if (above.dev == st.st_dev && above.ino == st.st_ino) {
                ::closedir(dir);
                if (report_) report_(directory, ELOOP);
                return false;
            }
        }
    }
    // The end of a directory and a failed read of it both return null: only
    // errno, cleared before each call, tells them apart.
    int error = 0;
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(dir);
        if (!entry) {
            error = errno;
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        // Known at once (most file systems tell the type): links, and files
        // that are not pages, are left out here.
        unsigned char type = entry->d_type;
        if (type == DT_LNK && !filter_.followLinks) {
            ++tally_.links;
            continue;
        }
        if (type == DT_REG && !filter_.FileWanted(entry->d_name)) {
            LeftOut(entry->d_name);
            continue;
        }
        if (type == DT_DIR && !filter_.DirectoryWanted(entry->d_name)) {
            ++tally_.excludedDirs;
            continue;
        }
        if (type != DT_REG && type != DT_DIR && type != DT_LNK && type != DT_UNKNOWN) {
            ++tally_.others;
            continue;
        }
        level.entries.push_back({entry->d_name, type, static_cast<unsigned long long>(entry->d_ino)});
    }
    if (error) {
        // Named, and the walk goes on; the entries read before the failure
        // are searched, unless the directory is to be walked again whole.
        if (report_) report_(directory, error);
        if (wholeDirectoriesOnly_) {
            ::closedir(dir);
            return false;
        }
    }
    level.dir = std::shared_ptr<DIR>(dir, ::closedir);  // kept open: its files are opened relative to it
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
            if (type == DT_UNKNOWN || type == DT_LNK) {
                // Links are looked through only with -R (else they were
                // left out at the listing, or here when the type was not told).
                struct stat st;
                if (::lstat(path.c_str(), &st) != 0) continue;  // gone since it was listed
                if (S_ISLNK(st.st_mode)) {
                    if (!filter_.followLinks) {
                        ++tally_.links;
                        continue;
                    }
                    if (::stat(path.c_str(), &st) != 0) {  // a link to nothing, told as grep -R tells it
                        if (report_) report_(path, errno);
                        continue;
                    }
                }
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
                if (type == DT_UNKNOWN) {
                    ++tally_.others;
                    continue;
                }
                if (type == DT_DIR && !filter_.DirectoryWanted(entry.name)) {
                    ++tally_.excludedDirs;
                    continue;
                }
                if (type == DT_REG && !filter_.FileWanted(entry.name)) {
                    LeftOut(entry.name.c_str());
                    continue;
                }
            }
            if (type == DT_DIR) {
                Descend(path);
                continue;
            }
            input = {path, path, false, inode, ::dirfd(level.dir.get()), entry.name, true, "", level.dir};
            input.below = levels_.front().path.size();
            return true;
        }
        std::string operand;
        if (!NextOperand(operand)) return false;
        if (operand == "-") {
            input = {"-", "(standard input)", true, 0, -1, "", false, "", nullptr};
            if (namesFromStandardInput_ && fromList_)
                input.refusal = "when reading file names from standard input, no file name of '-' allowed";
            return true;
        }
        // A named input is followed through links; a directory is walked;
        // anything else is handed on, and opening it tells what is wrong.
        struct stat st;
        if (::stat(operand.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (!(bareCurrentDirectory_ && operand == ".") && !filter_.NamedDirectoryWanted(operand))
                ++tally_.excludedDirs;
            else
                Descend(operand);
            continue;
        }
        if (!filter_.OperandWanted(BaseName(operand))) continue;
        input = {operand, operand, false, 0, -1, "", false, "", nullptr};
        return true;
    }
}

long long CountInputs(const std::vector<std::string>& operands, const WalkFilter& filter) {
    InputWalker walker(operands, filter, nullptr);
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
    std::exception_ptr failure;  // what ended the walk early
    std::thread thread;
};

// A named input that is not a regular file (a pipe, a device): opening it
// may wait for a writer, which must not keep the run waiting before that
// input's turn, or after the run has ended (-q).
bool InputOpener::MayWaitToOpen(const Input& input) {
    struct stat st;
    return !input.inWalk && !input.standardInput && input.refusal.empty() && ::stat(input.path.c_str(), &st) == 0 &&
           !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

void InputOpener::Open(Opened& opened, bool followLinks) {
    if (opened.input.standardInput) {
        opened.fd = 0;
        return;
    }
    const Input& input = opened.input;
    if (!input.inWalk) {
        // A named input is taken as it is: through a link, and a pipe will do.
        opened.fd = ::open(input.path.c_str(), O_RDONLY | O_CLOEXEC);
        opened.error = opened.fd == -1 ? errno : 0;
        return;
    }
    // Within a walk, relative to the directory (no look-up of the whole
    // path). The file may have been swapped since the directory was listed:
    // a link is not followed out of the walk (unless -R), a pipe does not
    // block the open, and only a regular file is searched.
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW);
    opened.fd = ::openat(input.directory, input.leaf.c_str(), flags);
    if (opened.fd == -1) {
        opened.error = errno;
        if (errno == ELOOP && !followLinks) {  // now a link
            opened.error = 0;
            opened.skipped = true;
        }
        return;
    }
}

// On the searching thread, which has less to do per file than the opening
// one: what was opened, and whether a walk's file is still a regular file.
void InputOpener::Check(Opened& opened) {
    if (opened.fd == -1 || ::fstat(opened.fd, &opened.st) != 0) return;
    if (opened.input.inWalk && !S_ISREG(opened.st.st_mode)) {
        ::close(opened.fd);
        opened.fd = -1;
        opened.skipped = true;
    }
}

void InputOpener::Run(Shared* shared, InputWalker* walker, bool followLinks) {
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
            if (more && MayWaitToOpen(opened.input))
                opened.unopened = true;  // opened in its turn, by the search
            else if (more)
                Open(opened, followLinks);
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

InputOpener::InputOpener(InputWalker& walker, bool ahead, bool followLinks, bool leaveWalks)
    : walker_(walker), followLinks_(followLinks), leaveWalks_(leaveWalks) {
    if (ahead) OpenAhead();
    if (shared_) return;
    walker_.SetReport([this](const std::string& path, int error) {
        pending_.push_back({{path, path, false, 0, -1, "", false, "", nullptr}, -1, error, false, {}});
    });
}

void InputOpener::OpenAhead() {
    shared_ = std::make_unique<Shared>();
    Shared* shared = shared_.get();
    walker_.SetReport([shared](const std::string& path, int error) {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->ready.push_back({{path, path, false, 0, -1, "", false, "", nullptr}, -1, error, false, {}});
        if (shared->searchWaits) shared->changed.notify_all();
    });
    try {
        shared->thread = std::thread([shared, walker = &walker_, followLinks = followLinks_] {
            try {
                Run(shared, walker, followLinks);
            } catch (...) {
                // The walk ends here; the search hears why when it comes.
                std::lock_guard<std::mutex> lock(shared->mutex);
                shared->failure = std::current_exception();
                shared->walked = true;
                shared->changed.notify_all();
            }
        });
    } catch (const std::system_error&) {
        shared_.reset();  // no thread to open ahead: the search's own thread opens
    }
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
                if ((leaveWalks_ && next.input.inWalk) || MayWaitToOpen(next.input))
                    next.unopened = true;
                else
                    Open(next, followLinks_);
                pending_.push_back(std::move(next));  // behind the walk's errors met on the way
            } else {
                walked_ = true;
            }
        }
        if (pending_.empty()) return false;
        opened = std::move(pending_.front());
        pending_.pop_front();
        if (!opened.unopened) Check(opened);
        return true;
    }
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->searchWaits = true;
    shared_->changed.wait(lock, [&] { return !shared_->ready.empty() || shared_->walked; });
    shared_->searchWaits = false;
    if (shared_->ready.empty() && shared_->failure) std::rethrow_exception(shared_->failure);
    if (shared_->ready.empty()) return false;
    opened = std::move(shared_->ready.front());
    shared_->ready.pop_front();
    if (shared_->ready.size() == kOpenAhead / 2) shared_->changed.notify_all();
    lock.unlock();
    Check(opened);
    return true;
}

void InputOpener::OpenNow(Opened& opened) const {
    opened.unopened = false;
    Open(opened, followLinks_);
    Check(opened);
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
