// The scan's inner loops over a block of input held in memory: a plain
// version and SIMD versions for x86 (SSE2, AVX2), in one table. All give the
// same answers; the tests compare them. The best one the CPU runs is chosen
// at the first search.
#ifndef TALVERON_SEARCH_SCAN_KERNELS_H
#define TALVERON_SEARCH_SCAN_KERNELS_H

// Bytes that a kernel may read behind the end of the range it searches: the
// widest kernel looks at 32 positions at once, each with bytes up to 13
// behind it, and a whole anchor opening (16 bytes) must lie before the end.
constexpr int kKernelLookahead = 48;

struct ScanKernels {
    const char* name;
    // True when this CPU runs them.
    bool (*supported)();
    // The first '<' in [from, limit) that begins the anchor opening or is
    // followed by another '<'. Null when there is none. Reads the bytes of
    // [from, limit + kKernelLookahead).
    const unsigned char* (*findAnchorOrRun)(const unsigned char* from, const unsigned char* limit);
    // The same, where the https opening (kHttpsOpening) counts as well.
    const unsigned char* (*findAnchorOrRunHttps)(const unsigned char* from, const unsigned char* limit);
    // findAnchorOrRun, adding to *https the https openings in [from, limit)
    // passed over before the '<' it finds.
    const unsigned char* (*findAnchorOrRunCountingHttps)(const unsigned char* from, const unsigned char* limit,
                                                         long long* https);
    // The first '"' in [from, end), or null when there is none. *firstZero is
    // set to the offset from `from` of the first 0 byte before that quote
    // (before `end` when there is none), or to -1. Reads up to 32 bytes past
    // `end`.
    const unsigned char* (*findAddressEnd)(const unsigned char* from, const unsigned char* end, long* firstZero);
    // The first byte in [from, end) that a JSON string does not hold as it
    // is (a control byte, a byte above 0x7F, the quote, the backslash), or
    // `end`. Reads nothing past `end`.
    const unsigned char* (*findJsonEscape)(const unsigned char* from, const unsigned char* end);
};

// The table's rows, in order of preference from the last.
enum class ScanKernel { kPlain, kSse2, kAvx2 };

// The best kernel this CPU runs.
ScanKernel BestScanKernel();
// The kernel that searches begun now use; tests select each one the CPU
// runs. SelectScanKernel returns false (and changes nothing) for one it
// does not run.
ScanKernel CurrentScanKernel();
bool SelectScanKernel(ScanKernel kernel);
const ScanKernels& CurrentScanKernels();

// The current kernel's functions, for tests.
inline const unsigned char* FindAnchorOrRun(const unsigned char* from, const unsigned char* limit, bool https = false) {
    return https ? CurrentScanKernels().findAnchorOrRunHttps(from, limit)
                 : CurrentScanKernels().findAnchorOrRun(from, limit);
}
inline const unsigned char* FindJsonEscape(const unsigned char* from, const unsigned char* end) {
    return CurrentScanKernels().findJsonEscape(from, end);
}
inline const unsigned char* FindAddressEnd(const unsigned char* from, const unsigned char* end, long* firstZero) {
    return CurrentScanKernels().findAddressEnd(from, end, firstZero);
}

#endif
