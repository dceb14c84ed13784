#include "read/unpack.h"

#include <bzlib.h>
#include <isa-l/igzip_lib.h>
#include <lzma.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t kChunk = 128 * 1024;

// Where the compressed bytes come from and where the decompressed ones go:
// straight into the chunks of the Unpacker's segment. When its output is not
// wanted any more, there is no more room and the work ends quietly.
struct Stream {
    ByteSource& in;
    Unpacker& to;
    Unpacker::Segment& segment;
    long long consumed = 0;  // where the decoder stands in the compressed input
    // gzip in segments: a member that ends here or past it ends the segment.
    long long stopAt = LLONG_MAX;
    bool readFailed = false;
    int readErrno = 0;
    bool outClosed = false;

    // Fills `buffer`; 0 at the end (or after a failed read).
    std::size_t Read(unsigned char* buffer, std::size_t size) {
        long n = in.Read(buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        readFailed = true;
        readErrno = errno;
        return 0;
    }

    // Where the decoder writes next, and how much room there is; null when
    // the output is not wanted any more.
    unsigned char* Room(std::size_t& room) {
        unsigned char* at = to.Room(segment, room);
        if (!at) outClosed = true;
        return at;
    }
    void Commit(std::size_t length) { to.Commit(segment, length); }
};

// The bytes of a file from `offset` on, read at offsets.
class PositionalSource final : public ByteSource {
public:
    PositionalSource(int fd, long long offset) : fd_(fd), offset_(offset) {}
    long Read(unsigned char* buffer, std::size_t size) override {
        for (;;) {
            ssize_t n = ::pread(fd_, buffer, size, offset_);
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) offset_ += n;
            return static_cast<long>(n);
        }
    }

private:
    int fd_;
    long long offset_;
};

std::string At(const char* what, const Stream& s) {
    return std::string(what) + " at byte " + std::to_string(s.consumed) + " of the compressed input";
}

std::string Copy(Stream& s) {
    std::size_t room;
    while (unsigned char* at = s.Room(room)) {
        std::size_t n = s.Read(at, room);
        if (n == 0) break;
        s.Commit(n);
    }
    return "";
}

// gzip through ISA-L's inflate, which decodes about three times as fast as
// zlib here (and libdeflate has no streaming decoder).
std::string Gunzip(Stream& s) {
    std::unique_ptr<unsigned char[]> in(new unsigned char[kChunk]);
    std::unique_ptr<inflate_state> z(new inflate_state);
    isal_inflate_init(z.get());
    z->crc_flag = ISAL_GZIP;
    std::string error;
    bool inMember = false;
    bool full = false;  // the last call filled its room: the decoder may hold more
    while (!s.outClosed) {
        if (z->avail_in == 0 && !full) {
            z->avail_in = static_cast<uint32_t>(s.Read(in.get(), kChunk));
            z->next_in = in.get();
            if (z->avail_in == 0) break;
        }
        if (!inMember && z->next_in[0] == 0) {
            // Zero bytes behind the last member (a tape's or a tar's
            // padding) are let pass, as gzip does.
            while (z->avail_in > 0 && z->next_in[0] == 0) ++z->next_in, --z->avail_in, ++s.consumed;
            continue;
        }
        if (!inMember && (z->next_in[0] != 0x1f || (z->avail_in > 1 && z->next_in[1] != 0x8b))) {
            // What follows a member is another member or nothing.
            error = At("corrupt gzip data", s);
            break;
        }
        inMember = true;
        uint32_t before = z->avail_in;
        std::size_t room;
        z->next_out = s.Room(room);
        if (!z->next_out) break;
        z->avail_out = static_cast<uint32_t>(room);
        int rc = isal_inflate(z.get());
        s.consumed += before - z->avail_in;
        s.Commit(room - z->avail_out);
        full = z->avail_out == 0;
        if (rc != ISAL_DECOMP_OK) {
            error = At("corrupt gzip data", s);
            break;
        }
        if (z->block_state == ISAL_BLOCK_FINISH) {
            inMember = full = false;
            if (s.consumed >= s.stopAt) {
                // The segment's end: where the next one begins, or a member
                // that runs past that place, which it then goes on alone.
                if (s.consumed == s.stopAt) break;
                s.to.Overran(s.segment);
                s.stopAt = LLONG_MAX;
            }
            // Another member may follow: the decoder starts again on the
            // bytes left.
            uint8_t* next = z->next_in;
            uint32_t left = z->avail_in;
            isal_inflate_reset(z.get());
            z->crc_flag = ISAL_GZIP;
            z->next_in = next;
            z->avail_in = left;
        }
    }
    if (error.empty() && inMember && !s.outClosed && !s.readFailed) error = At("gzip data cut short", s);
    return error;
}

