// The HTML standard's tokenizer, reduced to what finds hyperlinks: it walks
// a page's bytes in any pieces, keeps its state from one piece to the next,
// and reports the start tags that carry an address (a and area with href;
// a in SVG with href or xlink:href, and in MathML with href; the first base
// with href). It follows the tokenizer's states exactly (tags and their
// attributes, comments with their odd endings, doctypes, bogus comments,
// CDATA sections, RCDATA, RAWTEXT, script data with its escaped states,
// PLAINTEXT), and of the tree builder the switches it makes: which elements
// hold raw text, the foreign content of svg and math with their integration
// points, and a select, in which most start tags are passed over.
//
// What a streaming reader does not follow: HTML elements opened inside an
// SVG or MathML integration point are not kept, so the integration point's
// end tag is taken to close it even when one of them is still open; a
// frameset's document is read as any other; a select is closed by table
// tags wherever it stands.
#ifndef TALVERON_HTML_LINK_TOKENIZER_H
#define TALVERON_HTML_LINK_TOKENIZER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class LinkTokenizer {
public:
    enum class Found { kLink, kBase };
    // Where a tag that carries an address is reported: its kind, the
    // attribute's value as written (character references not yet decoded,
    // 0 bytes as U+FFFD), whether the value was longer than kValueMax bytes
    // (then only its first kValueMax bytes are given), and the page offset
    // of the tag's '<'.
    class Handler {
    public:
        virtual void Tag(Found kind, std::string_view value, bool tooLong, long long offset) = 0;

    protected:
        ~Handler() = default;
    };

    // The most bytes of one attribute value kept.
    static constexpr std::size_t kValueMax = 256 * 1024;

    explicit LinkTokenizer(Handler& handler) : handler_(handler) {}

    // The page's next bytes, [p, end); `offset` is the page offset of `p`.
    void Feed(const unsigned char* p, const unsigned char* end, long long offset);
    // At the end of the page: a tag not closed by then is no tag.
    void Finish() {}

    // Starts again for a new page.
    void Reset();

private:
    enum State : std::uint8_t;
    enum Tag : std::uint8_t;
    enum Attr : std::uint8_t { kAttrOther, kAttrHref, kAttrXlinkHref, kAttrEncoding, kAttrFontish };
    enum Namespace : std::uint8_t { kSvg = 1, kMath = 2 };
    enum Point : std::uint8_t { kNoPoint, kHtmlPoint, kMathTextPoint, kAnnotationPoint };

    struct Foreign {
        Namespace ns;
        Point point;
        std::uint8_t length;  // of the name; kNameMax + 1 when longer
        std::uint64_t low, high;  // the name's bytes, as the tag's
    };
    static constexpr std::size_t kNameMax = 15;
    static constexpr std::size_t kForeignDepth = 4096;

    template <bool kQuiet>
    const unsigned char* Attributes(const unsigned char* p, const unsigned char* end);
    void BeginTag(bool endTag, long long offset);
    void NameByte(unsigned char byte);
    void BeginAttribute();
    void AttributeNameByte(unsigned char byte);
    void EndAttributeName();
    void ValueBytes(const unsigned char* from, const unsigned char* to);
    void NameDone();
    void EmitTag();
    void StartTag(Tag tag);
    void EndTag(Tag tag);
    bool HtmlRules(Tag tag) const;
    void SwitchToText(State state, Tag tag);
    void PushForeign(Namespace ns, Tag tag);
    bool AppropriateEnd() const;

    Handler& handler_;
    State state_{};
    State textState_{};  // the text that an end tag not appropriate returns to
    // The tag being read.
    bool endTag_ = false;
    bool selfClosing_ = false;
    long long tagOffset_ = 0;
    std::uint64_t nameLow_ = 0, nameHigh_ = 0;  // its bytes, lower case, then 0
    std::size_t nameLength_ = 0;  // kNameMax + 1 when longer
    Tag tag_{};
    bool quiet_ = true;  // its attributes do not matter
    // The attribute being read, and which of those that count were seen.
    char attrName_[kNameMax + 1];
    std::size_t attrLength_ = 0;
    Attr attr_ = kAttrOther;
    bool collecting_ = false;
    bool seen_[5] = {};
    std::string href_, xlinkHref_, encoding_;
    bool hrefLong_ = false, xlinkLong_ = false;
    // The markup declaration's first bytes, until they tell what it is.
    char declaration_[8];
    std::size_t declarationLength_ = 0;
    // Raw text: the element whose end tag ends it, and how much of an end
    // tag's name (or of "script" in the script's escaped states) matched.
    Tag textTag_{};
    std::size_t matched_ = 0;
    bool matching_ = false;
    // The tree builder's switches.
    std::vector<Foreign> foreign_;
    std::size_t foreignBeyond_ = 0;  // pushed past kForeignDepth, not kept
    bool inSelect_ = false;
    bool baseSeen_ = false;
};

#endif
