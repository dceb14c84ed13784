// The anchor scanner: the cycles of skip to the next '<' and comparison with
// the anchor opening, over the input block, with the SIMD kernels' shortcuts.
// Each anchor found has its address captured and handed to the emitter. A
// range's scan owns the cycles whose '<' lies before its end.
//
// The parts that a scan drives are handed to Scan, not held: a searcher
// that owns them all and calls it once lets the scan address them directly.
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
    // Writes `records` out and reports to `sink` when the scan settles.
    AnchorScanner(SearchSink& sink, RecordBuffer& records, const ScanKernels& kernels)
        : sink_(sink), records_(records), kernels_(kernels), find_(kernels.findAnchorOrRun) {}
    AnchorScanner(const AnchorScanner&) = delete;
    AnchorScanner& operator=(const AnchorScanner&) = delete;

    // Takes `<a href="https://` anchors as well.
    void SetHttps(bool https) {
        https_ = https;
        find_ = https ? kernels_.findAnchorOrRunHttps : kernels_.findAnchorOrRun;
    }
    // Counts the `<a href="https://` anchors not taken (HttpsPassedOver),
    // so that a caller can say why a page of https links gave nothing: all
    // of them, or (`untilRecord`) those before the scan's first record,
    // which is all of them where it matters and costs nothing on pages that
    // give records. The cycles and what they deliver stay the same.
    void SetCountHttps(bool count, bool untilRecord) {
        countHttps_ = count;
        countUntilRecord_ = untilRecord;
    }
    // Of the scans since the last TakeWholeInput or TakeRange: the https
    // anchors whose '<' they owned, when counted and not taken.
    long long HttpsPassedOver() const { return httpsPassedOver_; }

    // The scans that follow take the whole input.
    void TakeWholeInput() {
        rangeEnd_ = -1;
        httpsPassedOver_ = 0;
        recordMade_ = false;
    }
    // The scans that follow take the cycles whose '<' lies in [start, end):
    // Next() is `start` until FinishRange(`input`) after the scan, however it
    // ended, makes it where the scan that follows begins.
    void TakeRange(long long start, long long end) {
        rangeEnd_ = end;
        httpsPassedOver_ = 0;
        recordMade_ = false;
        next_ = start;
    }
    void FinishRange(const InputReader& input) {
        if (rangeEnd_ >= 0 && next_ < rangeEnd_) next_ = input.Offset() > rangeEnd_ ? input.Offset() : rangeEnd_;
    }

    // Scans `input` from its position to its end, or its range's, its
    // addresses captured by `capture` and handed to `emitter`. A failed read
    // ends the scan with the sink's message; at the end the sink learns what
    // was delivered last.
    void Scan(InputReader& input, LinkCapture& capture, LinkEmitter& emitter);
    long long Next() const { return next_; }

private:
    bool SkipToLessThan(InputReader& in);
    bool SkipToCandidate(InputReader& in);
    int CompareWithPattern(InputReader& in, int* read);
    void Settle(const InputReader& in);
    bool CountingHttps() const { return countHttps_ && !https_ && !(countUntilRecord_ && recordMade_); }
    const unsigned char* Find(const unsigned char* from, const unsigned char* limit) {
        return CountingHttps() ? kernels_.findAnchorOrRunCountingHttps(from, limit, &httpsPassedOver_)
                               : find_(from, limit);
    }

    SearchSink& sink_;
    RecordBuffer& records_;
    const ScanKernels& kernels_;
    bool https_ = false;
    bool countHttps_ = false;
    bool countUntilRecord_ = false;
    bool recordMade_ = false;  // by this scan
    long long httpsPassedOver_ = 0;
    const unsigned char* (*find_)(const unsigned char*, const unsigned char*);  // the kernel's, for the openings taken
    long long rangeEnd_ = -1;  // a range's end, or -1
    long long next_ = 0;
};

#endif
