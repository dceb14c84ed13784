// Compressed data of every format and content coding that talveron reads
// (gzip, deflate, zstd, bzip2, xz, br) behind one interface, and the one
// loop that drives such a decoder over a ByteSource: it gives the decoder
// its room, lets members and frames follow one another, passes over the
// zero padding that a format allows behind them and tells what else lies
// there, and tells data cut short.
#ifndef TALVERON_READ_DECODER_H
#define TALVERON_READ_DECODER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "read/byte_source.h"

// The most memory that a decoder may take for its window or dictionary:
// 128 MiB unless set (zstd's own limit; xz's strongest preset needs half of
// it). Data that asks for more is refused, with what it needs. Set before
// any search begins.
constexpr std::uint64_t kDefaultMemoryBudget = std::uint64_t(128) << 20;
std::uint64_t MemoryBudget();
void SetMemoryBudget(std::uint64_t bytes);

class Decoder {
public:
    virtual ~Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    enum class Step {
        kMore,    // it wants more input, or more room if it filled `room`
        kEnd,     // a member or frame ended (`used` and `made` count to its end)
        kBroken,  // the data is corrupt
        kTooBig,  // the data asks for more than MemoryBudget()
    };
    // Decodes from `in` into `out`: `used` bytes of the `length` taken,
    // `made` of the `room` written (none when it breaks, where a library
    // tells nothing of what it wrote).
    virtual Step Decode(const unsigned char* in, std::size_t length, std::size_t& used, unsigned char* out,
                        std::size_t room, std::size_t& made) = 0;
    // Whether the bytes behind an end (`length` > 0 of them) begin another
    // member or frame; the decoder then starts on it.
    virtual bool Again(const unsigned char* in, std::size_t length) {
        (void)in, (void)length;
        return false;
    }
    // Zero bytes let pass behind an end, in runs of a multiple of this (0:
    // none).
    virtual std::size_t Padding() const { return 0; }
    // The most room that one call is given.
    virtual std::size_t MaxRoom() const { return std::size_t(1) << 30; }
    // After kTooBig: the memory the data asks for, 0 when not known.
    virtual std::uint64_t MemoryNeeded() const { return 0; }
    // "gzip", "deflate", "zstd", "bzip2", "xz", "br".
    const char* Name() const { return name_; }

protected:
    explicit Decoder(const char* name) : name_(name) {}

private:
    const char* name_;
};

// The decoders; null when the library's state could not be had. gzip comes
// twice: through ISA-L, some three times as fast as zlib (the -z files),
// and through zlib (an HTTP body's content coding, and deflate with its
// zlib wrapper or without, as some servers send it).
std::unique_ptr<Decoder> NewIsalGzipDecoder();
std::unique_ptr<Decoder> NewZlibDecoder(bool gzip);
std::unique_ptr<Decoder> NewZstdDecoder();
std::unique_ptr<Decoder> NewBzip2Decoder();
std::unique_ptr<Decoder> NewXzDecoder();
std::unique_ptr<Decoder> NewBrotliDecoder();

// A decoder run over the compressed bytes of `in`, read `inputSize` at a
// time, whose decoded bytes are read as from a ByteSource.
class Decoding {
public:
    enum class Fault {
        kNone,
        kRead,      // `in` failed (errno)
        kCorrupt,   // the decoder broke
        kCutShort,  // the input ended inside a member or frame
        kTrailing,  // bytes behind an end that begin no member or frame
        kTooBig,    // the data asks for more than MemoryBudget()
    };

    // `offset`: where `in` begins in the compressed input.
    Decoding(Decoder& decoder, ByteSource& in, std::size_t inputSize, long long offset = 0);
    ~Decoding();
    Decoding(const Decoding&) = delete;
    Decoding& operator=(const Decoding&) = delete;

    // Called where a member or frame ends, with Offset() behind it: false
    // ends the decoding there.
    void OnEnd(std::function<bool(long long)> onEnd) { onEnd_ = std::move(onEnd); }

    // Up to `size` decoded bytes into `buffer`: their count; 0 at the end;
    // -1 at a fault (the bytes decoded before it come first), and again
    // on every call after it.
    long Read(unsigned char* buffer, std::size_t size);
    Fault Failed() const { return fault_; }
    // Where the decoding stands in the compressed input: at a fault, where
    // it was met.
    long long Offset() const { return offset_; }
    const char* Name() const { return decoder_.Name(); }
    // At kTooBig: what the data needs, said as "needs 2048 MiB of memory,
    // more than the 128 MiB allowed".
    std::string TooBig() const;

private:
    Decoder& decoder_;
    ByteSource& in_;
    std::unique_ptr<unsigned char[]> input_;
    std::size_t inputSize_, pos_ = 0, length_ = 0;
    long long offset_;
    std::function<bool(long long)> onEnd_;
    bool full_ = false;      // the last call filled its room: the decoder may hold more
    bool inMember_ = false;  // a member or frame has begun and not ended
    bool ended_ = false;     // one has ended: what follows is another or padding
    std::size_t zeros_ = 0;  // padding behind the last end
    bool done_ = false;
    Fault fault_ = Fault::kNone;
    int errno_ = 0;
};

#endif
