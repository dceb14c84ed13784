// --rejected=FILE: every address that became no record, with its input, the
// offset of its anchor and why, one per line:
//   INPUT:OFFSET: excluded by keyword N (WORD): ADDRESS
//   INPUT:OFFSET: longer than 499 bytes: ADDRESS
//   INPUT:OFFSET: unfinished at end of input: ADDRESS
// Bytes of the address and the word outside 0x21..0x7E, and the backslash,
// are shown as \xNN.
#ifndef TALVERON_HOST_REJECTED_H
#define TALVERON_HOST_REJECTED_H

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/replaced_file.h"

class RejectedFile {
public:
    RejectedFile() = default;
    ~RejectedFile();
    RejectedFile(const RejectedFile&) = delete;
    RejectedFile& operator=(const RejectedFile&) = delete;

    // False, with a diagnostic shown, when FILE cannot be opened. It is
    // written as a ReplacedFile: a regular FILE is replaced only at Close,
    // never emptied before the inputs are read.
    bool Open(const std::string& path);
    // True when the file behind `st` is FILE as it was when the run began.
    // FILE as it was when the run began, when it is a regular file.
    const Destination& Where() const { return destination_; }
    bool IsOpen() const { return file_ != nullptr; }
    void Add(const std::string& input, int reason, int keyword, long long offset, const char* address,
             std::size_t length, const std::vector<std::string>& keywords);
    // With `commit`, the temporary file replaces FILE; else it is removed
    // and FILE left as it was (as -o does when not every input was
    // searched). False, with a diagnostic shown, when a write failed.
    bool Close(bool commit = true);

private:
    void PutEscaped(const char* bytes, std::size_t length);

    std::FILE* file_ = nullptr;
    std::string path_;
    ReplacedFile replaced_;
    Destination destination_;
};

#endif
