#include "read/input_chain.h"

#include <unistd.h>

#include "read/probe.h"
#include "search/searcher.h"

namespace {

// The first bytes of `source`, read until there are `want` of them, the
// source ends, or (with `stopUnlessArchive`) they can no longer begin a web
// archive: a terminal gives a line at a time. Put back in front of the rest.
std::unique_ptr<HeadThenSource> ReadHead(ByteSource& source, std::size_t want, bool stopUnlessArchive) {
    std::unique_ptr<unsigned char[]> head(new unsigned char[want]);
    std::size_t got = 0;
    while (got < want) {
        long n = source.Read(head.get() + got, want - got);
        if (n <= 0) break;  // the end, or an error that the search meets again
        got += static_cast<std::size_t>(n);
        if (stopUnlessArchive && !MayBeginArchive(head.get(), got)) break;
    }
    return std::unique_ptr<HeadThenSource>(new HeadThenSource(std::move(head), got, source));
}

}  // namespace

InputChain::InputChain(int fd, long long size, bool decompress)
    : fd_(fd), size_(size), decompress_(decompress), descriptor_(fd, size) {}

bool InputChain::Open() {
    // One read of a search's block: a page that fits it is read once.
    raw_ = ReadHead(descriptor_, Searcher::kBlockSize, true);
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
        unpacked_ = ReadHead(*unpacker_, kProbeHead, true);
        start = unpacked_.get();
        bytes = unpacked_.get();
    }
    if (BeginsArchive(start->Head(), start->HeadLength()))
        archive_.reset(new ArchiveReader(*bytes, Decompressed()));
    else
        page_ = bytes;
    return true;
}

bool InputChain::Finish(std::string& error) { return !unpacker_ || unpacker_->Finish(error); }
