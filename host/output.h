// Where the records of a run go: standard output, or a file replaced all or
// nothing. Records arrive as the module makes them, each ended by the line
// end the run asked it for, and leave after the input's name when asked.
// They are gathered in buffers that a thread of their own writes, so that
// writing overlaps the search.
#ifndef TALVERON_HOST_OUTPUT_H
#define TALVERON_HOST_OUTPUT_H

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "replaced_file.h"

class Output {
public:
    Output() = default;
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Standard output when `file` is "", else `file` as a ReplacedFile (a
    // regular file replaced all at once at Finish). False, with a
    // diagnostic shown, when it cannot be opened. RecordCount() counts
    // records only when `countRecords` (or names are put before them).
    // `where` learns the regular files written.
    bool Open(const std::string& file, bool countRecords, Destination& where);

    // Adds whole lines that are not records (the names of -l, the counts of
    // -c, the lines of --rejected when they go to the same file), in order
    // with the records.
    bool Lines(const char* bytes, std::size_t length) {
        if (failed_) return false;
        Put(bytes, length);
        if (used_ >= kBufferSize / 2) Flush();
        return !failed_;
    }

    // Adds whole records, each ended by LF, each after `prefix` (may be
    // empty) and without its first `skip` bytes (with a prefix only). False
    // once a write has failed (the diagnostic is shown once).
    bool Records(const char* bytes, std::size_t length, const std::string& prefix, std::size_t skip = 0);

    // Hands what is buffered to the writing now (before the module waits
    // for a slow input). False once a write has failed.
    bool Push() {
        Flush();
        return !failed_;
    }

    // Writes out what is buffered and waits until it is written (before a
    // diagnostic goes to the same file). Does nothing on the writing
    // thread, whose own failure is said from there.
    void Sync();

    // Writes out what is buffered. For a file: with `commit`, the records
    // replace it; else a regular file is left as it was.
    // False when a write, the close or the rename failed.
    bool Finish(bool commit);
    // True when what was written stays whatever Finish does (standard
    // output, a device): nothing is "left unchanged".
    bool Direct() const { return name_.empty() || file_.Direct(); }

    bool Failed() const { return failed_; }
    long long RecordCount() const { return records_; }

private:
    struct Buffer {
        std::unique_ptr<char[]> bytes;
        std::size_t used;
    };
    void Put(const char* bytes, std::size_t length);
    void WriteOut(const char* bytes, std::size_t length);
    void Flush();
    void Fail(int error);
    void Write();  // the writing thread
    void StopWriting();

    int fd_ = 1;
    std::string name_;   // FILE, or "" for standard output
    ReplacedFile file_;
    bool countRecords_ = false;
    std::atomic<bool> failed_{false};
    bool finished_ = false;
    long long records_ = 0;
    static constexpr std::size_t kBufferSize = 256 * 1024;
    static constexpr std::size_t kBuffers = 3;
    char* buffer_ = nullptr;  // the one being filled
    std::size_t used_ = 0;
    Buffer current_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Buffer> full_;     // to write, in order
    std::size_t writing_ = 0;     // of them, taken by the writing thread and not yet written
    std::vector<Buffer> empty_;   // written
    bool stop_ = false;
    std::thread writer_;
};

#endif