std::string Unzstd(Stream& s) {
    std::unique_ptr<unsigned char[]> in(new unsigned char[kChunk]);
    ZSTD_DStream* d = ZSTD_createDStream();
    if (!d) return "no memory for zstd";
    std::string error;
    std::size_t pending = 0;  // not 0: a frame is not finished
    ZSTD_inBuffer input = {in.get(), 0, 0};
    bool full = false;  // the last call filled its room: the decoder may hold more
    while (!s.outClosed) {
        if (input.pos == input.size && !full) {
            std::size_t n = s.Read(in.get(), kChunk);
            if (n == 0) break;
            input = {in.get(), n, 0};
        }
        std::size_t room;
        unsigned char* at = s.Room(room);
        if (!at) break;
        // A call that meets damage tells nothing of what it wrote: each
        // call is given a block's worth of room, as zstd's own tool does, so
        // that what came before the damaged block stands.
        ZSTD_outBuffer output = {at, std::min(room, ZSTD_DStreamOutSize()), 0};
        std::size_t before = input.pos;
        pending = ZSTD_decompressStream(d, &output, &input);
        s.consumed += static_cast<long long>(input.pos - before);
        if (ZSTD_isError(pending)) {
            error = At("corrupt zstd data", s);
            break;
        }
        s.Commit(output.pos);
        full = output.pos == output.size && pending != 0;
    }
    if (error.empty() && pending != 0 && !s.outClosed && !s.readFailed) error = At("zstd data cut short", s);
    ZSTD_freeDStream(d);
    return error;
}

std::string Bunzip2(Stream& s) {
    std::unique_ptr<char[]> in(new char[kChunk]);
    bz_stream b = {};
    if (BZ2_bzDecompressInit(&b, 0, 0) != BZ_OK) return "no memory for bzip2";
    std::string error;
    bool inStream = false;
    bool full = false;  // the last call filled its room: the decoder may hold more
    while (error.empty() && !s.outClosed) {
        if (b.avail_in == 0 && !full) {
            b.avail_in = static_cast<unsigned>(s.Read(reinterpret_cast<unsigned char*>(in.get()), kChunk));
            b.next_in = in.get();
            if (b.avail_in == 0) break;
        }
        inStream = true;
        unsigned before = b.avail_in;
        std::size_t room;
        b.next_out = reinterpret_cast<char*>(s.Room(room));
        if (!b.next_out) break;
        b.avail_out = static_cast<unsigned>(room);
        int rc = BZ2_bzDecompress(&b);
        s.consumed += before - b.avail_in;
        s.Commit(room - b.avail_out);
        full = b.avail_out == 0;
        if (rc == BZ_STREAM_END) {
            // Another stream may follow (as pbzip2 writes them).
            inStream = full = false;
            unsigned left = b.avail_in;
            char* next = b.next_in;
            BZ2_bzDecompressEnd(&b);
            b = {};
            BZ2_bzDecompressInit(&b, 0, 0);
            b.next_in = next;
            b.avail_in = left;
        } else if (rc != BZ_OK) {
            error = At("corrupt bzip2 data", s);
        }
    }
    if (error.empty() && inStream && !s.outClosed && !s.readFailed) error = At("bzip2 data cut short", s);
    BZ2_bzDecompressEnd(&b);
    return error;
}

