// Link capture and normalisation: the address behind a recognised anchor.
#include <cstring>

#include "module/module_object.h"
#include "search/input_reader.h"
#include "search/search.h"

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
    url = "http://";
    for (;;) {
        if (g_input.pos == g_input.end && !RefillInput()) {
            // Byte by byte, a last byte 0 is followed by the end-of-input test
            // alone, any other byte by one more read, which finds the end.
            g_input.last = g_input.pos[-1] == 0 ? 0 : kLastWasEnd;
            return false;
        }
        std::size_t available = static_cast<std::size_t>(g_input.end - g_input.pos);
        const unsigned char* quote =
            static_cast<const unsigned char*>(std::memchr(g_input.pos, '"', available));
        std::size_t length = quote ? static_cast<std::size_t>(quote - g_input.pos) : available;
        std::size_t room = static_cast<std::size_t>(kRecordBufferSize - url.GetLength());
        if (url.GetLength() < kRecordBufferSize) {
            url.Append(reinterpret_cast<const char*>(g_input.pos),
                       static_cast<int>(length < room ? length : room));
        }
        if (quote) {
            g_input.pos = quote + 1;
            g_input.last = '"';
            return true;
        }
        g_input.pos = g_input.end;
    }
}

namespace {

// True when the last bytes of `text` (length `length`) equal `ending` once
// their ASCII capitals are lowered; `ending` is lower-case.
bool EndsWithIgnoringCase(const char* text, int length, const char* ending) {
    int size = static_cast<int>(std::strlen(ending));
    if (length < size) return false;
    const char* tail = text + length - size;
    for (int i = 0; i < size; ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
        if (c != ending[i]) return false;
    }
    return true;
}

}  // namespace

void NormaliseLink() {
    CString& url = UrlString();
    int length = url.GetLength();  // the whole address, past any 0 byte
    const char* text = url;
    if (EndsWithIgnoringCase(text, length, ".html")) return;
    if (EndsWithIgnoringCase(text, length, ".htm")) return;
    if (text[length - 1] == '/') return;
    url += '/';
}
