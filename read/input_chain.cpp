#include "read/input_chain.h"

#include <unistd.h>

#include <mutex>

#include "read/probe.h"
#include "search/searcher.h"

namespace {

// The first bytes of `source`, read until there are `want` of them, the
// source ends, or (with `stopUnlessArchive`) they can no longer begin a web
// archive: a terminal gives a line at a time. Put back in front of the rest.
std::unique_ptr<HeadThenSource> ReadHead(ByteSource& source, std::unique_ptr<unsigned char[]> head, std::size_t want,
                                         bool stopUnlessArchive) {
    std::size_t got = 0;
    while (got < want) {
        long n = source.Read(head.get() + got, want - got);
        if (n <= 0) break;  // the end, or an error that the search meets again
        got += static_cast<std::size_t>(n);
        if (stopUnlessArchive && !MayBeginArchive(head.get(), got)) break;
    }
    return std::unique_ptr<HeadThenSource>(new HeadThenSource(std::move(head), got, source));
}

// The first read's blocks, kept for the next inputs: a block taken from the
// heap and given back for every one of many small pages costs the kernel
// more than reading them (the heap's top is trimmed and grown again each
// time). A few are kept, one for each thread that searches at once; they
// are not kept per thread, as a thread's own variable with a destructor
// costs an allocation that fails without a way to say so.
class SpareBlocks {
public:
    std::unique_ptr<unsigned char[]> Take() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (count_ > 0) return std::move(blocks_[--count_]);
        }
        return std::unique_ptr<unsigned char[]>(new unsigned char[Searcher::kBlockSize]);
    }
    void Give(std::unique_ptr<unsigned char[]> block) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (block && count_ < kKept) blocks_[count_++] = std::move(block);
    }

private:
    static constexpr std::size_t kKept = 16;
    std::mutex mutex_;
    std::unique_ptr<unsigned char[]> blocks_[kKept];
    std::size_t count_ = 0;
};

SpareBlocks s_spareBlocks;

}  // namespace

InputChain::InputChain(int fd, long long size, bool decompress)
    : fd_(fd), size_(size), decompress_(decompress), descriptor_(fd, size), bottom_(descriptor_) {}

InputChain::InputChain(ByteSource& source, bool decompress)
    : fd_(-1), size_(-1), decompress_(decompress), descriptor_(-1), bottom_(source) {}

InputChain::~InputChain() {
    std::string ignored;
    Finish(ignored);  // no thread reads the first block any more
    if (raw_) s_spareBlocks.Give(raw_->TakeHead());
}

bool InputChain::Open() {
    // One read of a search's block: a page that fits it is read once.
    raw_ = ReadHead(bottom_, s_spareBlocks.Take(), Searcher::kBlockSize, true);
    const HeadThenSource* start = raw_.get();
    if (decompress_) packing_ = PackingOf(start->Head(), start->HeadLength());
    ByteSource* bytes = raw_.get();
    if (packing_ != Packing::kNone) {
        unpacker_.reset(new Unpacker);
        // A large gzip file (a crawl's archive of many members) read from
        // its start is decompressed on several threads.
        bool segmented = packing_ == Packing::kGzip && size_ >= 2 * Unpacker::kSegmentSize &&
                         ::lseek(fd_, 0, SEEK_CUR) == static_cast<off_t>(start->HeadLength());
        if (!(segmented ? unpacker_->StartFile(fd_, size_) : unpacker_->Start(*raw_, packing_))) return false;
        unpacked_ = ReadHead(*unpacker_, std::unique_ptr<unsigned char[]>(new unsigned char[kProbeHead]), kProbeHead,
                             true);
        start = unpacked_.get();
        bytes = unpacked_.get();
    }
    if (BeginsArchive(start->Head(), start->HeadLength()))
        archive_.reset(new ArchiveReader(*bytes, Decompressed(), !Decompressed() && size_ > 0 ? size_ : -1));
    else
        page_ = bytes;
    return true;
}

bool InputChain::Finish(std::string& error) { return !unpacker_ || unpacker_->Finish(error); }
