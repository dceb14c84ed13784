#include "search/link_capture.h"

#include <cstring>

#include "search/opening.h"

// Byte by byte the capture is: read a byte; stop at the double quote (consumed,
// not kept); at a read that yields 0, stop if the end-of-input test is not 0;
// otherwise append the byte, 0 included. Searching each block for the quote
// with memchr delivers the same bytes and appends the same ones.
//
// Of the address only the first kRecordBufferSize bytes are kept. That is
// enough for the same records as with the whole address: an address with no 0
// byte among them is longer than kMaxAddress bytes and is dropped whatever its
// end, and one with a 0 byte among them ends there for the filter and the
// record, so what follows (its end, and a "/" that normalising adds) is never
// seen.
bool LinkCapture::Capture(InputReader& input, bool https) {
    // The address begins with the opening's "http://" or "https://", in
    // lower case.
    const unsigned char* opening = https ? kHttpsOpening : kOpening;
    int openingLength = https ? kHttpsOpeningLength : kOpeningLength;
    char* text = link_.text;
    int length = openingLength - kSchemeOffset;
    std::memcpy(text, opening + kSchemeOffset, static_cast<std::size_t>(length));
    link_.offset = input.Offset() - openingLength;  // the whole opening lies behind
    int textLength = -1;
    for (;;) {
        const unsigned char* pos = input.Pos();
        const unsigned char* end = input.End();
        if (pos == end && !input.Refill()) {
            // Byte by byte, a last byte 0 is followed by the end-of-input test
            // alone, any other byte by one more read, which finds the end.
            input.SetLast(input.Pos()[-1] == 0 ? 0 : kLastWasEnd);
            link_.length = length;
            text[length] = '\0';
            link_.textLength = textLength < 0 ? length : textLength;
            return false;
        }
        pos = input.Pos();
        end = input.End();
        long zero;
        const unsigned char* quote = findAddressEnd_(pos, end, &zero);
        long piece = (quote ? quote : end) - pos;
        long room = kRecordBufferSize - length;
        if (piece > room) piece = room;
        if (textLength < 0 && zero >= 0 && zero < piece) textLength = length + static_cast<int>(zero);
        std::memcpy(text + length, pos, static_cast<std::size_t>(piece));
        length += static_cast<int>(piece);
        if (quote) {
            input.MoveTo(quote + 1);
            input.SetLast('"');
            link_.length = length;
            text[length] = '\0';
            link_.textLength = textLength < 0 ? length : textLength;
            return true;
        }
        input.MoveTo(end);
    }
}

namespace {

// True when `c` is the lower-case letter `letter` in either case.
inline bool IsLetter(char c, char letter) { return (c | 0x20) == letter; }

}  // namespace

void LinkCapture::Normalise() {
    int length = link_.length;  // the whole address as kept, past any 0 byte
    char* text = link_.text;
    // Its last five bytes ".html" or last four ".htm", ASCII letters in any
    // case, or its last byte "/". The address is never shorter than 7 bytes.
    const char* tail = text + length - 5;
    bool htm = tail[1] == '.' && IsLetter(tail[2], 'h') && IsLetter(tail[3], 't') && IsLetter(tail[4], 'm');
    bool html = tail[0] == '.' && IsLetter(tail[1], 'h') && IsLetter(tail[2], 't') && IsLetter(tail[3], 'm') &&
                IsLetter(tail[4], 'l');
    if (htm || html || tail[4] == '/') return;
    text[length] = '/';
    text[length + 1] = '\0';
    link_.length = length + 1;
    if (link_.textLength == length) link_.textLength = length + 1;  // no 0 byte: the "/" counts
}
