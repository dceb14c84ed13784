// A file that a run writes whole (-o FILE, --rejected=FILE). A regular file,
// or a new one, is written as a temporary file beside it that replaces it
// only when the run commits it, so that it changes all at once or not at all
// (a signal that ends the run removes the temporary file). Anything else is
// written through as it is and never replaced: a link (/dev/stderr, or a link
// to a file elsewhere) after what its file holds, a device or a pipe as it
// comes.
#ifndef TALVERON_HOST_REPLACED_FILE_H
#define TALVERON_HOST_REPLACED_FILE_H

#include <sys/stat.h>

#include <string>

// Where a run writes, as a file: an input that is this file is not read (it
// would read the run's own output, or be replaced by it). Only a regular file
// counts.
class Destination {
public:
    // The file behind `path`, or behind descriptor `fd` when `path` is null.
    void Take(const char* path, int fd = -1) {
        known_ = (path ? ::stat(path, &st_) : ::fstat(fd, &st_)) == 0 && S_ISREG(st_.st_mode);
    }
    // False when an input of this inode number (0: not known) cannot be the
    // file, so that it need not be looked at.
    bool MayBe(unsigned long long inode) const { return known_ && (inode == 0 || inode == st_.st_ino); }
    bool Is(const struct stat& st) const { return known_ && st.st_dev == st_.st_dev && st.st_ino == st_.st_ino; }

private:
    bool known_ = false;
    struct stat st_ {};
};

class ReplacedFile {
public:
    ReplacedFile() = default;
    ~ReplacedFile() { Discard(); }
    ReplacedFile(const ReplacedFile&) = delete;
    ReplacedFile& operator=(const ReplacedFile&) = delete;

    // The descriptor to write, or -1 (errno set).
    int Open(const std::string& path);
    // Closes the descriptor; with a temporary file, it replaces the file.
    // False (errno set) when the close or the rename failed.
    bool Commit();
    // Closes the descriptor; a temporary file is removed.
    void Discard();

private:
    int fd_ = -1;
    std::string path_, temporary_;
    int slot_ = -1;  // of the temporary file's name, for the signal handler
};

#endif