std::string Unxz(Stream& s) {
    std::unique_ptr<unsigned char[]> in(new unsigned char[kChunk]);
    lzma_stream x = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&x, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK) return "no memory for xz";
    std::string error;
    lzma_action action = LZMA_RUN;
    while (error.empty() && !s.outClosed) {
        if (x.avail_in == 0 && action == LZMA_RUN) {
            x.avail_in = s.Read(in.get(), kChunk);
            x.next_in = in.get();
            if (x.avail_in == 0) action = LZMA_FINISH;
        }
        std::size_t before = x.avail_in;
        std::size_t room;
        x.next_out = s.Room(room);
        if (!x.next_out) break;
        x.avail_out = room;
        lzma_ret rc = lzma_code(&x, action);
        s.consumed += static_cast<long long>(before - x.avail_in);
        s.Commit(room - x.avail_out);
        if (rc == LZMA_STREAM_END) break;
        if (rc == LZMA_BUF_ERROR && action == LZMA_FINISH) {
            if (!s.readFailed) error = At("xz data cut short", s);
        } else if (rc != LZMA_OK) {
            error = At("corrupt xz data", s);
        }
    }
    lzma_end(&x);
    return error;
}

}  // namespace

Packing PackingOf(const unsigned char* head, std::size_t length) {
    auto starts = [&](const char* magic, std::size_t n) { return length >= n && std::memcmp(head, magic, n) == 0; };
    if (starts("\x1f\x8b", 2)) return Packing::kGzip;
    if (starts("\x28\xb5\x2f\xfd", 4)) return Packing::kZstd;
    if (starts("BZh", 3)) return Packing::kBzip2;
    if (starts("\xfd" "7zXZ\0", 6)) return Packing::kXz;
    return Packing::kNone;
}

namespace {

// Whether a gzip member begins at `at` of the file: its header is sound and
// the member decodes (to its end, or as far as the first MiB of it goes).
bool MemberBeginsAt(int fd, long long at) {
    constexpr std::size_t kIn = 64 * 1024, kOut = 64 * 1024, kTried = 1 << 20;
    std::unique_ptr<unsigned char[]> in(new unsigned char[kIn]), out(new unsigned char[kOut]);
    std::unique_ptr<inflate_state> z(new inflate_state);
    isal_inflate_init(z.get());
    z->crc_flag = ISAL_GZIP;
    PositionalSource source(fd, at);
    for (std::size_t tried = 0; tried < kTried;) {
        if (z->avail_in == 0) {
            long n = source.Read(in.get(), kIn);
            if (n <= 0) return false;  // cut short: not a member worth a segment
            z->next_in = in.get();
            z->avail_in = static_cast<uint32_t>(n);
            tried += static_cast<std::size_t>(n);
        }
        z->next_out = out.get();
        z->avail_out = kOut;
        if (isal_inflate(z.get()) != ISAL_DECOMP_OK) return false;
        if (z->block_state == ISAL_BLOCK_FINISH) return true;
    }
    return true;
}

// The first place in [from, to) of the file where a gzip member begins, or -1.
long long FindMemberStart(int fd, long long from, long long to) {
    constexpr std::size_t kWindow = 64 * 1024, kHeader = 10;
    std::unique_ptr<unsigned char[]> window(new unsigned char[kWindow + kHeader]);
    for (long long at = from; at < to; at += kWindow) {
        ssize_t n = ::pread(fd, window.get(), kWindow + kHeader, at);
        if (n <= 0) return -1;
        const unsigned char* bytes = window.get();
        std::size_t limit = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(n), to - at));
        for (std::size_t k = 0; k < limit;) {
            const void* magic = std::memchr(bytes + k, 0x1f, limit - k);
            if (!magic) break;
            k = static_cast<std::size_t>(static_cast<const unsigned char*>(magic) - bytes);
            if (k + kHeader <= static_cast<std::size_t>(n) && bytes[k + 1] == 0x8b && bytes[k + 2] == 8 &&
                (bytes[k + 3] & 0xe0) == 0 && (bytes[k + 8] == 0 || bytes[k + 8] == 2 || bytes[k + 8] == 4) &&
                (bytes[k + 9] <= 13 || bytes[k + 9] == 255) && MemberBeginsAt(fd, at + static_cast<long long>(k)))
                return at + static_cast<long long>(k);
            ++k;
        }
    }
    return -1;
}

}  // namespace

