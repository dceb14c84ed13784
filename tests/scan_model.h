// The judge: the search as the plain byte-at-a-time algorithm, over a page in
// memory. Every byte is one read of length 1 at the position, a failed
// comparison really moves the position back 14 bytes, and whole addresses are
// kept. The fast search must leave exactly what this leaves.
#ifndef TALVERON_TESTS_SCAN_MODEL_H
#define TALVERON_TESTS_SCAN_MODEL_H

#include <array>
#include <cstddef>
#include <string>
#include <vector>

struct ModelMessage {
    std::string text;
    std::string caption;
    bool operator==(const ModelMessage& o) const { return text == o.text && caption == o.caption; }
};

struct ModelRun {
    std::string out;                       // OUT.TXT
    std::vector<ModelMessage> messages;    // after the start message
    std::string status;                    // g_strStatus at the end
    std::array<std::string, 6> keywords;   // slots 1..6
    // Without https: where the '<' of each `<a href="https://` anchor passed
    // over stands (its last '/' looked at, not read, when the comparison
    // before leaves input behind it).
    std::vector<std::size_t> httpsPassedOver;
    std::size_t httpsBeforeFirstRecord = 0;  // of them, those before the first record
};

constexpr std::size_t kReadable = static_cast<std::size_t>(-1);

// The search over `page` with `keywordLine`. Bytes from `unreadableFrom` on
// cannot be read: a read there fails, and so does the end-of-input test.
// With `https`, `<a href="https://` anchors are taken as well.
ModelRun ModelSearch(const std::string& page, const std::string& keywordLine,
                     std::size_t unreadableFrom = kReadable, bool https = false);

#endif
