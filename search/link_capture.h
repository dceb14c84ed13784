// The address capture: the address behind a recognised anchor, read up to
// its closing double quote, and its end normalised.
#ifndef TALVERON_SEARCH_LINK_CAPTURE_H
#define TALVERON_SEARCH_LINK_CAPTURE_H

#include "lifecycle/limits.h"
#include "search/input_reader.h"
#include "search/scan_kernels.h"

// An address captured: its first kRecordBufferSize bytes (and room for a
// "/" and a 0 byte), its length as kept, its length up to its first 0 byte,
// and the input offset of its anchor's '<'.
struct CapturedLink {
    char text[kRecordBufferSize + 2];
    int length = -1;
    int textLength = 0;
    long long offset = 0;
};

class LinkCapture {
public:
    explicit LinkCapture(const ScanKernels& kernels) : findAddressEnd_(kernels.findAddressEnd) {}
    LinkCapture(const LinkCapture&) = delete;
    LinkCapture& operator=(const LinkCapture&) = delete;

    // Reads from `input` the address behind the opening just delivered (the
    // https one when `https`) up to its closing double quote, which is delivered too.
    // False when the input ends (or a read fails) first: the address is what
    // was read.
    bool Capture(InputReader& input, bool https);
    // Adds a "/" to the address unless it ends in ".html", ".htm" (ASCII
    // letters in any case) or "/".
    void Normalise();

    const CapturedLink& Link() const { return link_; }
    // The last address captured, as far as it is kept; null before the first.
    const char* Address(int* length) const {
        if (length) *length = link_.length < 0 ? 0 : link_.length;
        return link_.length < 0 ? nullptr : link_.text;
    }

private:
    const unsigned char* (*findAddressEnd_)(const unsigned char*, const unsigned char*, long*);
    CapturedLink link_;
};

#endif
