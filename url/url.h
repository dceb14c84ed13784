// A URL as the WHATWG URL Standard parses and serializes it: what a browser
// makes of an href (new URL(value, base).href), used to resolve the links
// of a page against the page's address.
//
// Parsing into an object that has parsed before reuses its strings, so that
// a long run of ordinary links allocates nothing once the strings have grown.
// A parse against a base takes the base's components only at its end, once
// the length of the result is known: a parse costs time in proportion to
// its input and its result, however long the base (its path's segments are
// found by an index made once per base).
#ifndef TALVERON_URL_URL_H
#define TALVERON_URL_URL_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A domain that could not be converted for a reason of ICU's own (not the
// domain's): thrown by Url::Parse, with what failed. ICU without memory is
// std::bad_alloc.
class UrlConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Url {
public:
    // Parses `input` against `base` (null: none) by the standard's basic URL
    // parser, without a state override. Bytes from 0x80 up are UTF-8, each
    // invalid sequence read as one U+FFFD as a UTF-8 decoder with
    // replacement reads it. Returns false on failure, leaving *this
    // unspecified (but fit to parse into again). `base` must be a Url whose
    // last Parse succeeded; it may be this object, and `input` may be this
    // object's Href(). Throws std::bad_alloc, and UrlConversionError when
    // an international domain cannot be converted for want of ICU.
    bool Parse(std::string_view input, const Url* base);

    // The longest href that a parse may give: a longer one fails, and
    // TooLong() tells so. No limit unless set.
    void SetMaxLength(std::size_t bytes) { max_length_ = bytes; }
    // Whether the last Parse failed for the length of its result alone.
    bool TooLong() const { return too_long_; }

    // The standard's serialization (href), fragment included.
    const std::string& Href() const { return href_; }

    // The scheme, lower case, without ':'.
    std::string_view Scheme() const { return scheme_; }

private:
    // The special schemes, and every other scheme.
    enum class Kind : unsigned char { kNotSpecial, kHttp, kHttps, kWs, kWss, kFtp, kFile };

    bool Run(std::string_view input, const Url* base);
    std::string_view Prepare(std::string_view input);
    bool ParseHost(std::string_view input, bool opaque);
    bool DomainToAscii(std::string_view domain);
    void ShortenPath();
    std::size_t SegmentStart(std::size_t end) const;
    std::size_t HrefSize() const;
    void TakeFromBase();
    void Serialize();

    // The components. The path is its segments each after a '/' ("" is no
    // segment, "/" one empty segment), or the opaque path as it stands; the
    // host is serialized (IPv6 in brackets).
    std::string scheme_;
    std::string username_;
    std::string password_;
    std::string host_;
    std::string path_;
    std::string query_;
    std::string fragment_;
    int port_ = -1;  // -1: none (or the scheme's default)
    Kind kind_ = Kind::kNotSpecial;
    bool has_host_ = false;
    bool opaque_path_ = false;
    bool has_query_ = false;
    bool has_fragment_ = false;

    std::string href_;
    std::size_t max_length_ = static_cast<std::size_t>(-1);
    bool too_long_ = false;
    // While a parse runs, what it takes from its base (from_): the scheme,
    // the authority (user name, password and host; the port is taken at
    // once), the query, and the first path_kept_ bytes of the path, in front
    // of path_.
    const Url* from_ = nullptr;
    bool from_scheme_ = false, from_authority_ = false, from_query_ = false;
    std::size_t path_kept_ = 0;
    // As a base: where its path's segments begin (each '/'), made when a
    // parse against it first shortens its path.
    mutable std::vector<std::size_t> slashes_;
    mutable bool slashes_made_ = false;
    // Working space kept between parses: the input cleaned of tabs and
    // newlines (or of invalid UTF-8), and a host percent-decoded.
    std::string input_;
    std::string decoded_;
};

#endif
