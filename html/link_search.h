// The standards mode's search: a page read by the HTML standard's
// tokenizer, whose records are the addresses its hyperlinks lead to, each
// resolved against the page's base by the WHATWG URL Standard and written
// as that standard writes it. Only http and https addresses become
// records; the others, and values that are no address, are reported as
// passed over. A search owns its state and reports to a sink, as the
// module's search does, and any number may run at once.
#ifndef TALVERON_HTML_LINK_SEARCH_H
#define TALVERON_HTML_LINK_SEARCH_H

#include <memory>
#include <string>
#include <string_view>

#include "html/link_tokenizer.h"
#include "search/byte_source.h"
#include "search/keywords.h"
#include "search/search_sink.h"
#include "url/url.h"

class LinkSearch final : private LinkTokenizer::Handler {
public:
    // Bytes asked for per read.
    static constexpr std::size_t kBlockSize = 128 * 1024;
    // The longest address that becomes a record unless SetAddressMax says
    // otherwise: above the request line that common servers take (8 to 32
    // KiB), so that no address one of them can be asked for is lost, and
    // small enough that a short link resolved against a long base writes
    // no more than this.
    static constexpr std::size_t kAddressMax = 64 * 1024;

    // Drops addresses in which a keyword of `keywordLine` occurs; records
    // end in LF alone when `lfLineEnds`, else CR LF. Throws std::bad_alloc
    // when its buffers cannot be had.
    LinkSearch(SearchSink& sink, const char* keywordLine, bool lfLineEnds);

    // The page's own address, against which its links and its base are
    // resolved: "" (or one that is no address) leaves only absolute links.
    void SetAddress(std::string_view address);
    // Links whose address would be longer than `bytes` are passed over as
    // kRejectAddressTooLong (the value as written given, as far as kept).
    void SetAddressMax(std::size_t bytes) { addressMax_ = bytes; }
    // 1..kBlockSize (tests put block ends everywhere with small blocks).
    void SetBlockSize(std::size_t size) { blockSize_ = size; }
    // Keywords match with ASCII letters in either case.
    void FoldKeywordCase() { keywords_.FoldCase(); }
    // Records as JSON objects ({"url":...,"href":...,...,"offset":...}, as
    // the library's header describes them) instead of the address alone.
    void SetJson(bool json);
    // Which links become records: TALVERON_LINK_... bits of talveron.h (0:
    // a and area).
    void SetLinks(unsigned links);
    // Each address once per page (the first one's record kept).
    void SetUnique(bool unique);
    // Addresses without their fragment (keywords are looked for first).
    void SetNoFragment(bool noFragment);
    // A redirect that an HTTP response's header makes: a 3xx response's
    // Location, or a Refresh header's URL (taken out of the value as
    // <meta http-equiv=refresh> has it), resolved against the page's
    // address. Called after SetAddress and before SearchFrom; a record (the
    // first of the page's) when the links include redirects.
    enum class Header { kLocation, kRefresh };
    void HeaderLink(Header header, std::string_view value);

    // Searches the bytes of `source` to its end (a failed read ends it
    // too). False when the sink stopped the search. Throws
    // UrlConversionError when a link's domain cannot be converted for want
    // of ICU (the records before it handed over), and std::bad_alloc.
    bool SearchFrom(ByteSource& source);

    bool Stopped() const { return stopped_; }
    bool ReadFailed() const { return failed_; }
    int ReadErrno() const { return errno_; }
    long long BytesRead() const { return bytes_; }

private:
    void Tag(LinkTokenizer::Found kind, std::string_view value, bool tooLong, long long offset) override;
    bool Search(ByteSource& source);
    bool Write();

    SearchSink& sink_;
    KeywordSlots keywords_;
    const char* lineEnd_;
    LinkTokenizer tokenizer_;
    std::size_t blockSize_ = kBlockSize;
    std::size_t addressMax_ = kAddressMax;
    std::unique_ptr<unsigned char[]> block_;
    // The page's address, and the base its links are resolved against.
    Url address_, base_;
    bool haveAddress_ = false, haveBase_ = false;
    // Reused from link to link.
    std::string value_;
    Url link_;
    std::string records_;
    bool stopped_ = false, failed_ = false;
    int errno_ = 0;
    long long bytes_ = 0;
};

#endif
