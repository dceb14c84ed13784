// -z: compressed inputs (gzip, zstd, bzip2, xz, known by their first bytes)
// are decompressed on a thread of their own, whose chunks the search reads,
// so that the search hides behind the decompression.
#ifndef TALVERON_READ_UNPACK_H
#define TALVERON_READ_UNPACK_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "read/byte_source.h"
#include <string>
#include <thread>

// The formats a compressed input comes in (read/probe.h tells which).
enum class Packing { kNone, kGzip, kZstd, kBzip2, kXz };

class Unpacker final : public ByteSource {
public:
    Unpacker();
    ~Unpacker();
    Unpacker(const Unpacker&) = delete;
    Unpacker& operator=(const Unpacker&) = delete;

    // Starts decompressing `in` as `packing` (kNone: copied as it is).
    // False, with errno, when no thread or memory could be had.
    bool Start(ByteSource& in, Packing packing);
    // Starts decompressing gzip data that fills the regular file open on
    // `fd` (`size` bytes from offset 0, read at offsets). Its members are
    // decompressed on several threads at once: the file is cut into
    // segments, each begun at a member's start found in it, and a
    // segment's output counts once the segment before ends exactly there
    // (else that segment goes on alone to the end).
    bool StartFile(int fd, long long size);
    // Compressed bytes per segment (tests make them small).
    void SetSegmentSize(long long bytes) { segmentSize_ = bytes; }
    // The least size that StartFile is worth it for.
    static constexpr long long kSegmentSize = 512 * 1024;

    // Up to `size` decompressed bytes into `buffer`: their count, 0 at the
    // end of what could be decompressed. One reader at a time.
    long Read(unsigned char* buffer, std::size_t size) override;
    // After the search: stops the threads if they are still at work and
    // waits for them. False when the compressed data was corrupt, cut short
    // or could not be read; `error` then says what and where.
    bool Finish(std::string& error);

    // A part of the output, decompressed by one thread.
    struct Segment;
    // The decompressing threads' side: where a segment's decoder writes
    // next (null once its output is not wanted any more), how many bytes it
    // wrote, and that its last member ran past the segment's end.
    unsigned char* Room(Segment& segment, std::size_t& room);
    void Commit(Segment& segment, std::size_t length);
    void Overran(Segment& segment);

private:
    void RunStream();
    void RunSegments();
    Segment* TakeSegment();
    long long MemberStart(std::size_t k);
    void Deliver(Segment& segment);
    void Done(Segment& segment, const std::string& error);

    // The decompressed bytes go from the threads to the search in chunks,
    // so that each side works on one while the other works on the next.
    // Chunks of a MiB keep up with the decoder where a quarter of that falls
    // some 5% behind it (a decoder that starts on new room often costs).
    // Segments whose turn has not come hold all but two of them at most, so
    // that the segment being read always has room.
    static constexpr std::size_t kChunkSize = 1024 * 1024;
    static constexpr std::size_t kChunks = 6;
    struct Chunk {
        unsigned char* bytes = nullptr;
        std::size_t length = 0, used = 0;
    };
    class Chunks;

    ByteSource* in_ = nullptr;
    Packing packing_ = Packing::kNone;
    int fd_ = -1;
    long long size_ = 0;
    long long segmentSize_ = kSegmentSize;
    std::vector<std::thread> threads_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::unique_ptr<unsigned char[]> chunks_[kChunks];
    std::size_t allocated_ = 0;
    std::size_t inUse_ = 0;                // chunks given to segments, not handed back
    std::vector<unsigned char*> free_;
    std::deque<std::unique_ptr<Segment>> segments_;  // in order; the first is being read
    std::size_t taken_ = 0;                // segments given to threads
    std::size_t count_ = SIZE_MAX;         // segments in all, once known
    std::size_t discardFrom_ = SIZE_MAX;   // segments from here on are not wanted
    std::vector<long long> starts_;        // each segment's member start: -2 unknown, -1 none
    bool closed_ = false;                  // the search reads no more
    std::string error_;
    Chunk reading_;
    std::size_t readIndex_ = 0;            // the segment being read
};

#endif
