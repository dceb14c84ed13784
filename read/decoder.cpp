#include "read/decoder.h"

#include <brotli/decode.h>
#include <bzlib.h>
#include <isa-l/igzip_lib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

// Whether `in` begins as `magic` does, as far as it goes.
bool Begins(const unsigned char* in, std::size_t length, const char* magic, std::size_t magicLength) {
    return std::memcmp(in, magic, std::min(length, magicLength)) == 0;
}

class IsalGzip final : public Decoder {
public:
    IsalGzip() : Decoder("gzip") { Reset(); }

    Step Decode(const unsigned char* in, std::size_t length, std::size_t& used, unsigned char* out, std::size_t room,
                std::size_t& made) override {
        z_.next_in = const_cast<uint8_t*>(in);
        z_.avail_in = static_cast<uint32_t>(length);
        z_.next_out = out;
        z_.avail_out = static_cast<uint32_t>(room);
        int rc = isal_inflate(&z_);
        used = length - z_.avail_in;
        made = room - z_.avail_out;
        if (rc != ISAL_DECOMP_OK) return Step::kBroken;
        return z_.block_state == ISAL_BLOCK_FINISH ? Step::kEnd : Step::kMore;
    }
    bool Again(const unsigned char* in, std::size_t length) override {
        if (!Begins(in, length, "\x1f\x8b", 2)) return false;
        isal_inflate_reset(&z_);
        z_.crc_flag = ISAL_GZIP;
        return true;
    }
    // Zero bytes behind the last member (a tape's or a tar's padding) are
    // let pass, as gzip does.
    std::size_t Padding() const override { return 1; }
    std::size_t MaxRoom() const override { return UINT32_MAX; }

private:
    void Reset() {
        isal_inflate_init(&z_);
        z_.crc_flag = ISAL_GZIP;
    }
    inflate_state z_;
};

// gzip, and deflate with its zlib wrapper or without.
class Zlib final : public Decoder {
public:
    explicit Zlib(bool gzip) : Decoder(gzip ? "gzip" : "deflate"), gzip_(gzip) {}
    ~Zlib() override {
        if (begun_) inflateEnd(&z_);
    }

    Step Decode(const unsigned char* in, std::size_t length, std::size_t& used, unsigned char* out, std::size_t room,
                std::size_t& made) override {
        made = 0;
        if (!begun_) {
            // Whether deflate comes in its wrapper, its first two bytes tell;
            // the first is kept until the second comes.
            if (!kept_ && length == 1) {
                first_ = in[0];
                kept_ = true;
                used = 1;
                return Step::kMore;
            }
            unsigned head = kept_ ? (first_ << 8) | in[0] : (in[0] << 8) | in[1];
            bool wrapped = (head & 0x0f00) == 0x0800 && head % 31 == 0;
            if (inflateInit2(&z_, gzip_ ? 15 + 16 : wrapped ? 15 : -15) != Z_OK) return Step::kBroken;
            begun_ = true;
            if (kept_) {
                // Too little to write anything: it joins the decoder's bits.
                z_.next_in = &first_;
                z_.avail_in = 1;
                z_.next_out = out;
                z_.avail_out = static_cast<uInt>(room);
                if (inflate(&z_, Z_NO_FLUSH) != Z_OK || z_.avail_in != 0) return Step::kBroken;
            }
        }
        z_.next_in = const_cast<unsigned char*>(in);
        z_.avail_in = static_cast<uInt>(length);
        z_.next_out = out;
        z_.avail_out = static_cast<uInt>(room);
        int rc = inflate(&z_, Z_NO_FLUSH);
        used = length - z_.avail_in;
        made = room - z_.avail_out;
        if (rc == Z_STREAM_END) return Step::kEnd;
        return rc == Z_OK || rc == Z_BUF_ERROR ? Step::kMore : Step::kBroken;
    }
    bool Again(const unsigned char* in, std::size_t length) override {
        return gzip_ && Begins(in, length, "\x1f\x8b", 2) && inflateReset(&z_) == Z_OK;
    }
    std::size_t Padding() const override { return gzip_ ? 1 : 0; }

private:
    bool gzip_;
    bool begun_ = false, kept_ = false;
    unsigned char first_ = 0;
    z_stream z_ = {};
};

