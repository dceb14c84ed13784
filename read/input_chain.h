// An input opened once: its first read tells what it is (a page, a stream
// compressed by gzip, zstd, bzip2 or xz, a web archive, or a compressed
// archive), and the readers that it needs are stacked on it then. The
// bytes of that first read are handed on, never read twice.
#ifndef TALVERON_READ_INPUT_CHAIN_H
#define TALVERON_READ_INPUT_CHAIN_H

#include <memory>
#include <string>

#include "read/archive.h"
#include "read/byte_source.h"
#include "read/unpack.h"

class InputChain {
public:
    // The input open on `fd`, from where it stands; `size` is a regular
    // file's bytes from there (-1: not known), read no further. With
    // `decompress`, a compressed input is decompressed.
    InputChain(int fd, long long size, bool decompress);
    // The bytes of `source` (no descriptor, its size not known), read the
    // same way.
    InputChain(ByteSource& source, bool decompress);
    ~InputChain();
    InputChain(const InputChain&) = delete;
    InputChain& operator=(const InputChain&) = delete;

    // Reads the first bytes and stacks the readers. False, with errno, when
    // a decompressor could not be started. A read that fails here fails
    // again for the search, where it is told.
    bool Open();

    // A web archive, read record by record (Archive()); else a page (Page()).
    bool IsArchive() const { return archive_ != nullptr; }
    ArchiveReader& Archive() { return *archive_; }
    ByteSource& Page() { return *page_; }
    bool Decompressed() const { return packing_ != Packing::kNone; }

    // After the search: false when the compressed stream was corrupt, cut
    // short or could not be read; `error` says what and where.
    bool Finish(std::string& error);

private:
    int fd_;
    long long size_;
    bool decompress_;
    Packing packing_ = Packing::kNone;
    DescriptorSource descriptor_;
    ByteSource& bottom_;  // the descriptor, or the source given
    std::unique_ptr<HeadThenSource> raw_;       // the first read, then the descriptor
    std::unique_ptr<Unpacker> unpacker_;
    std::unique_ptr<HeadThenSource> unpacked_;  // the decompressed head, then the rest
    ByteSource* page_ = nullptr;
    std::unique_ptr<ArchiveReader> archive_;
};

#endif
