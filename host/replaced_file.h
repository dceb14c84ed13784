// A file that a run writes whole (-o FILE, --rejected=FILE). A regular file,
// or a new one, is written as a temporary file beside it that replaces it
// only when the run commits it, so that it changes all at once or not at all
// (a signal that ends the run removes the temporary file). Anything else is
// written through as it is and never replaced: a link (/dev/stderr, or a link
// to a file elsewhere) after what its file holds, a device or a pipe as it
// comes.
#ifndef TALVERON_HOST_REPLACED_FILE_H
#define TALVERON_HOST_REPLACED_FILE_H

#include <string>

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
