// Byte by byte, a cycle reads up to the next '<', reads the 15 bytes behind
// it and compares them with the rest of the anchor opening; after a failed
// comparison it moves back 14 bytes, so the next cycle starts at the second
// byte behind that '<'. Within a buffered block the scan takes shortcuts that
// end in the same state: it passes over every '<' whose comparison certainly
// fails (SkipToCandidate), and compares 16 bytes at once where they are all
// in the block. Near the end of a block, and at the end of the input, it runs
// the cycle byte by byte, which also leaves the last byte delivered as it
// must be.
//
// A range search owns the cycles whose '<' lies before its end; the search
// that follows begins where the last of them leaves the next cycle.
#include "search/anchor_scanner.h"

#include <cstring>

#include "messages/messages.h"
#include "search/opening.h"

namespace {

// The opening's first byte is what the skip phase looks for; the others are
// compared.
constexpr int kCompared = kOpeningLength - 1;
// After a failed comparison the scan moves back this far, so the next skip
// starts at the second byte behind the '<'.
constexpr int kStepBack = 14;

// What a comparison found. kHttpsUntaken: the https opening but its last
// byte, compared for an https anchor that is counted, not taken (that byte
// is looked at without delivering it).
enum { kNone, kHttp, kHttps, kHttpsUntaken };

inline int ToLowerAscii(int byte) { return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte; }

}  // namespace

// Skip phase, byte by byte: delivers bytes up to and including the next '<'.
// Returns false when the input ends (or a read fails) first.
//
// That is: read a byte; stop at '<'; otherwise stop when the end-of-input
// test is not 0. A 0 byte read inside the input does not stop it. Searching
// each block with memchr delivers the same bytes and leaves the same last
// byte behind.
bool AnchorScanner::SkipToLessThan(InputReader& in) {
    for (;;) {
        if (in.Pos() == in.End() && !in.Refill()) {
            in.SetLast(kLastWasEnd);  // the read itself found the end
            return false;
        }
        const unsigned char* pos = in.Pos();
        const unsigned char* end = in.End();
        const void* hit = std::memchr(pos, '<', static_cast<std::size_t>(end - pos));
        if (hit) {
            in.MoveTo(static_cast<const unsigned char*>(hit) + 1);
            in.SetLast('<');
            return true;
        }
        in.SetLast(end[-1]);
        in.MoveTo(end);
        // The end-of-input test after the block's last byte.
        if (!in.Refill()) return false;
    }
}

// The skip phase's shortcut, for the block in memory. A '<' that does not
// begin the anchor opening and is not followed by '<' fails its comparison,
// and the move back puts the next cycle behind the byte after it, where no
// '<' stands: passing over it ends in the same state as its cycle. Those
// cycles' end-of-input tests are all 0, since every '<' passed has more than
// 16 bytes behind it in the block. Returns true at a '<' that begins the
// opening (position behind it, as the skip phase leaves it); false when there
// is none before the block's last bytes, with the position where the cycles
// passed over leave it.
bool AnchorScanner::SkipToCandidate(InputReader& in) {
    const unsigned char* from = in.Pos();
    const unsigned char* end = in.End();
    if (end - from <= kKernelLookahead) return false;
    const unsigned char* limit = end - kKernelLookahead;
    if (rangeEnd_ >= 0 && rangeEnd_ < in.OffsetOf(limit)) {
        // Only the range's own '<' are examined here.
        if (rangeEnd_ <= in.OffsetOf(from)) return false;
        limit = in.At(rangeEnd_);
    }
    while (const unsigned char* candidate = Find(from, limit)) {
        if (candidate[1] != '<') {  // the anchor opening
            in.MoveTo(candidate + 1);
            return true;
        }
        // A run of '<': its first one is examined and fails, so the third is
        // examined, and so on. Only the last '<' of the run can begin the
        // opening, and it is examined when the run's length is odd; else the
        // one before it was, and the next cycle starts behind the run.
        const unsigned char* last = candidate + 1;
        while (last < limit && last[1] == '<') ++last;
        if (last >= limit) {
            // The run goes on past the limit: every '<' examined before it
            // fails; the next cycle starts behind the last of them.
            in.MoveTo(candidate + 2 * ((limit - 1 - candidate) / 2) + 2);
            return false;
        }
        from = (last - candidate) % 2 == 0 ? last : last + 1;
    }
    // A '<' passed over in the last byte before the limit moves the next
    // cycle one byte past it.
    in.MoveTo(limit[-1] == '<' ? limit + 1 : limit);
    return false;
}

