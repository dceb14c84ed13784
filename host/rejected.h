// --rejected=FILE: every address that became no record, with its input, the
// offset of its anchor and why, one per line:
//   INPUT:OFFSET: excluded by keyword N (WORD): ADDRESS
//   INPUT:OFFSET: longer than 499 bytes: ADDRESS
//   INPUT:OFFSET: unfinished at end of input: ADDRESS
// Bytes of the address outside 0x21..0x7E, and the backslash, are shown as
// \xNN.
#ifndef TALVERON_HOST_REJECTED_H
#define TALVERON_HOST_REJECTED_H

#include <cstdio>
#include <string>
#include <vector>

class RejectedFile {
public:
    RejectedFile() = default;
    ~RejectedFile();
    RejectedFile(const RejectedFile&) = delete;
    RejectedFile& operator=(const RejectedFile&) = delete;

    // False, with a diagnostic shown, when FILE cannot be created.
    bool Open(const std::string& path);
    bool IsOpen() const { return file_ != nullptr; }
    void Add(const std::string& input, int reason, int keyword, long long offset, const char* address,
             std::size_t length, const std::vector<std::string>& keywords);
    // False, with a diagnostic shown, when a write failed.
    bool Close();

private:
    std::FILE* file_ = nullptr;
    std::string path_;
};

#endif
