#include "tests/scan_model.h"

#include "messages/messages.h"

namespace {

struct Model {
    const std::string& page;
    std::size_t unreadableFrom;
    bool https;
    std::size_t pos = 0;
    bool untaken = false;  // the comparison met an https opening not taken
    bool recordMade = false;
    ModelRun run;

    // One read of length 1: the byte, or 0 with `empty` set for the end, a
    // failure and a 0 byte alike.
    int ReadInputChar() {
        if (pos >= unreadableFrom || pos >= page.size()) {
            run.status = "File End";
            return 0;
        }
        unsigned char byte = static_cast<unsigned char>(page[pos++]);
        run.status = byte == 0 ? std::string() : std::string(1, static_cast<char>(byte));
        return byte;
    }
    int Eof() const {
        if (pos >= unreadableFrom) return -1;
        return pos >= page.size() ? 1 : 0;
    }
    void SeekBack(std::size_t n) { pos = pos >= n ? pos - n : 0; }

    bool Capture(std::string& url, const char* scheme) {
        url = scheme;
        for (;;) {
            int byte = ReadInputChar();
            if (byte == 0 && Eof() != 0) return false;
            if (byte == '"') return true;
            url += static_cast<char>(byte);
        }
    }

    static std::string LowerTail(const std::string& s, std::size_t n) {
        std::string tail = s.substr(s.size() - n);
        for (char& c : tail)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return tail;
    }

    void Normalise(std::string& url) {
        if (LowerTail(url, 5) == ".html") return;
        if (LowerTail(url, 4) == ".htm") return;
        if (url.back() == '/') return;
        url += '/';
    }

    void Emit(const std::string& url) {
        std::string address = url.substr(0, url.find('\0'));
        if (address.size() > 499) return;
        for (const std::string& keyword : run.keywords)
            if (!keyword.empty() && address.find(keyword) != std::string::npos) return;
        for (char c : address)
            if (c >= 0x20 && c <= 0x7E) run.out += c;
        if (!recordMade) run.httpsBeforeFirstRecord = run.httpsPassedOver.size();
        recordMade = true;
        run.out += "\r\n";
    }

    static int Lower(int byte) { return byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte; }

    // The comparison after a '<': its 15 bytes read whatever matches; with
    // https, "a href=\"https:/" is followed by one more read, which must be
    // "/". Returns the scheme of the anchor, or null; `read` the bytes read.
    const char* Compare(int& read) {
        static const char kHttp[] = "<a href=\"http://";
        static const char kHttps[] = "<a href=\"https://";
        bool http = true, secure = true;
        for (int step = 1; step <= 15; ++step) {
            int byte = Lower(ReadInputChar());
            http &= byte == kHttp[step];
            secure &= byte == kHttps[step];
        }
        read = 15;
        if (http) return "http://";
        if (!secure) return nullptr;
        if (!https) {
            untaken = true;
            return nullptr;
        }
        read = 16;
        return ReadInputChar() == '/' ? "https://" : nullptr;
    }

    void Scan() {
        for (;;) {
            for (;;) {
                int byte = ReadInputChar();
                if (byte == '<') break;
                if (Eof() != 0) break;
            }
            int read;
            untaken = false;
            const char* scheme = Compare(read);
            if (!scheme) {
                if (Eof() == 0) {
                    if (untaken && page[pos] == '/') run.httpsPassedOver.push_back(pos - 16);
                    SeekBack(static_cast<std::size_t>(read) - 1);
                }
            } else {
                std::string url;
                if (Capture(url, scheme)) {
                    Normalise(url);
                    Emit(url);
                }
            }
            int eof = Eof();
            if (eof == -1) run.messages.push_back({MSG_FILE_ERROR, CAPTION_ERROR});
            if (eof != 0) break;
        }
    }
};

}  // namespace

ModelRun ModelSearch(const std::string& page, const std::string& keywordLine,
                     std::size_t unreadableFrom, bool https) {
    Model model{page, unreadableFrom, https, 0, false, false, {}};
    std::string line = keywordLine.substr(0, keywordLine.find('\0')).substr(0, 255);
    std::size_t slot = 0;
    for (char c : line) {
        if (c == ' ')
            ++slot;
        else if (slot < 6)
            model.run.keywords[slot] += c;
    }
    model.run.status = "Searching...";
    model.Scan();
    if (!model.recordMade) model.run.httpsBeforeFirstRecord = model.run.httpsPassedOver.size();
    return model.run;
}
