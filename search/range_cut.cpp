#include "search/range_cut.h"

#include <memory>

#include "runtime/runtime.h"
#include "search/opening.h"

static_assert(kCutClearance >= 2 * kOpeningLength, "an address must begin within the clearance");

long long FindRangeCut(int fd, long long near, long long window) {
    if (near <= 0) return 0;  // every search begins there
    constexpr unsigned int kPiece = 64 * 1024;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kPiece]);
    // Positions of the last '<' and the last quote seen, before the byte at hand.
    long long lastLt = -kCutClearance - 1, lastQuote = -kOpeningLength - 1;
    long long from = near > kCutClearance ? near - kCutClearance : 0;
    long long last = near + window;  // no cut at or past this
    for (long long at = from; at < last;) {
        long long piece = last - at < kPiece ? last - at : kPiece;
        int n = rt::ReadAt(fd, buffer.get(), static_cast<unsigned int>(piece), at);
        if (n <= 0) return -1;  // the end, or a failed read: no cut here
        for (int i = 0; i < n; ++i, ++at) {
            // The byte at `at` is the first behind a possible cut at `at`.
            if (at >= near && at - lastLt > kCutClearance && at - lastQuote <= kOpeningLength) return at;
            if (buffer[i] == '<') lastLt = at;
            if (buffer[i] == '"') lastQuote = at;
        }
    }
    return -1;
}
