// The anchor recognizer: the scan's cycles of skip, compare, hand-over and
// end-of-cycle test.
#include <cstring>

#include "module/messages.h"
#include "search/input_reader.h"
#include "search/search.h"

namespace {

// The anchor opening. Index 0 is what the skip phase looks for; indices 1..15
// are compared. It holds no upper-case letter, so lower-casing the byte read
// is the whole case rule.
const unsigned char kPattern[16] = {'<', 'a', ' ', 'h', 'r', 'e', 'f', '=',
                                    '"', 'h', 't', 't', 'p', ':', '/', '/'};
constexpr int kCompared = 15;
// After a failed comparison the scan moves back this far, so the next skip
// starts at the second byte behind the '<'.
constexpr int kStepBack = 14;

inline int ToLowerAscii(int byte) { return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte; }

// Skip phase: delivers bytes up to and including the next '<'. Returns false
// when the input ends (or a read fails) first.
//
// Byte by byte this is: read a byte; stop at '<'; otherwise stop when the
// end-of-input test is not 0. A 0 byte read inside the input does not stop it.
// Searching each block with memchr delivers the same bytes and leaves the same
// last byte behind.
bool SkipToLessThan() {
    for (;;) {
        if (g_input.pos == g_input.end && !RefillInput()) {
            g_input.last = kLastWasEnd;  // the read itself found the end
            return false;
        }
        const void* hit = std::memchr(g_input.pos, '<', static_cast<std::size_t>(g_input.end - g_input.pos));
        if (hit) {
            g_input.pos = static_cast<const unsigned char*>(hit) + 1;
            g_input.last = '<';
            return true;
        }
        g_input.last = g_input.end[-1];
        g_input.pos = g_input.end;
        // The end-of-input test after the block's last byte.
        if (!RefillInput()) return false;
    }
}

// Comparison phase: reads the 15 bytes behind the '<', all of them whatever
// matches, and returns how many matched their pattern byte.
int CompareWithPattern() {
    int count = 0;
    for (int step = 1; step <= kCompared; ++step) {
        if (ToLowerAscii(NextInputByte()) == kPattern[step]) ++count;
    }
    return count;
}

}  // namespace

void ScanAnchors() {
    for (;;) {
        // A skip that ends without '<' is still followed by a comparison; it
        // reads only end-of-input zeros and cannot match.
        SkipToLessThan();

        if (CompareWithPattern() == kCompared) {
            if (CaptureLink()) {
                NormaliseLink();
                EmitLink();
            }
        } else if (InputEof() == 0) {
            InputSeekBack(kStepBack);
        }

        int eof = InputEof();
        if (eof == -1) {
            SyncInputStatus();
            ShowMessage(MSG_FILE_ERROR, CAPTION_ERROR);
        }
        if (eof != 0) break;
    }
    SyncInputStatus();
}
