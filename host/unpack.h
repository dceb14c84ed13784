// -z: compressed inputs (gzip, zstd, bzip2, xz, known by their first bytes)
// are decompressed on a thread of their own into a pipe that the search
// reads, so that the search hides behind the decompression.
#ifndef TALVERON_HOST_UNPACK_H
#define TALVERON_HOST_UNPACK_H

#include <cstddef>
#include <string>
#include <thread>

enum class Packing { kNone, kGzip, kZstd, kBzip2, kXz };

// The packing that the first bytes of an input tell (kNone for anything
// else, or fewer bytes than a magic number).
Packing PackingOf(const unsigned char* head, std::size_t length);
const char* PackingName(Packing packing);

// The bytes that tell a packing, at most.
constexpr std::size_t kPackingHead = 6;

class Unpacker {
public:
    Unpacker() = default;
    ~Unpacker();
    Unpacker(const Unpacker&) = delete;
    Unpacker& operator=(const Unpacker&) = delete;

    // Starts decompressing `fd` as `packing` (kNone: copied as it is), the
    // bytes `head` having been read from it already. False, with errno,
    // when no pipe or thread could be had.
    bool Start(int fd, std::string head, Packing packing);
    // The pipe's end that the search reads.
    int Output() const { return readEnd_; }
    // After the search: closes the pipe, waits for the thread. False when
    // the compressed stream was corrupt, cut short or could not be read;
    // `error` then says what and where.
    bool Finish(std::string& error);

private:
    void Run();

    int in_ = -1;
    std::string head_;
    Packing packing_ = Packing::kNone;
    int readEnd_ = -1, writeEnd_ = -1;
    std::thread thread_;
    std::string error_;  // set by the thread
};

#endif
