// The HTML standard's tokenizer, reduced to what finds hyperlinks: it walks
// a page's bytes in any pieces, keeps its state from one piece to the next,
// and reports the start tags that carry an address (a and area with href;
// a in SVG with href or xlink:href, and in MathML with href; the first base
// with href; and, of the kinds asked for, the elements of the HTML
// namespace that link_search.h lists). With text asked for, it hands over
// the text of an a (its character tokens) until the a leaves the stack. It follows the tokenizer's states exactly (tags and their
// attributes, comments with their odd endings, doctypes, bogus comments,
// CDATA sections, RCDATA, RAWTEXT, script data with its escaped states,
// PLAINTEXT), and of the tree builder the switches it makes: which elements
// hold raw text, the foreign content of svg and math with their integration
// points, and the first base of the document (none inside a template).
//
// The stack of open elements is kept as the tree builder keeps it, in
// brief: each element's name, namespace and the kinds that its rules ask
// about (special, the bounds of each scope, integration points), so that an
// end tag in foreign content that names an HTML element open around it ends
// the foreign content, and a raw text element's end tag closes it alone.
// Of the HTML rules it follows those that open and close elements (implied
// ends of p, li, dd, dt, headings, table cells and rows, option; scopes;
// the adoption agency as it leaves the stack); a select is read by the
// rules of 2025 (it switches nothing). What it does not follow: a
// frameset's document is read as any other, the active formatting elements
// are not opened again, and the insertion modes of a table and a template
// are not kept.
#ifndef TALVERON_HTML_LINK_TOKENIZER_H
#define TALVERON_HTML_LINK_TOKENIZER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class LinkTokenizer {
public:
    enum class Found { kLink, kBase };
    // A tag that carries an address: its kind, the element's and the
    // attribute's names (lower case), the attribute's value as written
    // (character references not yet decoded, 0 bytes as U+FFFD), whether
    // the value was longer than kValueMax bytes (then only its first
    // kValueMax bytes are given), its rel attribute (null when none, or
    // when fields are not asked for), whether the value is a refresh's
    // content, and the page offset of the tag's '<'. `anchor` numbers an a
    // whose text is asked for (0: none).
    struct Link {
        Found kind = Found::kLink;
        const char* element = "a";
        const char* attribute = "href";
        std::string_view value;
        bool tooLong = false;
        const std::string* rel = nullptr;
        bool refresh = false;
        std::uint32_t anchor = 0;
        long long offset = 0;
    };
    // How the text of a run of character tokens is read: data (character
    // references decoded, 0 bytes dropped as the tree builder drops them),
    // RCDATA (references decoded, 0 as U+FFFD), raw text (as it is, 0 as
    // U+FFFD).
    enum class TextKind : std::uint8_t { kData, kRcdata, kRaw };
    class Handler {
    public:
        // For an a with `anchor`: true when its text is to follow.
        virtual bool Tag(const Link& link) = 0;
        // Text of the open a's, in pieces; `whole`: the run ends here (a
        // '<' follows it), no reference goes on past it.
        virtual void Text(const unsigned char* from, const unsigned char* to, TextKind kind, bool whole) {
            (void)from, (void)to, (void)kind, (void)whole;
        }
        // The last `bytes` of the text given were an end tag's, no text.
        virtual void TextDrop(std::size_t bytes) { (void)bytes; }
        // The a numbered `anchor` left the stack: its text is whole.
        virtual void AnchorEnd(std::uint32_t anchor) { (void)anchor; }

    protected:
        ~Handler() = default;
    };

    // Which elements count besides a and area: bits of kLinks...
    enum : unsigned {
        kLinksA = 0x01,
        kLinksArea = 0x02,
        kLinksRedirect = 0x04,
        kLinksFrame = 0x08,
        kLinksLink = 0x10,
        kLinksForm = 0x20,
        kLinksResource = 0x40,
    };

    // The most bytes of one attribute value kept.
    static constexpr std::size_t kValueMax = 256 * 1024;

    explicit LinkTokenizer(Handler& handler);

    // The page's next bytes, [p, end); `offset` is the page offset of `p`.
    void Feed(const unsigned char* p, const unsigned char* end, long long offset);
    // At the end of the page: a tag not closed by then is no tag; the open
    // a's texts end.
    void Finish();
    // The kinds of link reported (kLinks... bits; a and area by default).
    void SetLinks(unsigned links) { links_ = links; }
    // Fields besides the value (rel), and the text of a's.
    void SetFields(bool fields) { fields_ = fields; }

    // Starts again for a new page.
    void Reset();