struct Unpacker::Segment {
    std::size_t index = 0;
    std::deque<Chunk> full;          // decompressed, not yet read
    std::size_t held = 0;            // chunks given to it, not handed back
    bool done = false;               // its thread has finished it
    std::string error;               // what went wrong in it
    unsigned char* filling = nullptr;  // its thread's chunk being filled
    std::size_t filled = 0;
};

Unpacker::Unpacker() = default;

Unpacker::~Unpacker() {
    std::string ignored;
    Finish(ignored);
}

bool Unpacker::Start(ByteSource& in, Packing packing) {
    in_ = &in;
    packing_ = packing;
    segments_.emplace_back(new Segment);
    taken_ = count_ = 1;
    try {
        threads_.emplace_back(&Unpacker::RunStream, this);
    } catch (...) {
        errno = EAGAIN;
        return false;
    }
    return true;
}

bool Unpacker::StartFile(int fd, long long size) {
    fd_ = fd;
    size_ = size;
    packing_ = Packing::kGzip;
    count_ = static_cast<std::size_t>((size + segmentSize_ - 1) / segmentSize_);
    starts_.assign(count_, -2);
    starts_[0] = 0;
    unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    try {
        while (threads_.size() < threads) threads_.emplace_back(&Unpacker::RunSegments, this);
    } catch (...) {
        if (threads_.empty()) {
            errno = EAGAIN;
            return false;
        }
    }
    return true;
}

unsigned char* Unpacker::Room(Segment& segment, std::size_t& room) {
    if (!segment.filling) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto wanted = [&] { return !closed_ && segment.index < discardFrom_; };
        // The segment being read may always have a chunk; the others hold
        // all but two at most.
        auto available = [&] {
            std::size_t headHeld = segments_.empty() ? 0 : segments_.front()->held;
            return (!free_.empty() || allocated_ < kChunks) &&
                   (segment.index == readIndex_ || inUse_ - headHeld < kChunks - 2);
        };
        changed_.wait(lock, [&] { return !wanted() || available(); });
        if (!wanted()) return nullptr;
        if (free_.empty()) {
            chunks_[allocated_].reset(new (std::nothrow) unsigned char[kChunkSize]);
            if (!chunks_[allocated_]) return nullptr;
            free_.push_back(chunks_[allocated_++].get());
        }
        segment.filling = free_.back();
        free_.pop_back();
        segment.filled = 0;
        ++segment.held;
        ++inUse_;
    }
    room = kChunkSize - segment.filled;
    return segment.filling + segment.filled;
}

void Unpacker::Commit(Segment& segment, std::size_t length) {
    segment.filled += length;
    if (segment.filled == kChunkSize) Deliver(segment);
}

void Unpacker::Deliver(Segment& segment) {
    if (!segment.filling) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (segment.filled > 0 && segment.index < discardFrom_) {
            segment.full.push_back({segment.filling, segment.filled, 0});
        } else {
            free_.push_back(segment.filling);
            --segment.held;
            --inUse_;
        }
    }
    segment.filling = nullptr;
    changed_.notify_all();
}

