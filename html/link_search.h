// The standards mode's search: a page read by the HTML standard's
// tokenizer, whose records are the addresses its hyperlinks lead to, each
// resolved against the page's base by the WHATWG URL Standard and written
// as that standard writes it. Only http and https addresses become
// records; the others, and values that are no address, are reported as
// passed over. A search owns its state and reports to a sink, as the
// module's search does, and any number may run at once.
//
// The links, by kind (SetLinks; talveron.h's TALVERON_LINK_... bits), as a
// crawl's link graph takes them (the hyperlinks and embedded resources
// that html5lib's sanitizer and Common Crawl's WAT files list by element
// and attribute):
//   a         a href; in SVG a href, else a xlink:href; in MathML a href
//   area      area href
//   frame     frame src, iframe src
//   link      link href
//   form      form action
//   resource  img src (and image src, which the tree builder makes an
//             img), script src, source src, embed src, audio src, video src
//             and poster (in that order), track src, input src when its
//             type is image (ASCII case-insensitively), object data
//   redirect  meta content when its http-equiv is refresh (ASCII
//             case-insensitively), the address taken out of it by the HTML
//             standard's shared declarative refresh steps; a content that
//             the steps refuse, or that names no address (a reload of the
//             page itself), makes no record. And HeaderLink's headers.
// Besides a (of any namespace) only elements of the HTML namespace count:
// an iframe or img inside svg or math is no link. Of each attribute the
// first of its name counts. A value of any link is resolved as an a's is
// (an empty one is the base itself). The base is the first base href
// outside a template, as before.
//
// Each record has its fields (SetJson, and a sink that WantsLinks): the
// address; href, the value as written with its character references
// decoded (of a refresh, the address part of its content; of a header,
// the header's value); the element's and the attribute's names (lower
// case; "http" and "location" or "refresh" for a header); rel as written
// (decoded; null when the element has none); the offset of the tag's '<'
// (-1 for a header); and of an a its text: the character tokens from its
// start tag until the a leaves the tree builder's stack of open elements
// (its end tag, a tag that closes it, the adoption agency, the page's
// end), as far as the reduced stack of link_tokenizer.h follows the tree
// builder. Comments are no text; references are decoded in data and
// RCDATA, raw text and script are as they stand; runs of ASCII white
// space are one space, none at either end; 0 bytes of data are dropped
// (as the tree builder drops them), others are U+FFFD; bytes that are not
// UTF-8 are U+FFFD; at most TALVERON_TEXT_MAX bytes, cut before a
// character that would not fit. Text is only gathered when fields are
// asked for.
//
// Records go out in the order of their tags. A record after an open a
// waits until the a's text is whole; that queue is bounded: when it holds
// more than kQueueRecords records or kQueueBytes bytes, the first a's
// record goes out with its text so far (as it does once its text reaches
// TALVERON_TEXT_MAX).
//
// SetUnique keeps a page's first record of each address (after
// SetNoFragment's cut): each address seen is kept as its 128-bit XXH3
// hash (search/unique_addresses.h: 16 bytes an address in a table at
// most half full), until the next page.
#ifndef TALVERON_HTML_LINK_SEARCH_H
#define TALVERON_HTML_LINK_SEARCH_H

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "html/link_tokenizer.h"
#include "search/byte_source.h"
#include "search/keywords.h"
#include "search/search_sink.h"
#include "search/unique_addresses.h"
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
    // The records that may wait behind an open a, and their bytes.
    static constexpr std::size_t kQueueRecords = 256;
    static constexpr std::size_t kQueueBytes = 256 * 1024;

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
    // address. Called after SetAddress and before SearchFrom; records (the
    // first of the page's, made when SearchFrom begins, with the settings
    // then) when the links include redirects.
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
    // A record with its fields that waits for an a's text.
    struct Waiting {
        std::string url, href, rel, text;
        const char* element;
        const char* attribute;
        long long offset;
        std::uint32_t anchor;  // 0: no a
        bool hasRel, done, space;
    };

    bool Tag(const LinkTokenizer::Link& link) override;
    void Text(const unsigned char* from, const unsigned char* to, LinkTokenizer::TextKind kind, bool whole) override;
    void TextDrop(std::size_t bytes) override;
    void AnchorEnd(std::uint32_t anchor) override;
    void StartPage();
    void HeaderRecords();
    bool Record(const char* element, const char* attribute, std::string_view href, const std::string* rel,
                long long offset, std::uint32_t anchor, const Url* against);
    void Emit(const LinkFields& fields);
    void EmitWaiting(bool all);
    void FlushText();
    void AddText(Waiting& waiting, std::string_view text, LinkTokenizer::TextKind kind);
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
    // What is asked for, and whether fields are made (JSON or a sink
    // that takes them).
    bool json_ = false, unique_ = false, noFragment_ = false, fields_ = false, linkSink_ = false;
    unsigned links_ = 0;
    bool pageStarted_ = false;
    std::vector<std::pair<Header, std::string>> headers_;
    UniqueAddresses seen_;
    // Records waiting for the text of an a (first first), those whose a
    // is open, records made before and reused, and the text not yet given
    // to the open a's (of one kind).
    std::deque<Waiting*> waiting_;
    std::size_t waitingBytes_ = 0;
    std::vector<Waiting*> open_;
    std::vector<std::unique_ptr<Waiting>> spare_;
    std::string run_, decoded_, cut_, rel_;
    LinkTokenizer::TextKind runKind_ = LinkTokenizer::TextKind::kData;
    bool stopped_ = false, failed_ = false;
    int errno_ = 0;
    long long bytes_ = 0;
};

#endif