class Zstd final : public Decoder {
public:
    explicit Zstd(ZSTD_DStream* d) : Decoder("zstd"), d_(d) {}
    ~Zstd() override { ZSTD_freeDStream(d_); }

    Step Decode(const unsigned char* in, std::size_t length, std::size_t& used, unsigned char* out, std::size_t room,
                std::size_t& made) override {
        // A frame's window is looked at before zstd takes it: the budget
        // holds to the byte, and what it needs is said.
        if (frameStart_) {
            frameStart_ = false;
            std::uint64_t window = Window(in, length);
            if (window > MemoryBudget()) {
                needed_ = window;
                used = made = 0;
                return Step::kTooBig;
            }
        }
        ZSTD_inBuffer input = {in, length, 0};
        ZSTD_outBuffer output = {out, room, 0};
        std::size_t rc = ZSTD_decompressStream(d_, &output, &input);
        used = input.pos;
        made = 0;
        if (ZSTD_isError(rc)) {
            if (ZSTD_getErrorCode(rc) != ZSTD_error_frameParameter_windowTooLarge) return Step::kBroken;
            needed_ = Window(in, length);
            return Step::kTooBig;
        }
        made = output.pos;
        if (rc == 0) frameStart_ = true;
        return rc == 0 ? Step::kEnd : Step::kMore;
    }
    // The decoder takes what follows a frame as the next one, or says.
    bool Again(const unsigned char*, std::size_t) override { return true; }
    // A call that meets damage tells nothing of what it wrote: each call is
    // given a block's worth of room, as zstd's own tool does, so that what
    // came before the damaged block stands.
    std::size_t MaxRoom() const override { return ZSTD_DStreamOutSize(); }
    std::uint64_t MemoryNeeded() const override { return needed_; }

private:
    // The window that a frame whose header begins at `in` asks for: its
    // Window_Descriptor (an exponent and eighths), or for a single segment
    // its content size, behind its dictionary ID. 0 when not told here.
    static std::uint64_t Window(const unsigned char* in, std::size_t length) {
        if (length < 6 || !Begins(in, length, "\x28\xb5\x2f\xfd", 4)) return 0;
        unsigned char descriptor = in[4];
        if (!(descriptor & 0x20)) {
            std::uint64_t base = std::uint64_t(1) << (10 + (in[5] >> 3));
            return base + base / 8 * (in[5] & 7);
        }
        static const unsigned kDictionaryBytes[4] = {0, 1, 2, 4}, kSizeBytes[4] = {1, 2, 4, 8};
        std::size_t at = 5 + kDictionaryBytes[descriptor & 3];
        unsigned bytes = kSizeBytes[descriptor >> 6];
        if (length < at + bytes) return 0;
        std::uint64_t size = 0;
        for (unsigned k = bytes; k-- > 0;) size = size << 8 | in[at + k];
        return bytes == 2 ? size + 256 : size;
    }

    ZSTD_DStream* d_;
    std::uint64_t needed_ = 0;
    bool frameStart_ = true;
};

class Bzip2 final : public Decoder {
public:
    Bzip2() : Decoder("bzip2") {}
    ~Bzip2() override {
        if (begun_) BZ2_bzDecompressEnd(&b_);
    }
    bool Begin() { return begun_ = BZ2_bzDecompressInit(&b_, 0, 0) == BZ_OK; }

    Step Decode(const unsigned char* in, std::size_t length, std::size_t& used, unsigned char* out, std::size_t room,
                std::size_t& made) override {
        b_.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
        b_.avail_in = static_cast<unsigned>(std::min<std::size_t>(length, UINT32_MAX));
        b_.next_out = reinterpret_cast<char*>(out);
        b_.avail_out = static_cast<unsigned>(room);
        unsigned before = b_.avail_in;
        int rc = begun_ ? BZ2_bzDecompress(&b_) : BZ_MEM_ERROR;
        used = before - b_.avail_in;
        made = room - b_.avail_out;
        if (rc == BZ_STREAM_END) return Step::kEnd;
        return rc == BZ_OK ? Step::kMore : Step::kBroken;
    }
    // Another stream may follow (as pbzip2 writes them).
    bool Again(const unsigned char* in, std::size_t length) override {
        if (!Begins(in, length, "BZh", 3)) return false;
        if (begun_) BZ2_bzDecompressEnd(&b_);
        b_ = {};
        Begin();
        return true;
    }

private:
    bz_stream b_ = {};
    bool begun_ = false;
};

