#include "read/input_chain.h"

#include <unistd.h>

#include "read/probe.h"
#include "search/searcher.h"

namespace {

// Reads into `head` until it holds `want` bytes, the source ends, or (with
// `stopUnlessArchive`) its bytes can no longer begin a web archive: a
// terminal gives a line at a time.
void ReadHead(ByteSource& source, std::string& head, std::size_t want, bool stopUnlessArchive) {
    std::size_t got = 0;
    head.resize(want);
    while (got < want) {
        long n = source.Read(reinterpret_cast<unsigned char*>(&head[got]), want - got);
        if (n <= 0) break;  // the end, or an error that the search meets again
        got += static_cast<std::size_t>(n);
        if (stopUnlessArchive && !MayBeginArchive(reinterpret_cast<const unsigned char*>(head.data()), got)) break;
    }
    head.resize(got);
}

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

}  // namespace

InputChain::InputChain(int fd, long long size, bool decompress)
    : fd_(fd), size_(size), decompress_(decompress), descriptor_(fd, size) {}

bool InputChain::Open() {
    // One read of a search's block: a page that fits it is read once.
    std::string head;
    ReadHead(descriptor_, head, Searcher::kBlockSize, true);
    if (decompress_) packing_ = PackingOf(Bytes(head), head.size());
    raw_.reset(new HeadThenSource(head, descriptor_));
    ByteSource* bytes = raw_.get();
    std::string start = std::move(head);
    if (packing_ != Packing::kNone) {
        unpacker_.reset(new Unpacker);
        // A large gzip file (a crawl's archive of many members) read from
        // its start is decompressed on several threads.
        bool segmented = packing_ == Packing::kGzip && size_ >= 2 * Unpacker::kSegmentSize &&
                         ::lseek(fd_, 0, SEEK_CUR) == static_cast<off_t>(start.size());
        if (!(segmented ? unpacker_->StartFile(fd_, size_)
                        : unpacker_->Start(*raw_, packing_)))
            return false;
        ReadHead(*unpacker_, start, kProbeHead, true);
        unpacked_.reset(new HeadThenSource(start, *unpacker_));
        bytes = unpacked_.get();
    }
    if (BeginsArchive(Bytes(start), start.size()))
        archive_.reset(new ArchiveReader(*bytes, Decompressed()));
    else
        page_ = bytes;
    return true;
}

bool InputChain::Finish(std::string& error) { return !unpacker_ || unpacker_->Finish(error); }
