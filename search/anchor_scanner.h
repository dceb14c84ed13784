// The anchor scanner: the cycles of skip to the next '<' and comparison with
// the anchor opening, over the input block, with the SIMD kernels' shortcuts.
// Each anchor found has its address captured and handed to the emitter. A
// range's scan owns the cycles whose '<' lies before its end.
#ifndef TALVERON_SEARCH_ANCHOR_SCANNER_H
#define TALVERON_SEARCH_ANCHOR_SCANNER_H

#include "search/input_reader.h"
#include "search/link_capture.h"
#include "search/link_emitter.h"
#include "search/record_buffer.h"
#include "search/scan_kernels.h"
#include "search/search_sink.h"

class AnchorScanner {
public:
    AnchorScanner(SearchSink& sink, InputReader& input, LinkCapture& capture, LinkEmitter& emitter,
                  RecordBuffer& records, const ScanKernels& kernels)
        : sink_(sink),
          input_(input),
          capture_(capture),
          emitter_(emitter),
          records_(records),
          kernels_(kernels),
          find_(kernels.findAnchorOrRun) {}
    AnchorScanner(const AnchorScanner&) = delete;
    AnchorScanner& operator=(const AnchorScanner&) = delete;

    // Takes `<a href="https://` anchors as well.
    void SetHttps(bool https) {
        https_ = https;
        find_ = https ? kernels_.findAnchorOrRunHttps : kernels_.findAnchorOrRun;
    }

    // Scans the input begun to its end. A failed read ends the scan with the
    // sink's message; at the end the sink learns what was delivered last.
    void ScanAll() {
        rangeEnd_ = -1;
        Scan();
    }
    // Scans the cycles whose '<' lies before `end`, from the input's
    // position on. FinishRange() after it, however it ended, makes Next()
    // where the scan that follows begins.
    void ScanRange(long long end) {
        rangeEnd_ = end;
        next_ = input_.Offset();
        Scan();
    }
    void FinishRange() {
        if (rangeEnd_ >= 0 && next_ < rangeEnd_) next_ = input_.Offset() > rangeEnd_ ? input_.Offset() : rangeEnd_;
    }
    long long Next() const { return next_; }

private:
    void Scan();
    bool SkipToLessThan();
    bool SkipToCandidate();
    int CompareWithPattern(int* read);
    void Settle();

    SearchSink& sink_;
    InputReader& input_;
    LinkCapture& capture_;
    LinkEmitter& emitter_;
    RecordBuffer& records_;
    const ScanKernels& kernels_;
    bool https_ = false;
    const unsigned char* (*find_)(const unsigned char*, const unsigned char*);  // the kernel's, for the openings taken
    long long rangeEnd_ = -1;  // a range's end, or -1
    long long next_ = 0;
};

#endif