class Xz final : public Decoder {
public:
    Xz() : Decoder("xz") {}
    ~Xz() override { lzma_end(&x_); }
    bool Begin() { return lzma_stream_decoder(&x_, MemoryBudget(), 0) == LZMA_OK; }
    // After LZMA_MEMLIMIT_ERROR, what the stream's dictionary needs.
    std::uint64_t MemoryNeeded() const override { return lzma_memusage(&x_); }

    Step Decode(const unsigned char* in, std::size_t length, std::size_t& used, unsigned char* out, std::size_t room,
                std::size_t& made) override {
        x_.next_in = in;
        x_.avail_in = length;
        x_.next_out = out;
        x_.avail_out = room;
        lzma_ret rc = lzma_code(&x_, LZMA_RUN);
        used = length - x_.avail_in;
        made = room - x_.avail_out;
        switch (rc) {
            case LZMA_OK:
            case LZMA_BUF_ERROR: return Step::kMore;
            case LZMA_STREAM_END: return Step::kEnd;
            case LZMA_MEMLIMIT_ERROR: return Step::kTooBig;
            default: return Step::kBroken;
        }
    }
    // Streams may follow one another, with padding of four zero bytes at a
    // time between them and behind the last.
    bool Again(const unsigned char* in, std::size_t length) override {
        return Begins(in, length, "\xfd" "7zXZ\0", 6) && Begin();
    }
    std::size_t Padding() const override { return 4; }

private:
    lzma_stream x_ = LZMA_STREAM_INIT;
};

class Brotli final : public Decoder {
public:
    explicit Brotli(BrotliDecoderState* b) : Decoder("br"), b_(b) {}
    ~Brotli() override { BrotliDecoderDestroyInstance(b_); }

    Step Decode(const unsigned char* in, std::size_t length, std::size_t& used, unsigned char* out, std::size_t room,
                std::size_t& made) override {
        std::size_t inLeft = length, outLeft = room;
        const uint8_t* next = in;
        uint8_t* to = out;
        BrotliDecoderResult rc = BrotliDecoderDecompressStream(b_, &inLeft, &next, &outLeft, &to, nullptr);
        used = length - inLeft;
        made = room - outLeft;
        if (rc == BROTLI_DECODER_RESULT_ERROR) return Step::kBroken;
        return rc == BROTLI_DECODER_RESULT_SUCCESS ? Step::kEnd : Step::kMore;
    }

private:
    BrotliDecoderState* b_;
};

}  // namespace

std::unique_ptr<Decoder> NewIsalGzipDecoder() { return std::unique_ptr<Decoder>(new (std::nothrow) IsalGzip); }

std::unique_ptr<Decoder> NewZlibDecoder(bool gzip) { return std::unique_ptr<Decoder>(new (std::nothrow) Zlib(gzip)); }

std::unique_ptr<Decoder> NewZstdDecoder() {
    ZSTD_DStream* d = ZSTD_createDStream();
    if (!d) return nullptr;
    int windowLog = 0;
    // The window's power of two at or above the budget: a window between
    // the budget and it is refused by the frame's header, read first.
    while (windowLog < 31 && (std::uint64_t(1) << windowLog) < MemoryBudget()) ++windowLog;
    ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, windowLog);
    std::unique_ptr<Decoder> decoder(new (std::nothrow) Zstd(d));
    if (!decoder) ZSTD_freeDStream(d);
    return decoder;
}

