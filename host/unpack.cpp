#include "unpack.h"

#include <bzlib.h>
#include <isa-l/igzip_lib.h>
#include <lzma.h>
#include <unistd.h>
#include <zstd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t kChunk = 128 * 1024;

// Where the compressed bytes come from (the head first) and where the
// decompressed ones go: straight into the Unpacker's chunks. When the search
// has stopped reading, there is no more room and the work ends quietly.
struct Stream {
    ByteSource& in;
    Unpacker& to;
    long long consumed = 0;  // compressed bytes handed to the decoder
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
    // the search has stopped reading.
    unsigned char* Room(std::size_t& room) {
        unsigned char* at = to.Room(room);
        if (!at) outClosed = true;
        return at;
    }
    void Commit(std::size_t length) { to.Commit(length); }

    void Write(const unsigned char* bytes, std::size_t length) {
        while (length > 0) {
            std::size_t room;
            unsigned char* at = Room(room);
            if (!at) return;
            std::size_t n = std::min(room, length);
            std::memcpy(at, bytes, n);
            Commit(n);
            bytes += n;
            length -= n;
        }
    }
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
            // Another member may follow: the decoder starts again on the
            // bytes left.
            inMember = full = false;
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
        ZSTD_outBuffer output = {at, room, 0};
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

const char* PackingName(Packing packing) {
    switch (packing) {
        case Packing::kGzip: return "gzip";
        case Packing::kZstd: return "zstd";
        case Packing::kBzip2: return "bzip2";
        case Packing::kXz: return "xz";
        default: return "plain";
    }
}

Unpacker::~Unpacker() {
    std::string ignored;
    Finish(ignored);
}

bool Unpacker::Start(ByteSource& in, Packing packing) {
    in_ = &in;
    packing_ = packing;
    try {
        for (auto& chunk : chunks_) {
            chunk.reset(new unsigned char[kChunkSize]);
            free_.push_back(chunk.get());
        }
        thread_ = std::thread(&Unpacker::Run, this);
    } catch (...) {
        errno = errno ? errno : ENOMEM;
        return false;
    }
    started_ = true;
    return true;
}

unsigned char* Unpacker::Room(std::size_t& room) {
    if (!filling_) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return closed_ || !free_.empty(); });
        if (closed_) return nullptr;
        filling_ = free_.back();
        free_.pop_back();
        filled_ = 0;
    }
    room = kChunkSize - filled_;
    return filling_ + filled_;
}

void Unpacker::Commit(std::size_t length) {
    filled_ += length;
    if (filled_ == kChunkSize) Deliver();
}

void Unpacker::Deliver() {
    if (!filling_) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (filled_ > 0)
            full_.push_back({filling_, filled_});
        else
            free_.push_back(filling_);
    }
    filling_ = nullptr;
    changed_.notify_all();
}

long Unpacker::Read(unsigned char* buffer, std::size_t size) {
    if (reading_.used == reading_.length) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (reading_.bytes) free_.push_back(reading_.bytes);
        reading_ = {};
        changed_.notify_all();
        changed_.wait(lock, [this] { return !full_.empty() || done_; });
        if (full_.empty()) return 0;
        reading_ = full_.front();
        full_.pop_front();
    }
    std::size_t n = std::min(size, reading_.length - reading_.used);
    std::memcpy(buffer, reading_.bytes + reading_.used, n);
    reading_.used += n;
    return static_cast<long>(n);
}

void Unpacker::Run() {
    Stream s{*in_, *this};
    switch (packing_) {
        case Packing::kGzip: error_ = Gunzip(s); break;
        case Packing::kZstd: error_ = Unzstd(s); break;
        case Packing::kBzip2: error_ = Bunzip2(s); break;
        case Packing::kXz: error_ = Unxz(s); break;
        default: error_ = Copy(s); break;
    }
    if (s.readFailed && error_.empty()) error_ = std::strerror(s.readErrno);
    Deliver();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;  // the end of the input, for the search
    }
    changed_.notify_all();
}

bool Unpacker::Finish(std::string& error) {
    if (!started_) return true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;  // a thread still decompressing stops
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    started_ = false;
    error = error_;
    return error_.empty();
}