void Unpacker::Overran(Segment& segment) {
    std::lock_guard<std::mutex> lock(mutex_);
    // The segments behind began where no member begins: their output is
    // let go, and this one goes on to the end.
    discardFrom_ = std::min(discardFrom_, segment.index + 1);
    for (auto& later : segments_) {
        if (later->index <= segment.index) continue;
        for (const Chunk& chunk : later->full) {
            free_.push_back(chunk.bytes);
            --later->held;
            --inUse_;
        }
        later->full.clear();
    }
    changed_.notify_all();
}

void Unpacker::Done(Segment& segment, const std::string& error) {
    Deliver(segment);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        segment.done = true;
        segment.error = error;
    }
    changed_.notify_all();
}

long Unpacker::Read(unsigned char* buffer, std::size_t size) {
    while (reading_.used == reading_.length) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (reading_.bytes) {
            free_.push_back(reading_.bytes);
            --segments_.front()->held;
            --inUse_;
            reading_ = {};
            changed_.notify_all();
        }
        auto ended = [&] { return closed_ || readIndex_ >= std::min(count_, discardFrom_); };
        changed_.wait(lock, [&] {
            return ended() || (!segments_.empty() && segments_.front()->index == readIndex_ &&
                               (!segments_.front()->full.empty() || segments_.front()->done));
        });
        if (ended()) return 0;
        Segment& head = *segments_.front();
        if (!head.full.empty()) {
            reading_ = head.full.front();
            head.full.pop_front();
            continue;
        }
        // The segment is read whole: on to the next, unless it went wrong.
        if (!head.error.empty()) {
            error_ = head.error;
            discardFrom_ = std::min(discardFrom_, readIndex_ + 1);
        }
        segments_.pop_front();
        ++readIndex_;
        changed_.notify_all();
    }
    std::size_t n = std::min(size, reading_.length - reading_.used);
    std::memcpy(buffer, reading_.bytes + reading_.used, n);
    reading_.used += n;
    return static_cast<long>(n);
}

void Unpacker::RunStream() {
    Segment& segment = *segments_.front();
    Stream s{*in_, *this, segment};
    std::string error;
    switch (packing_) {
        case Packing::kGzip: error = Gunzip(s); break;
        case Packing::kZstd: error = Unzstd(s); break;
        case Packing::kBzip2: error = Bunzip2(s); break;
        case Packing::kXz: error = Unxz(s); break;
        default: error = Copy(s); break;
    }
    if (s.readFailed && error.empty()) error = std::strerror(s.readErrno);
    Done(segment, error);
}

Unpacker::Segment* Unpacker::TakeSegment() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || taken_ >= std::min(count_, discardFrom_)) return nullptr;
    segments_.emplace_back(new Segment);
    segments_.back()->index = taken_++;
    return segments_.back().get();
}

long long Unpacker::MemberStart(std::size_t k) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (starts_[k] != -2) return starts_[k];
    }
    long long from = static_cast<long long>(k) * segmentSize_;
    long long found = FindMemberStart(fd_, from, std::min(from + segmentSize_, size_));
    std::lock_guard<std::mutex> lock(mutex_);
    return starts_[k] = found;
}

// One of the threads of StartFile: segment after segment, each from the
// first member that begins in it to where the next segment's first member
// begins (a segment where none begins gives nothing).
void Unpacker::RunSegments() {
    while (Segment* segment = TakeSegment()) {
        std::string error;
        long long start = MemberStart(segment->index);
        if (start >= 0) {
            long long end = size_;
            for (std::size_t j = segment->index + 1; j < count_; ++j) {
                long long next = MemberStart(j);
                if (next >= 0) {
                    end = next;
                    break;
                }
            }
            PositionalSource source(fd_, start);
            Stream s{source, *this, *segment};
            s.consumed = start;
            s.stopAt = end;
            error = Gunzip(s);
            if (s.readFailed && error.empty()) error = std::strerror(s.readErrno);
        }
        Done(*segment, error);
    }
}

bool Unpacker::Finish(std::string& error) {
    if (threads_.empty()) return true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;  // the threads still at work stop
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    error = error_;
    return error_.empty();
}
