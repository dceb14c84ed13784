// --rejected=FILE: every address that became no record, with its input, the
// offset of its anchor and why, one per line:
//   INPUT:OFFSET: excluded by keyword N (WORD): ADDRESS
//   INPUT:OFFSET: longer than 499 bytes: ADDRESS
//   INPUT:OFFSET: unfinished at end of input: ADDRESS
// Bytes of the address and the word outside 0x21..0x7E, and the backslash,
// are shown as \xNN. Lines leave whole, so that FILE may be the file the
// records go to (/dev/stdout, or /dev/stderr with 2>&1): then they go out
// through the records' own stream, in order with them.
#ifndef TALVERON_HOST_REJECTED_H
#define TALVERON_HOST_REJECTED_H

#include <string>
#include <vector>

#include "replaced_file.h"

class Output;

class RejectedFile {
public:
    RejectedFile() = default;
    ~RejectedFile();
    RejectedFile(const RejectedFile&) = delete;
    RejectedFile& operator=(const RejectedFile&) = delete;

    // False, with a diagnostic shown, when FILE cannot be opened. It is
    // written as a ReplacedFile: a regular FILE is replaced only at Close,
    // never emptied before the inputs are read. `where` learns its files.
    bool Open(const std::string& path, Destination& where);
    // The lines go to `output`, which writes the file already.
    void OpenThrough(const std::string& path, Output* output);
    bool IsOpen() const { return open_; }
    void Add(const std::string& input, int reason, int keyword, long long offset, const char* address,
             std::size_t length, const std::vector<std::string>& keywords, std::size_t tooLong);
    // Writes out the lines gathered (at the end of an input, so that they
    // keep their place among the diagnostics of a terminal).
    void Flush() { WriteOut(); }
    // With `commit`, the temporary file replaces FILE; else it is removed
    // and FILE left as it was. False, with a diagnostic shown, when a write
    // failed.
    bool Close(bool commit = true);
    // True when what was written stays whatever Close does.
    bool Direct() const { return through_ || replaced_.Direct(); }

private:
    bool WriteOut();

    bool open_ = false;
    int fd_ = -1;
    Output* through_ = nullptr;
    bool failed_ = false;
    std::string path_;
    std::string pending_;  // whole lines not yet written
    ReplacedFile replaced_;
};

#endif
