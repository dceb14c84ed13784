// Link capture and normalisation: the address behind a recognised anchor.
#include <cstring>

#include "module/module_object.h"
#include "search/input_reader.h"
#include "search/scan_kernels.h"
#include "search/search.h"

namespace {
int s_urlTextLength;      // g_strUrl's length up to its first 0 byte
long long s_urlOffset;    // the input offset of its anchor's '<'
}

int UrlTextLength() { return s_urlTextLength; }
long long UrlOffset() { return s_urlOffset; }

CString& UrlString() {
    // Built at the first full anchor match after load, and so destroyed first
    // at unload; it keeps its last address between searches.
    static ModuleString g_strUrl("g_strUrl");
    return g_strUrl;
}

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
bool CaptureLink() {
    CString& url = UrlString();
    // The address is built in place; kRecordBufferSize bytes is all it keeps
    // (and room for the "/" that normalising may add).
    char* text = url.GetBuffer(kRecordBufferSize + 1);
    std::memcpy(text, "http://", 7);
    int length = 7;
    s_urlOffset = InputOffset() - 16;  // the whole opening lies behind
    s_urlTextLength = -1;
    for (;;) {
        if (g_input.pos == g_input.end && !RefillInput()) {
            // Byte by byte, a last byte 0 is followed by the end-of-input test
            // alone, any other byte by one more read, which finds the end.
            g_input.last = g_input.pos[-1] == 0 ? 0 : kLastWasEnd;
            url.ReleaseBuffer(length);
            if (s_urlTextLength < 0) s_urlTextLength = length;
            return false;
        }
        long zero;
        const unsigned char* quote = FindAddressEnd(g_input.pos, g_input.end, &zero);
        long piece = (quote ? quote : g_input.end) - g_input.pos;
        long room = kRecordBufferSize - length;
        if (piece > room) piece = room;
        if (s_urlTextLength < 0 && zero >= 0 && zero < piece) s_urlTextLength = length + static_cast<int>(zero);
        std::memcpy(text + length, g_input.pos, static_cast<std::size_t>(piece));
        length += static_cast<int>(piece);
        if (quote) {
            g_input.pos = quote + 1;
            g_input.last = '"';
            url.ReleaseBuffer(length);
            if (s_urlTextLength < 0) s_urlTextLength = length;
            return true;
        }
        g_input.pos = g_input.end;
    }
}

namespace {

// True when `c` is the lower-case letter `letter` in either case.
inline bool IsLetter(char c, char letter) { return (c | 0x20) == letter; }

}  // namespace

void NormaliseLink() {
    CString& url = UrlString();
    int length = url.GetLength();  // the whole address, past any 0 byte
    char* text = url.GetBuffer(length + 1);
    // Its last five bytes ".html" or last four ".htm", ASCII letters in any
    // case, or its last byte "/". The address is never shorter than 7 bytes.
    const char* tail = text + length - 5;
    bool htm = tail[1] == '.' && IsLetter(tail[2], 'h') && IsLetter(tail[3], 't') && IsLetter(tail[4], 'm');
    bool html = tail[0] == '.' && IsLetter(tail[1], 'h') && IsLetter(tail[2], 't') && IsLetter(tail[3], 'm') &&
                IsLetter(tail[4], 'l');
    if (htm || html || tail[4] == '/') return;
    text[length] = '/';
    url.ReleaseBuffer(length + 1);
    if (s_urlTextLength == length) s_urlTextLength = length + 1;  // no 0 byte: the "/" counts
}
