// -z: compressed inputs (gzip, zstd, bzip2, xz, known by their first bytes)
// are decompressed on a thread of their own, whose chunks the search reads,
// so that the search hides behind the decompression.
#ifndef TALVERON_HOST_UNPACK_H
#define TALVERON_HOST_UNPACK_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "byte_source.h"
#include <string>
#include <thread>

enum class Packing { kNone, kGzip, kZstd, kBzip2, kXz };

// The packing that the first bytes of an input tell (kNone for anything
// else, or fewer bytes than a magic number).
Packing PackingOf(const unsigned char* head, std::size_t length);
const char* PackingName(Packing packing);

// The bytes that tell a packing, at most.
constexpr std::size_t kPackingHead = 6;

class Unpacker final : public ByteSource {
public:
    Unpacker() = default;
    ~Unpacker();
    Unpacker(const Unpacker&) = delete;
    Unpacker& operator=(const Unpacker&) = delete;

    // Starts decompressing `in` as `packing` (kNone: copied as it is).
    // False, with errno, when no thread or memory could be had.
    bool Start(ByteSource& in, Packing packing);
    // Up to `size` decompressed bytes into `buffer`: their count, 0 at the
    // end of what could be decompressed. One reader at a time.
    long Read(unsigned char* buffer, std::size_t size) override;
    // After the search: stops the thread if it is still at work and waits
    // for it. False when the compressed stream was corrupt, cut short or
    // could not be read; `error` then says what and where.
    bool Finish(std::string& error);

    // The decompressing thread's side: where its decoder writes next (null
    // once the search has stopped reading), and how many bytes it wrote.
    unsigned char* Room(std::size_t& room);
    void Commit(std::size_t length);

private:
    void Run();
    void Deliver();

    // The decompressed bytes go from thread to search in a few chunks, so
    // that each side works on one while the other works on the next. Chunks
    // of a MiB keep up with the decoder where a quarter of that falls some
    // 5% behind it (a decoder that starts on new room often costs).
    static constexpr std::size_t kChunkSize = 1024 * 1024;
    static constexpr std::size_t kChunks = 4;
    struct Chunk {
        unsigned char* bytes = nullptr;
        std::size_t length = 0, used = 0;
    };

    ByteSource* in_ = nullptr;
    Packing packing_ = Packing::kNone;
    bool started_ = false;
    std::thread thread_;
    std::string error_;  // set by the thread
    std::unique_ptr<unsigned char[]> chunks_[kChunks];

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<unsigned char*> free_;
    std::deque<Chunk> full_;
    bool done_ = false;    // the thread has delivered everything
    bool closed_ = false;  // the search reads no more
    // The thread's chunk being filled, and the search's being read.
    unsigned char* filling_ = nullptr;
    std::size_t filled_ = 0;
    Chunk reading_;
};

#endif