std::unique_ptr<Decoder> NewBzip2Decoder() {
    std::unique_ptr<Bzip2> decoder(new (std::nothrow) Bzip2);
    if (!decoder || !decoder->Begin()) return nullptr;
    return decoder;
}

std::unique_ptr<Decoder> NewXzDecoder() {
    std::unique_ptr<Xz> decoder(new (std::nothrow) Xz);
    if (!decoder || !decoder->Begin()) return nullptr;
    return decoder;
}

std::unique_ptr<Decoder> NewBrotliDecoder() {
    BrotliDecoderState* b = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
    if (!b) return nullptr;
    std::unique_ptr<Decoder> decoder(new (std::nothrow) Brotli(b));
    if (!decoder) BrotliDecoderDestroyInstance(b);
    return decoder;
}

namespace {
std::atomic<std::uint64_t> s_memoryBudget{kDefaultMemoryBudget};
}  // namespace

std::uint64_t MemoryBudget() { return s_memoryBudget.load(std::memory_order_relaxed); }
void SetMemoryBudget(std::uint64_t bytes) { s_memoryBudget.store(bytes ? bytes : kDefaultMemoryBudget); }

std::string Decoding::TooBig() const {
    auto mib = [](std::uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB"; };
    std::uint64_t needed = decoder_.MemoryNeeded();
    return (needed ? "needs " + mib(needed) + " of memory, more than the " : "needs more memory than the ") +
           mib(MemoryBudget()) + " allowed";
}

Decoding::Decoding(Decoder& decoder, ByteSource& in, std::size_t inputSize, long long offset)
    : decoder_(decoder), in_(in), input_(new unsigned char[inputSize]), inputSize_(inputSize), offset_(offset) {}

Decoding::~Decoding() = default;

long Decoding::Read(unsigned char* buffer, std::size_t size) {
    auto fail = [this](Fault fault) {
        fault_ = fault;
        done_ = true;
        return -1L;
    };
    const std::size_t unit = std::max<std::size_t>(decoder_.Padding(), 1);
    while (!done_) {
        if (pos_ == length_ && !full_) {
            long n = in_.Read(input_.get(), inputSize_);
            if (n < 0) {
                errno_ = errno;
                return fail(Fault::kRead);
            }
            if (n == 0) {
                // The end: inside a member, or behind padding that falls
                // short of its unit, the data is cut short.
                if (inMember_) return fail(Fault::kCutShort);
                if (zeros_ % unit != 0) return fail(Fault::kCorrupt);
                done_ = true;
                break;
            }
            pos_ = 0;
            length_ = static_cast<std::size_t>(n);
        }
        if (!inMember_ && ended_) {
            // Behind an end: padding, another member, or bytes that are
            // none of these.
            if (decoder_.Padding() > 0 && input_[pos_] == 0) {
                std::size_t from = pos_;
                while (pos_ < length_ && input_[pos_] == 0) ++pos_;
                zeros_ += pos_ - from;
                offset_ += static_cast<long long>(pos_ - from);
                continue;
            }
            if (zeros_ % unit != 0) return fail(Fault::kCorrupt);
            if (!decoder_.Again(input_.get() + pos_, length_ - pos_)) return fail(Fault::kTrailing);
            zeros_ = 0;
        }
        inMember_ = true;
        std::size_t room = std::min(size, decoder_.MaxRoom()), used = 0, made = 0;
        Decoder::Step step = decoder_.Decode(input_.get() + pos_, length_ - pos_, used, buffer, room, made);
        pos_ += used;
        offset_ += static_cast<long long>(used);
        full_ = made == room;
        if (step == Decoder::Step::kBroken || step == Decoder::Step::kTooBig) {
            fault_ = step == Decoder::Step::kBroken ? Fault::kCorrupt : Fault::kTooBig;
            done_ = true;
        } else if (step == Decoder::Step::kEnd) {
            inMember_ = full_ = false;
            ended_ = true;
            if (onEnd_ && !onEnd_(offset_)) done_ = true;
        }
        if (made > 0) return static_cast<long>(made);
    }
    if (fault_ == Fault::kNone) return 0;
    if (fault_ == Fault::kRead) errno = errno_;
    return -1;
}
