#include "read/unpack.h"

#include "read/decoder.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t kChunk = 128 * 1024;

// The bytes of a file from `offset` up to `end`, read at offsets.
class PositionalSource final : public ByteSource {
public:
    PositionalSource(int fd, long long offset, long long end) : fd_(fd), offset_(offset), end_(end) {}
    long Read(unsigned char* buffer, std::size_t size) override {
        if (offset_ >= end_) return 0;
        if (static_cast<unsigned long long>(end_ - offset_) < size) size = static_cast<std::size_t>(end_ - offset_);
        for (;;) {
            ssize_t n = ::pread(fd_, buffer, size, offset_);
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) offset_ += n;
            return static_cast<long>(n);
        }
    }

private:
    int fd_;
    long long offset_, end_;
};

std::unique_ptr<Decoder> DecoderFor(Packing packing) {
    switch (packing) {
        case Packing::kGzip: return NewIsalGzipDecoder();
        case Packing::kZstd: return NewZstdDecoder();
        case Packing::kBzip2: return NewBzip2Decoder();
        case Packing::kXz: return NewXzDecoder();
        default: return nullptr;
    }
}

// What went wrong in a decoding, and where.
std::string Complaint(const Decoding& decoding) {
    if (decoding.Failed() == Decoding::Fault::kRead) return std::strerror(errno);
    std::string name = decoding.Name(), what;
    std::string at = " at byte " + std::to_string(decoding.Offset()) + " of the compressed input";
    switch (decoding.Failed()) {
        case Decoding::Fault::kNone: return "";
        case Decoding::Fault::kCutShort: what = name + " data cut short"; break;
        case Decoding::Fault::kTrailing: what = "trailing garbage behind the " + name + " data"; break;
        case Decoding::Fault::kTooBig: return name + " data" + at + " " + decoding.TooBig();
        default: what = "corrupt " + name + " data"; break;
    }
    return what + at;
}

// Whether a gzip member begins at `at` of the file (of `end` bytes): its
// header is sound and the member decodes (to its end, or as far as the
// first MiB of it goes).
bool MemberBeginsAt(int fd, long long at, long long end) {
    constexpr std::size_t kIn = 64 * 1024, kOut = 64 * 1024;
    constexpr long long kTried = 1 << 20;
    std::unique_ptr<Decoder> decoder = NewIsalGzipDecoder();
    if (!decoder) return false;
    std::unique_ptr<unsigned char[]> out(new unsigned char[kOut]);
    PositionalSource source(fd, at, end);
    Decoding decoding(*decoder, source, kIn, at);
    decoding.OnEnd([](long long) { return false; });
    while (decoding.Offset() - at < kTried) {
        long n = decoding.Read(out.get(), kOut);
        // 0: the member ended; -1: corrupt or cut short, not a member worth
        // a segment.
        if (n <= 0) return n == 0;
    }
    return true;
}

// The first place in [from, to) of the file (of `end` bytes) where a gzip
// member begins, or -1.
long long FindMemberStart(int fd, long long from, long long to, long long end) {
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
                (bytes[k + 9] <= 13 || bytes[k + 9] == 255) && MemberBeginsAt(fd, at + static_cast<long long>(k), end))
                return at + static_cast<long long>(k);
            ++k;
        }
    }
    return -1;
}

}  // namespace

// What a segment has decompressed and not yet handed on: a segment never
// holds more than all the chunks, so a ring of them takes no memory while
// the threads work.
class Unpacker::Chunks {
public:
    bool empty() const { return count_ == 0; }
    std::size_t size() const { return count_; }
    Chunk& front() { return items_[first_]; }
    Chunk& operator[](std::size_t k) { return items_[(first_ + k) % kChunks]; }
    void push_back(const Chunk& chunk) { items_[(first_ + count_++) % kChunks] = chunk; }
    void pop_front() {
        first_ = (first_ + 1) % kChunks;
        --count_;
    }
    void clear() { first_ = count_ = 0; }

private:
    Chunk items_[kChunks];
    std::size_t first_ = 0, count_ = 0;
};

struct Unpacker::Segment {
    std::size_t index = 0;
    Chunks full;                     // decompressed, not yet read
    std::size_t held = 0;            // chunks given to it, not handed back
    bool done = false;               // its thread has finished it
    std::string error;               // what went wrong in it
    unsigned char* filling = nullptr;  // its thread's chunk being filled
    std::size_t filled = 0;
    bool noMemory = false;           // a chunk for it could not be had
};

