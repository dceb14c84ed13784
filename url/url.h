// A URL as the WHATWG URL Standard parses and serializes it: what a browser
// makes of an href (new URL(value, base).href), used to resolve the links
// of a page against the page's address.
//
// Parsing into an object that has parsed before reuses its strings, so that
// a long run of ordinary links allocates nothing once the strings have grown.
#ifndef TALVERON_URL_URL_H
#define TALVERON_URL_URL_H

#include <string>
#include <string_view>

class Url {
public:
    // Parses `input` against `base` (null: none) by the standard's basic URL
    // parser, without a state override. Bytes from 0x80 up are UTF-8, each
    // invalid sequence read as one U+FFFD as a UTF-8 decoder with
    // replacement reads it. Returns false on failure, leaving *this
    // unspecified (but fit to parse into again). `base` must be a Url whose
    // last Parse succeeded; it may be this object, and `input` may be this
    // object's Href().
    bool Parse(std::string_view input, const Url* base);

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
    // Working space kept between parses: the input cleaned of tabs and
    // newlines (or of invalid UTF-8), and a host percent-decoded.
    std::string input_;
    std::string decoded_;
};

#endif