// Comparison phase, byte by byte: reads the 15 bytes behind the '<', all of
// them whatever matches. Returns the opening they complete: kHttp, or, when
// https anchors are taken and they are "a href=\"https:/", kHttps after one
// more byte read that is "/"; else kNone, with how many bytes were read.
int AnchorScanner::CompareWithPattern(InputReader& in, int* read) {
    bool http = true, https = https_ || CountingHttps();
    for (int step = 1; step <= kCompared; ++step) {
        int byte = ToLowerAscii(in.NextByte());
        http &= byte == kOpening[step];
        https &= byte == kHttpsOpening[step];
    }
    *read = kCompared;
    if (http) return kHttp;
    if (!https) return kNone;
    if (!https_) return kHttpsUntaken;
    *read = kCompared + 1;
    return in.NextByte() == kHttpsOpening[kCompared + 1] ? kHttps : kNone;
}

// Writes out the records gathered and tells the sink what the last step
// delivered, as the byte-by-byte search would have them when a message shows
// or the scan ends.
void AnchorScanner::Settle(const InputReader& in) {
    records_.Write();
    sink_.Settled(in.Last());
}

void AnchorScanner::Scan(InputReader& in, LinkCapture& capture, LinkEmitter& emitter) {
    for (;;) {
        int opening;
        if (SkipToCandidate(in)) {
            // The '<' found begins a whole opening, or a run of '<' (whose
            // comparison fails at its first byte). Either way its bytes and
            // more are in the block, so after a failed comparison the move back
            // comes.
            const unsigned char* pos = in.Pos();
            opening = *pos == '<' ? kNone : https_ && (pos[kSchemeOffset + 3] | 0x20) == 's' ? kHttps : kHttp;
            in.MoveTo(pos + (opening == kHttps  ? kCompared + 1
                             : opening == kHttp ? kCompared
                                                : kCompared - kStepBack));
        } else {
            // A skip that ends without '<' is still followed by a comparison;
            // it reads only end-of-input zeros and cannot match.
            long long skipStart = in.Offset();
            bool found = SkipToLessThan(in);
            if (rangeEnd_ >= 0 && (found ? in.Offset() - 1 >= rangeEnd_ : !in.Failed() || in.FailedAt() >= rangeEnd_)) {
                // The '<' found (or the end) is the next range's; so is the
                // skip from the range's end, which finds it as well, and a
                // read behind the end that failed, which fails the next
                // range. One inside the range ends it as it ends a search.
                in.ForgetFailure();
                next_ = skipStart > rangeEnd_ ? skipStart : rangeEnd_;
                break;
            }
            int read;
            opening = CompareWithPattern(in, &read);
            bool untaken = opening == kHttpsUntaken;
            if (untaken) opening = kNone;
            // Back to the second byte behind the '<'.
            if (opening == kNone && in.Eof() == 0) {
                if (untaken && *in.Pos() == kHttpsOpening[kCompared + 1]) ++httpsPassedOver_;
                in.SeekBack(read - 1);
            }
        }
        if (opening != kNone) {
            if (capture.Capture(in, opening == kHttps)) {
                capture.Normalise();
                if (emitter.Emit(capture.Link())) {
                    in.SetLast(kLastWasRecord);
                    recordMade_ = true;
                }
            } else {
                emitter.Reject(capture.Link(), kRejectUnfinished, 0);
            }
        }
        if (rangeEnd_ >= 0 && in.Offset() >= rangeEnd_ && !in.Failed()) {
            next_ = in.Offset();
            break;
        }

        int eof = in.Eof();
        if (eof == -1) {
            Settle(in);
            sink_.Message(MSG_FILE_ERROR, CAPTION_ERROR);
        }
        if (eof != 0) break;
    }
    Settle(in);
}
