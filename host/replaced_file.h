// A file that a run writes (--output=FILE, --rejected=FILE), and the
// identity of the files a run writes.
//
// A regular file, or a new one, is written as a temporary file beside it
// that replaces it when the run commits it, so that it never holds half a
// run (a signal that ends the run removes the temporary file). Behind a
// link, the temporary file lies beside the link's target and replaces the
// target; the link stays. A file whose owner this user cannot keep, or
// that has other hard links, or that lies in a directory this user cannot
// write, is written into at the end instead (from a temporary file elsewhere
// when need be), so that it keeps its owner, links and place. A file that a
// shell's > could not write is refused. A device, a pipe or /dev/stdout is written
// directly: /dev/stdout, /dev/stderr and /dev/fd/N through the descriptor
// already open, never by a second open of the file behind it (which would
// write from its start over what the descriptor wrote).
#ifndef TALVERON_HOST_REPLACED_FILE_H
#define TALVERON_HOST_REPLACED_FILE_H

#include <sys/stat.h>

#include <string>

// What a path or descriptor names, to tell whether two names are one file.
struct FileIdentity {
    bool exists = false;
    bool regular = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string resolved;  // a file not yet made: its absolute path
    int descriptor = -1;   // /dev/stdout and the like: the descriptor named

    static FileIdentity OfPath(const std::string& path);
    static FileIdentity OfDescriptor(int fd);
    bool SameAs(const FileIdentity& other) const;
};

// The descriptor that /dev/stdout, /dev/stderr, /dev/fd/N or
// /proc/self/fd/N names, or -1.
int AliasedDescriptor(const std::string& path);

// Where a run writes, as regular files: an input that is one of them is
// not read (it would read the run's own output, or be replaced by it).
class Destination {
public:
    void Take(const struct stat& st) { Add(files_, st); }
    void TakeTemporary(const struct stat& st) { Add(temporaries_, st); }
    // True when the file behind `st` is one of the files written.
    bool Is(const struct stat& st) const { return In(files_, st); }
    // True when it is a temporary file of the run, which a walk passes by.
    bool IsTemporary(const struct stat& st) const { return In(temporaries_, st); }

private:
    struct Files {
        struct stat st[4];
        int count = 0;
    };
    static void Add(Files& files, const struct stat& st) {
        if (S_ISREG(st.st_mode) && files.count < 4) files.st[files.count++] = st;
    }
    static bool In(const Files& files, const struct stat& st) {
        for (int i = 0; i < files.count; ++i)
            if (st.st_dev == files.st[i].st_dev && st.st_ino == files.st[i].st_ino) return true;
        return false;
    }
    Files files_, temporaries_;
};

class ReplacedFile {
public:
    ReplacedFile() = default;
    ~ReplacedFile() { Discard(); }
    ReplacedFile(const ReplacedFile&) = delete;
    ReplacedFile& operator=(const ReplacedFile&) = delete;

    // The descriptor to write, or -1 (errno set). `where` learns the files.
    int Open(const std::string& path, Destination& where);
    // Closes the descriptor; a temporary file replaces the file, with the
    // mode and owner the file had. False (errno set) when the close or the
    // rename failed; the file is then as it was.
    bool Commit();
    // Closes the descriptor; a temporary file is removed.
    void Discard();
    // True when the file is written directly (what was written stays).
    bool Direct() const { return direct_; }

private:
    bool CopyBack();
    int fd_ = -1;
    bool ownsFd_ = false;
    bool direct_ = true;
    bool copyBack_ = false;  // written into the file at the end instead of renamed over it
    std::string target_, temporary_;
    int slot_ = -1;  // the temporary file's slot for the signal handler
};

#endif