namespace {
const char kNoMemory[] = "out of memory";
}  // namespace

Unpacker::Unpacker() { free_.reserve(kChunks); }  // never grown while the threads work

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
            if (!chunks_[allocated_]) {
                segment.noMemory = true;
                return nullptr;
            }
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
        for (std::size_t k = 0; k < later->full.size(); ++k) {
            free_.push_back(later->full[k].bytes);
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

namespace {

std::string Copy(ByteSource& in, Unpacker& to, Unpacker::Segment& segment) {
    std::size_t room;
    while (unsigned char* at = to.Room(segment, room)) {
        long n = in.Read(at, room);
        if (n < 0) return std::strerror(errno);
        if (n == 0) break;
        to.Commit(segment, static_cast<std::size_t>(n));
    }
    return segment.noMemory ? kNoMemory : "";
}

// Decodes `in` (from `start` of the compressed input) straight into the
// segment's chunks. A member that ends at `stopAt` ends the segment there,
// where the next one begins; one that runs past that place goes on alone.
// When the output is not wanted any more, there is no more room and the
// work ends quietly.
std::string Pour(Decoder& decoder, ByteSource& in, long long start, long long stopAt, Unpacker& to,
                 Unpacker::Segment& segment) {
    Decoding decoding(decoder, in, kChunk, start);
    if (stopAt != LLONG_MAX)
        decoding.OnEnd([&](long long at) {
            if (at < stopAt) return true;
            if (at == stopAt) return false;
            to.Overran(segment);
            stopAt = LLONG_MAX;
            return true;
        });
    std::size_t room;
    while (unsigned char* at = to.Room(segment, room)) {
        long n = decoding.Read(at, room);
        if (n < 0) return Complaint(decoding);
        if (n == 0) break;
        to.Commit(segment, static_cast<std::size_t>(n));
    }
    return segment.noMemory ? kNoMemory : "";
}

}  // namespace

void Unpacker::RunStream() {
    Segment& segment = *segments_.front();
    std::string error;
    try {
        if (packing_ == Packing::kNone) {
            error = Copy(*in_, *this, segment);
        } else if (std::unique_ptr<Decoder> decoder = DecoderFor(packing_)) {
            error = Pour(*decoder, *in_, 0, LLONG_MAX, *this, segment);
        } else {
            error = kNoMemory;
        }
    } catch (const std::bad_alloc&) {
        error = kNoMemory;
    }
    Done(segment, error);
}

Unpacker::Segment* Unpacker::TakeSegment() {
    std::unique_ptr<Segment> segment(new (std::nothrow) Segment);
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || taken_ >= std::min(count_, discardFrom_)) return nullptr;
    try {
        if (!segment) throw std::bad_alloc();
        segments_.push_back(std::move(segment));
    } catch (const std::bad_alloc&) {
        // The output ends before this segment, said as memory that ran out.
        if (error_.empty()) error_ = kNoMemory;
        discardFrom_ = std::min(discardFrom_, taken_);
        changed_.notify_all();
        return nullptr;
    }
    segments_.back()->index = taken_++;
    return segments_.back().get();
}

long long Unpacker::MemberStart(std::size_t k) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (starts_[k] != -2) return starts_[k];
    }
    long long from = static_cast<long long>(k) * segmentSize_;
    long long found = FindMemberStart(fd_, from, std::min(from + segmentSize_, size_), size_);
    // Two threads may look for it at once (one for its own start, one for
    // where its segment ends): the first answer stands for both, or members
    // would be decoded twice or not at all.
    std::lock_guard<std::mutex> lock(mutex_);
    if (starts_[k] == -2) starts_[k] = found;
    return starts_[k];
}

// One of the threads of StartFile: segment after segment, each from the
// first member that begins in it to where the next segment's first member
// begins (a segment where none begins gives nothing).
void Unpacker::RunSegments() {
    while (Segment* segment = TakeSegment()) {
        std::string error;
        try {
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
                PositionalSource source(fd_, start, size_);  // a member may run on, but not past the size
                std::unique_ptr<Decoder> decoder = NewIsalGzipDecoder();
                error = decoder ? Pour(*decoder, source, start, end, *this, *segment) : kNoMemory;
            }
        } catch (const std::bad_alloc&) {
            error = kNoMemory;
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