private:
    enum State : std::uint8_t;
    enum Tag : std::uint8_t;
    enum Attr : std::uint8_t {
        kAttrOther,
        kAttrHref,
        kAttrXlinkHref,
        kAttrEncoding,
        kAttrFontish,
        kAttrSrc,
        kAttrAction,
        kAttrData,
        kAttrPoster,
        kAttrRel,
        kAttrType,
        kAttrHttpEquiv,
        kAttrContent,
        kAttrs
    };
    enum Namespace : std::uint8_t { kHtml = 0, kSvg = 1, kMath = 2 };
    enum Point : std::uint8_t { kNoPoint, kHtmlPoint, kMathTextPoint, kAnnotationPoint };
    // The kinds of open element that the rules look for, each with the
    // positions of such elements on the stack (lowest first).
    enum Mark : std::uint8_t {
        kMarkHtml,       // an HTML element
        kMarkHtmlLike,   // an HTML element or an integration point that holds HTML
        kMarkSpecial,    // the standard's special category
        kMarkScope,      // bounds the scope of an element
        kMarkButton,     // ... of a p (button scope)
        kMarkList,       // ... of an li (list item scope)
        kMarkTable,      // ... of a table's parts (table scope)
        kMarkTemplate,
        kMarkItemStop,   // special but address, div and p: where li, dd, dt stop
        kMarkP,
        kMarkHeading,
        kMarkCell,       // td, th
        kMarkRow,        // tr
        kMarkSection,    // tbody, thead, tfoot
        kMarkMarker,     // puts a marker among the active formatting elements
        kMarks
    };

    struct Element {
        std::uint64_t low, high;  // the name's bytes, as the tag's
        std::uint32_t sameBelow;  // the nearest open element of its name and kind, or kNone
        std::int32_t last[kMarks];  // the topmost element of each kind at or below it; -1: none
        Namespace ns;
        Point point;
        bool named;               // its name is held (at most kNameMax bytes)
        std::uint32_t anchor;     // an a whose text is asked for; 0: none
        std::uint8_t index;       // of its name in the table of tags, from 1; 0: none
    };
    static constexpr std::size_t kKnownNames = 160;
    static constexpr std::size_t kNameMax = 15;
    static constexpr std::size_t kStackDepth = 4096;
    static constexpr std::uint32_t kNone = ~0u;

    struct NameKey {
        std::uint64_t low, high;  // high's top bit: foreign
        bool operator==(const NameKey& other) const { return low == other.low && high == other.high; }
    };
    struct NameHash {
        std::size_t operator()(const NameKey& key) const {
            return static_cast<std::size_t>((key.low ^ (key.high * 31)) * 0x9E3779B97F4A7C15ull >> 20);
        }
    };

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
    void Report(Found kind, const char* element, Attr attr, bool refresh = false);
    void ReportElement();
    void EndAnchorsFrom(long position);
    void GiveText(const unsigned char* from, const unsigned char* to, TextKind kind, bool whole) {
        if (textOn_ && from != to) handler_.Text(from, to, kind, whole);
    }
    TextKind RawKind() const;
    void FeedPiece(const unsigned char* p, const unsigned char* end, long long offset);
    void StartTag(Tag tag);
    void EndTag(Tag tag);
    bool HtmlRules(Tag tag) const;
    bool ForeignCurrent() const { return !open_.empty() && open_.back().ns != kHtml; }
    void SwitchToText(State state, Tag tag);
    void Push(Namespace ns, std::uint32_t marks);
    void PushForeign(Namespace ns, Tag tag);
    void StartHtml();
    void EndHtml();
    void PopTo(long position);
    void Unname(long position);
    long Last(Mark mark) const { return open_.empty() ? -1 : open_.back().last[mark]; }
    long Nearest(bool foreign) const;
    std::uint32_t& Topmost(std::uint8_t index, std::uint64_t low, std::uint64_t high, bool foreign);
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
    std::uint16_t flags_ = 0;  // what its name is to the stack's rules (HTML)
    bool quiet_ = true;  // its attributes do not matter
    // The attribute being read, and which of those that count were seen.
    char attrName_[kNameMax + 1];
    std::size_t attrLength_ = 0;
    Attr attr_ = kAttrOther;
    bool collecting_ = false;
    bool seen_[kAttrs] = {};
    std::string values_[kAttrs];
    bool long_[kAttrs] = {};
    std::uint32_t wanted_ = 0;  // the attributes (bits by Attr) whose values are kept
    std::uint32_t filled_ = 0;  // ... and those that hold bytes
    std::uint8_t linkTag_ = 0;  // the tag's entry among the other link elements
    unsigned links_ = kLinksA | kLinksArea;
    bool fields_ = false;
    // The markup declaration's first bytes, until they tell what it is.
    char declaration_[8];
    std::size_t declarationLength_ = 0;
    // Raw text: the element whose end tag ends it, and how much of an end
    // tag's name (or of "script" in the script's escaped states) matched.
    Tag textTag_{};
    std::size_t matched_ = 0;
    bool matching_ = false;
    bool textEnd_ = false;  // the tag is a raw text element's end tag
    // The tree builder's stack of open elements, each with the topmost of
    // each kind below it, and the topmost open element of each name by kind
    // (HTML or foreign): every rule's look down the stack takes constant
    // time.
    std::vector<Element> open_;
    std::size_t beyond_ = 0;  // opened past kStackDepth, not kept
    std::uint32_t topmostKnown_[2][kKnownNames];  // by kind (foreign: 1) and the name's index
    std::unordered_map<NameKey, std::uint32_t, NameHash> topmost_;  // other names; kNone when none
    std::uint8_t index_ = 0;  // the tag's name in the table of tags, from 1
    bool baseSeen_ = false;
    // The text of open a's: how many are open, whether their text is
    // handed over now (fields asked for and one open), the a reported by
    // the tag being read, and where the raw text of this piece began.
    std::uint32_t openAnchors_ = 0;
    std::uint32_t anchors_ = 0;
    std::uint32_t newAnchor_ = 0;
    bool textOn_ = false;
    const unsigned char* rawFrom_ = nullptr;
};

#endif
