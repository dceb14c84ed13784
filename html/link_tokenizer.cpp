#include "html/link_tokenizer.h"

#include <algorithm>
#include <cstring>
#include <iterator>

enum LinkTokenizer::State : std::uint8_t {
    kData,
    kRcdata,
    kRawtext,
    kScriptData,
    kPlaintext,
    kTagOpen,
    kEndTagOpen,
    kTagName,
    kBeforeAttrName,
    kAttrName,
    kAfterAttrName,
    kBeforeAttrValue,
    kAttrValueDouble,
    kAttrValueSingle,
    kAttrValueUnquoted,
    kAfterAttrValueQuoted,
    kSelfClosing,
    kBogusComment,
    kMarkupDeclaration,
    kCommentStart,
    kCommentStartDash,
    kComment,
    kCommentEndDash,
    kCommentEnd,
    kCommentEndBang,
    kDoctype,
    kCdata,
    kCdataBracket,
    kCdataEnd,
    kTextLessThan,       // RCDATA and RAWTEXT
    kTextEndTagOpen,     // RCDATA, RAWTEXT, script data, escaped or not
    kTextEndTagName,
    kScriptLessThan,
    kScriptEscapeStart,
    kScriptEscapeStartDash,
    kScriptEscaped,
    kScriptEscapedDash,
    kScriptEscapedDashDash,
    kScriptEscapedLessThan,
    kScriptDoubleEscapeStart,
    kScriptDoubleEscaped,
    kScriptDoubleEscapedDash,
    kScriptDoubleEscapedDashDash,
    kScriptDoubleEscapedLessThan,
    kScriptDoubleEscapeEnd,
};

enum LinkTokenizer::Tag : std::uint8_t {
    kOther,
    kA,
    kArea,
    kBase,
    kScript,
    kStyle,
    kXmp,
    kIframe,
    kNoembed,
    kNoframes,
    kNoscript,
    kTitle,
    kTextarea,
    kPlaintext_,
    kSvg_,
    kMath_,
    kTable,      // breaks out of foreign content
    kForeignObject,
    kDesc,
    kMathText,   // mi, mo, mn, ms, mtext
    kAnnotationXml,
    kMglyph,     // and malignmark
    kFont,
    kBreakout,   // leaves foreign content
    kTemplate,
    kP,
    kBr,
    kLi,         // and dd, dt: close the open one of their names
    kOption,     // and optgroup: close an open option
    kCell,       // td, th
    kRow,        // tr
    kSection,    // tbody, thead, tfoot
    kForm,
    kSelect,
};

namespace {

// What an HTML element's name is to the stack's rules.
enum : std::uint16_t {
    kVoid = 1,           // never open (also the raw text elements, html, head, body)
    kSpecial = 2,
    kScope = 4,          // bounds every scope
    kButtonScope = 8,    // bounds button scope
    kListScope = 16,     // bounds list item scope
    kTableScope = 32,    // bounds table scope
    kClosesP = 64,       // its start tag closes a p in button scope
    kBlockEnd = 128,     // its end tag closes it when in scope
    kFormatting = 256,
    kHeading = 512,
    kItemPass = 1024,    // address, div, p
    kInTable = 2048,     // opened only inside a table
    kTableEnd = 4096,    // its end tag closes it when in table scope
    kMarker = 8192,      // puts a marker among the active formatting elements
};
constexpr std::uint16_t kBlock = kSpecial | kClosesP | kBlockEnd;

struct Named {
    const char* name;
    std::uint8_t tag;
    std::uint16_t flags;
    std::uint8_t link = 0;  // its row in kLinkElements; 0: none
};

// The elements of the HTML namespace that link besides a and area: the
// kind of link (TALVERON_LINK_... bits), the element's name as records
// give it, and the attributes that hold addresses (bits by Attr; each
// reported in this order: src before poster).
struct LinkElement {
    unsigned kind;
    const char* name;
    std::uint32_t attributes;
};
constexpr std::uint32_t Bit(int attr) { return 1u << attr; }
enum : std::uint8_t { kLinkInput = 12, kLinkMeta = 14 };
const LinkElement kLinkElements[] = {
    {0, "", 0},
    {0x08, "frame", Bit(5)},                 // src
    {0x08, "iframe", Bit(5)},
    {0x10, "link", Bit(1)},                  // href
    {0x20, "form", Bit(6)},                  // action
    {0x40, "img", Bit(5)},
    {0x40, "script", Bit(5)},
    {0x40, "source", Bit(5)},
    {0x40, "embed", Bit(5)},
    {0x40, "audio", Bit(5)},
    {0x40, "video", Bit(5) | Bit(8)},        // src, poster
    {0x40, "track", Bit(5)},
    {0x40, "input", Bit(5) | Bit(10)},       // src when type is image
    {0x40, "object", Bit(7)},                // data
    {0x04, "meta", Bit(11) | Bit(12)},       // content when http-equiv is refresh
    {0x40, "img", Bit(5)},                   // image, which the tree builder makes an img
};
const char* const kAttrNames[] = {"",    "href", "xlink:href", "encoding", "",           "src",    "action",
                                  "data", "poster", "rel",     "type",     "http-equiv", "content"};

// The tags the tree builder's switches depend on, by name.
constexpr Named kTags[] = {
    {"a", 1, kFormatting},
    {"area", 2, kVoid | kSpecial},
    {"base", 3, kVoid | kSpecial},
    {"script", 4, kVoid | kSpecial, 6},
    {"style", 5, kVoid | kSpecial},
    {"xmp", 6, kVoid | kSpecial | kClosesP},
    {"iframe", 7, kVoid | kSpecial, 2},
    {"noembed", 8, kVoid | kSpecial},
    {"noframes", 9, kVoid | kSpecial},
    {"noscript", 10, kVoid | kSpecial},
    {"title", 11, kVoid | kSpecial},
    {"textarea", 12, kVoid | kSpecial},
    {"plaintext", 13, kVoid | kSpecial | kClosesP},
    {"svg", 14, 0},
    {"math", 15, 0},
    {"table", 16, kSpecial | kScope | kTableScope | kTableEnd},
    {"foreignobject", 17, 0},
    {"desc", 18, 0},
    {"mi", 19, 0},
    {"mo", 19, 0},
    {"mn", 19, 0},
    {"ms", 19, 0},
    {"mtext", 19, 0},
    {"annotation-xml", 20, 0},
    {"mglyph", 21, 0},
    {"malignmark", 21, 0},
    {"font", 22, kFormatting},
    {"template", 24, kSpecial | kScope | kTableScope | kMarker},
    {"p", 25, kBlock | kItemPass},
    {"br", 26, kVoid | kSpecial},
    {"li", 27, kSpecial | kClosesP},
    {"dd", 27, kSpecial | kClosesP | kBlockEnd},
    {"dt", 27, kSpecial | kClosesP | kBlockEnd},
    {"option", 28, 0},
    {"optgroup", 28, 0},
    {"td", 29, kSpecial | kScope | kInTable | kTableEnd | kMarker},
    {"th", 29, kSpecial | kScope | kInTable | kTableEnd | kMarker},
    {"tr", 30, kSpecial | kInTable | kTableEnd},
    {"tbody", 31, kSpecial | kInTable | kTableEnd},
    {"thead", 31, kSpecial | kInTable | kTableEnd},
    {"tfoot", 31, kSpecial | kInTable | kTableEnd},
    {"caption", 0, kSpecial | kScope | kInTable | kTableEnd | kMarker},
    {"colgroup", 0, kSpecial | kInTable},
    {"col", 0, kVoid | kSpecial},
    // Those that leave foreign content.
    {"b", 23, kFormatting},
    {"big", 23, kFormatting},
    {"blockquote", 23, kBlock},
    {"body", 23, kVoid | kSpecial},
    {"center", 23, kBlock},
    {"code", 23, kFormatting},
    {"div", 23, kBlock | kItemPass},
    {"dl", 23, kBlock},
    {"em", 23, kFormatting},
    {"embed", 23, kVoid | kSpecial, 8},
    {"h1", 23, kSpecial | kClosesP | kHeading},
    {"h2", 23, kSpecial | kClosesP | kHeading},
    {"h3", 23, kSpecial | kClosesP | kHeading},
    {"h4", 23, kSpecial | kClosesP | kHeading},
    {"h5", 23, kSpecial | kClosesP | kHeading},
    {"h6", 23, kSpecial | kClosesP | kHeading},
    {"head", 23, kVoid | kSpecial},
    {"hr", 23, kVoid | kSpecial | kClosesP},
    {"i", 23, kFormatting},
    {"img", 23, kVoid | kSpecial, 5},
    {"listing", 23, kBlock},
    {"menu", 23, kBlock},
    {"meta", 23, kVoid | kSpecial, 14},
    {"nobr", 23, kFormatting},
    {"ol", 23, kBlock | kListScope},
    {"pre", 23, kBlock},
    {"ruby", 23, 0},
    {"s", 23, kFormatting},
    {"small", 23, kFormatting},
    {"span", 23, 0},
    {"strong", 23, kFormatting},
    {"strike", 23, kFormatting},
    {"sub", 23, 0},
    {"sup", 23, 0},
    {"tt", 23, kFormatting},
    {"u", 23, kFormatting},
    {"ul", 23, kBlock | kListScope},
    {"var", 23, 0},
    // Others with rules of their own in the stack.
    {"html", 0, kVoid | kSpecial},
    {"frameset", 0, kVoid | kSpecial},
    {"address", 0, kBlock | kItemPass},
    {"article", 0, kBlock},
    {"aside", 0, kBlock},
    {"details", 0, kBlock},
    {"dialog", 0, kBlock},
    {"dir", 0, kBlock},
    {"fieldset", 0, kBlock},
    {"figcaption", 0, kBlock},
    {"figure", 0, kBlock},
    {"footer", 0, kBlock},
    {"header", 0, kBlock},
    {"hgroup", 0, kBlock},
    {"main", 0, kBlock},
    {"nav", 0, kBlock},
    {"search", 0, kBlock},
    {"section", 0, kBlock},
    {"summary", 0, kBlock},
    {"form", 32, kSpecial | kClosesP, 4},
    {"button", 0, kSpecial | kButtonScope | kBlockEnd},
    {"applet", 0, kSpecial | kScope | kBlockEnd | kMarker},
    {"marquee", 0, kSpecial | kScope | kBlockEnd | kMarker},
    {"object", 0, kSpecial | kScope | kBlockEnd | kMarker, 13},
    {"select", 33, kSpecial},
    {"basefont", 0, kVoid | kSpecial},
    {"bgsound", 0, kVoid | kSpecial},
    {"frame", 0, kVoid | kSpecial, 1},
    {"image", 0, kVoid | kSpecial, 15},
    {"input", 0, kVoid | kSpecial, 12},
    {"keygen", 0, kVoid | kSpecial},
    {"link", 0, kVoid | kSpecial, 3},
    {"param", 0, kVoid | kSpecial},
    {"source", 0, kVoid | kSpecial, 7},
    {"track", 0, kVoid | kSpecial, 11},
    {"wbr", 0, kVoid | kSpecial},
    // Of no rule of the stack's, but links.
    {"audio", 0, 0, 9},
    {"video", 0, 0, 10},
};

// The name of a tag whose element holds raw text, as its end tag must spell it.
const char* TextName(std::uint8_t tag) {
    for (const Named& named : kTags)
        if (named.tag == tag) return named.name;
    return "";
}

// Bytes by what they end in a tag.
enum : std::uint8_t { kSpace = 1, kSlash = 2, kGreater = 4, kEquals = 8 };
struct ByteClasses {
    std::uint8_t of[256] = {};
    constexpr ByteClasses() {
        // The tokenizer's whitespace; a CR is read as the LF it becomes.
        for (unsigned char c : {' ', '\n', '\t', '\f', '\r'}) of[c] = kSpace;
        of[static_cast<unsigned char>('/')] = kSlash;
        of[static_cast<unsigned char>('>')] = kGreater;
        of[static_cast<unsigned char>('=')] = kEquals;
    }
};
constexpr ByteClasses kClasses;
const std::uint8_t* const kClass = kClasses.of;

inline bool IsSpace(unsigned char byte) {
    // The tokenizer's whitespace; a CR is read as the LF it becomes.
    return byte == ' ' || byte == '\n' || byte == '\t' || byte == '\f' || byte == '\r';
}
inline bool IsAlpha(unsigned char byte) { return static_cast<unsigned char>((byte | 0x20) - 'a') < 26; }
inline char Lower(unsigned char byte) { return static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte | 0x20 : byte); }

bool EqualsNoCase(const std::string& text, const char* lower) {
    std::size_t length = std::strlen(lower);
    if (text.size() != length) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (Lower(static_cast<unsigned char>(text[i])) != lower[i]) return false;
    return true;
}

}  // namespace

void LinkTokenizer::Reset() {
    state_ = kData;
    for (Element& element : open_) element.anchor = 0;
    openAnchors_ = 0;
    newAnchor_ = 0;
    textOn_ = false;
    PopTo(0);
    baseSeen_ = false;
}

inline void LinkTokenizer::BeginTag(bool endTag, long long offset) {
    endTag_ = endTag;
    selfClosing_ = false;
    tagOffset_ = offset;
    nameLength_ = 0;
    nameLow_ = nameHigh_ = 0;
    std::memset(seen_, 0, sizeof seen_);
    for (std::uint32_t filled = filled_; filled; filled &= filled - 1) {
        int attr = __builtin_ctz(filled);
        values_[attr].clear();
        long_[attr] = false;
    }
    filled_ = 0;
}

inline void LinkTokenizer::NameByte(unsigned char byte) {
    // Names that matter are ASCII; any other byte (a 0 byte read as
    // U+FFFD among them) makes the name one that does not.
    if (nameLength_ < kNameMax && byte > 0 && byte < 0x80)
    {
        // Kept in two words, as the table holds names: no store to memory
        // is read back in pieces.
        std::uint64_t lower = static_cast<unsigned char>(Lower(byte));
        if (nameLength_ < 8)
            nameLow_ |= lower << (8 * nameLength_);
        else
            nameHigh_ |= lower << (8 * (nameLength_ - 8));
        ++nameLength_;
    } else {
        nameLength_ = kNameMax + 1;  // not looked up
    }
}

void LinkTokenizer::BeginAttribute() {
    attrLength_ = 0;
    attr_ = kAttrOther;
    collecting_ = false;
}

void LinkTokenizer::AttributeNameByte(unsigned char byte) {
    if (attrLength_ < kNameMax && byte > 0 && byte < 0x80)
        attrName_[attrLength_++] = Lower(byte);
    else
        attrLength_ = kNameMax + 1;
}

void LinkTokenizer::EndAttributeName() {
    std::string_view name(attrName_, attrLength_ <= kNameMax ? attrLength_ : 0);
    Attr attr = kAttrOther;
    if (name == "color" || name == "face" || name == "size") {
        attr = kAttrFontish;
    } else {
        for (int k = kAttrHref; k < kAttrs; ++k)
            if (name == kAttrNames[k]) attr = static_cast<Attr>(k);
    }
    // The first of attributes of one name counts; the others are dropped.
    if (attr != kAttrOther && seen_[attr]) attr = kAttrOther;
    seen_[attr] = true;
    attr_ = attr;
    collecting_ = !endTag_ && (wanted_ & Bit(attr));
}

void LinkTokenizer::ValueBytes(const unsigned char* from, const unsigned char* to) {
    if (!collecting_ || from == to) return;
    std::string& value = values_[attr_];
    filled_ |= Bit(attr_);
    // Of those that are looked at only, not given, the first bytes.
    bool looked = attr_ == kAttrEncoding || attr_ == kAttrType || attr_ == kAttrHttpEquiv;
    std::size_t limit = looked ? 32 : kValueMax;
    for (const unsigned char* p = from; p < to;) {
        if (value.size() >= limit) {
            long_[attr_] = true;
            return;
        }
        std::size_t room = limit - value.size();
        const unsigned char* stop = to - p > static_cast<std::ptrdiff_t>(room) ? p + room : to;
        const unsigned char* zero = static_cast<const unsigned char*>(std::memchr(p, 0, static_cast<std::size_t>(stop - p)));
        const unsigned char* until = zero ? zero : stop;
        value.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(until - p));
        p = until;
        if (zero) {
            value.append("\xEF\xBF\xBD");  // a 0 byte is read as U+FFFD
            ++p;
        }
    }
}

namespace {

// The tags by name in an open-addressed table of their names' 16 bytes
// (zero-padded), made at load: a page has a tag every few dozen bytes.
class TagTable {
public:
    TagTable() {
        for (const Named& named : kTags) {
            char bytes[16] = {};
            std::memcpy(bytes, named.name, std::strlen(named.name));
            std::uint64_t low, high;
            std::memcpy(&low, bytes, 8);
            std::memcpy(&high, bytes + 8, 8);
            std::size_t slot = Slot(low, high);
            while (slots_[slot].index) slot = (slot + 1) % kSlots;
            slots_[slot] = {low, high, static_cast<std::uint8_t>(&named - kTags + 1)};
        }
    }
    // The name's entry in kTags, or null.
    const Named* Find(std::uint64_t low, std::uint64_t high) const {
        for (std::size_t slot = Slot(low, high);; slot = (slot + 1) % kSlots) {
            const Entry& entry = slots_[slot];
            if (!entry.index) return nullptr;
            if (entry.low == low && entry.high == high) return &kTags[entry.index - 1];
        }
    }

private:
    struct Entry {
        std::uint64_t low, high;
        std::uint8_t index;  // in kTags, from 1; 0: a free slot
    };
    static constexpr std::size_t kSlots = 512;
    static std::size_t Slot(std::uint64_t low, std::uint64_t high) {
        return static_cast<std::size_t>(((low ^ (high * 31)) * 0x9E3779B97F4A7C15ull) >> 55);
    }
    Entry slots_[kSlots] = {};
};

const TagTable kTagTable;

}  // namespace

bool LinkTokenizer::HtmlRules(Tag tag) const {
    if (!ForeignCurrent()) return true;
    const Element& top = open_.back();
    return top.point == kHtmlPoint || (top.point == kMathTextPoint && tag != kMglyph) ||
           (top.point == kAnnotationPoint && tag == kSvg_);
}

void LinkTokenizer::SwitchToText(State state, Tag tag) {
    state_ = state;
    textTag_ = tag;
}

LinkTokenizer::LinkTokenizer(Handler& handler) : handler_(handler) {
    static_assert(std::size(kTags) < kKnownNames, "kKnownNames holds the table's names");
    std::fill(&topmostKnown_[0][0], &topmostKnown_[0][0] + 2 * kKnownNames, kNone);
}

// Where the topmost open element of a name and kind is kept.
std::uint32_t& LinkTokenizer::Topmost(std::uint8_t index, std::uint64_t low, std::uint64_t high, bool foreign) {
    if (index) return topmostKnown_[foreign][index];
    if (topmost_.size() > 4 * kStackDepth) {
        // Names no longer open, dropped now and then: a page of many names
        // keeps no more than this.
        for (auto at = topmost_.begin(); at != topmost_.end();)
            at = at->second == kNone ? topmost_.erase(at) : std::next(at);
    }
    return topmost_.try_emplace(NameKey{low, high | (foreign ? 1ull << 63 : 0)}, kNone).first->second;
}

// The tag's element opened on the stack, with the kinds it is of.
void LinkTokenizer::Push(Namespace ns, std::uint32_t marks) {
    if (open_.size() >= kStackDepth) {
        ++beyond_;
        return;
    }
    auto at = static_cast<std::uint32_t>(open_.size());
    Element element{};
    element.low = nameLow_;
    element.high = nameHigh_;
    element.ns = ns;
    marks |= ns == kHtml ? 1u << kMarkHtml | 1u << kMarkHtmlLike : 0u;
    if (open_.empty())
        std::fill(std::begin(element.last), std::end(element.last), -1);
    else
        std::copy(std::begin(open_.back().last), std::end(open_.back().last), element.last);
    for (unsigned mark = 0; mark < kMarks; ++mark)
        if (marks & 1u << mark) element.last[mark] = static_cast<std::int32_t>(at);
    element.named = nameLength_ && nameLength_ <= kNameMax;
    element.index = element.named ? index_ : 0;
    element.sameBelow = kNone;
    element.anchor = newAnchor_;
    if (newAnchor_) {
        newAnchor_ = 0;
        ++openAnchors_;
        textOn_ = true;
    }
    if (element.named) {
        std::uint32_t& top = Topmost(element.index, nameLow_, nameHigh_, ns != kHtml);
        element.sameBelow = top;
        top = at;
    }
    open_.push_back(element);
}

// Pops the element at `position` and all above it.
void LinkTokenizer::PopTo(long position) {
    if (position < 0) return;
    auto keep = static_cast<std::size_t>(position);
    beyond_ = 0;
    while (open_.size() > keep) {
        const Element& element = open_.back();
        if (element.named) Topmost(element.index, element.low, element.high, element.ns != kHtml) = element.sameBelow;
        if (element.anchor) {
            handler_.AnchorEnd(element.anchor);
            textOn_ = --openAnchors_ > 0;
        }
        open_.pop_back();
    }
}

// The element at `position`, when the reduced stack keeps it though the
// tree builder took it off (the adoption agency; an a that another a
// closes), is no longer found by its name (it is the topmost of its name),
// and its text ends.
void LinkTokenizer::Unname(long position) {
    if (position < 0 || static_cast<std::size_t>(position) >= open_.size()) return;
    Element& element = open_[static_cast<std::size_t>(position)];
    if (element.anchor) {
        handler_.AnchorEnd(element.anchor);
        element.anchor = 0;
        textOn_ = --openAnchors_ > 0;
    }
    if (!element.named) return;
    Topmost(element.index, element.low, element.high, element.ns != kHtml) = element.sameBelow;
    element.named = false;
}

// The topmost open element named as the tag, HTML or foreign; -1: none.
long LinkTokenizer::Nearest(bool foreign) const {
    if (!nameLength_ || nameLength_ > kNameMax) return -1;
    if (index_) {
        std::uint32_t top = topmostKnown_[foreign][index_];
        return top == kNone ? -1 : static_cast<long>(top);
    }
    auto found = topmost_.find(NameKey{nameLow_, nameHigh_ | (foreign ? 1ull << 63 : 0)});
    return found == topmost_.end() || found->second == kNone ? -1 : static_cast<long>(found->second);
}

void LinkTokenizer::PushForeign(Namespace ns, Tag tag) {
    Point point = kNoPoint;
    if (ns == kSvg && (tag == kForeignObject || tag == kDesc || tag == kTitle)) point = kHtmlPoint;
    if (ns == kMath && tag == kMathText) point = kMathTextPoint;
    if (ns == kMath && tag == kAnnotationXml)
        point = EqualsNoCase(values_[kAttrEncoding], "text/html") ||
                        EqualsNoCase(values_[kAttrEncoding], "application/xhtml+xml")
                    ? kHtmlPoint
                    : kAnnotationPoint;
    std::uint32_t marks = 0;
    // The integration points' names are special and bound every scope.
    if (point != kNoPoint) marks = 1u << kMarkSpecial | 1u << kMarkScope | 1u << kMarkButton | 1u << kMarkList;
    if (point == kHtmlPoint || point == kMathTextPoint) marks |= 1u << kMarkHtmlLike;
    Push(ns, marks);
    if (!open_.empty() && open_.size() <= kStackDepth && beyond_ == 0) open_.back().point = point;
}

namespace {
bool Breakout(std::uint8_t tag) {
    // p, br, li, dd and dt have tags of their own.
    return tag == 16 /* table */ || tag == 23 /* the others */ || tag == 25 || tag == 26 || tag == 27;
}
}  // namespace

void LinkTokenizer::StartTag(Tag tag) {
    if (!HtmlRules(tag)) {
        if (Breakout(tag) || (tag == kFont && seen_[kAttrFontish])) {
            // Back to the nearest integration point or HTML element; the tag
            // is read there again.
            PopTo(Last(kMarkHtmlLike) + 1);
            return StartTag(tag);
        }
        Namespace ns = open_.back().ns;
        if (tag == kA && (links_ & kLinksA)) {
            if (seen_[kAttrHref])
                Report(Found::kLink, "a", kAttrHref);
            else if (ns == kSvg && seen_[kAttrXlinkHref])
                Report(Found::kLink, "a", kAttrXlinkHref);
        }
        if (!selfClosing_) PushForeign(ns, tag);
        return;
    }
    if (linkTag_) ReportElement();
    switch (tag) {
        case kA:
            if (seen_[kAttrHref] && (links_ & kLinksA)) Report(Found::kLink, "a", kAttrHref);
            break;
        case kArea:
            if (seen_[kAttrHref] && (links_ & kLinksArea)) Report(Found::kLink, "area", kAttrHref);
            break;
        case kBase:
            // Not the document's when inside a template: its contents are no
            // part of the document.
            if (seen_[kAttrHref] && !baseSeen_ && Last(kMarkTemplate) < 0) {
                baseSeen_ = true;
                Report(Found::kBase, "base", kAttrHref);
            }
            return;
        case kScript:
            return SwitchToText(kScriptData, tag);
        case kStyle:
        case kXmp:
        case kIframe:
        case kNoembed:
        case kNoframes:
        case kNoscript:
            SwitchToText(kRawtext, tag);
            break;
        case kTitle:
        case kTextarea:
            return SwitchToText(kRcdata, tag);
        case kPlaintext_:
            state_ = kPlaintext;
            break;  // it closes a p
        case kSvg_:
        case kMath_:
            if (!selfClosing_) PushForeign(tag == kSvg_ ? kSvg : kMath, tag);
            return;
        default:
            break;
    }
    StartHtml();
}

// An HTML element's start tag: the elements it closes, and itself opened.
void LinkTokenizer::StartHtml() {
    std::uint16_t flags = flags_;
    Tag tag = tag_;
    if (flags & kInTable) {
        // Outside a table the tree builder passes over a table's parts;
        // inside one, a cell or a row closes the one open.
        long table = Last(kMarkTable);
        if (table < 0) return;
        // The outermost of those it closes that stands above the table.
        long close = -1;
        for (Mark mark : {kMarkCell, kMarkRow, kMarkSection}) {
            if ((mark == kMarkRow && tag == kCell) || (mark == kMarkSection && tag != kSection)) continue;
            long at = Last(mark);
            if (at > table && (close < 0 || at < close)) close = at;
        }
        PopTo(close);
        // And the elements opened inside the table, its section, row or
        // cell (an a that a table's mode passed to the body's rules).
        PopTo(std::max({table, Last(kMarkSection), Last(kMarkRow), Last(kMarkCell)}) + 1);
    }
    if (tag == kSelect) {
        // A select in scope is closed by another's start tag, which opens none.
        long same = Nearest(false);
        if (same >= 0 && same >= Last(kMarkScope)) {
            PopTo(same);
            return;
        }
    }
    if (tag == kLi) {
        // The open li (dd, dt) of the name, unless a special element other
        // than address, div and p stands above it.
        long same = Nearest(false);
        if (same >= 0 && same >= Last(kMarkItemStop)) PopTo(same);
    }
    if ((flags & kClosesP) && Last(kMarkP) > Last(kMarkButton)) PopTo(Last(kMarkP));
    if ((flags & kHeading) && !open_.empty() && Last(kMarkHeading) == static_cast<long>(open_.size()) - 1) PopTo(Last(kMarkHeading));
    if (tag == kOption && !open_.empty() && open_.back().ns == kHtml && open_.back().low == 0x6e6f6974706full)
        PopTo(static_cast<long>(open_.size()) - 1);  // an open option
    if (tag == kA && (flags & kFormatting)) {
        // A second a closes the first, as its end tag would, and takes it
        // off the stack in any case (out of scope, it alone).
        long same = Nearest(false);
        if (same > Last(kMarkMarker)) {
            if (same >= Last(kMarkScope)) {
                EndAnchorsFrom(same);
                PopTo(std::max(same, Last(kMarkSpecial) + 1));
            }
            Unname(same);
        }
    }
    if (flags & kVoid) return;
    std::uint32_t marks = 0;
    if (flags & kSpecial) marks |= 1u << kMarkSpecial;
    if ((flags & kSpecial) && !(flags & kItemPass)) marks |= 1u << kMarkItemStop;
    if (flags & kScope) marks |= 1u << kMarkScope | 1u << kMarkButton | 1u << kMarkList;
    if (flags & kButtonScope) marks |= 1u << kMarkButton;
    if (flags & kListScope) marks |= 1u << kMarkList;
    if (flags & kTableScope) marks |= 1u << kMarkTable;
    if (flags & kHeading) marks |= 1u << kMarkHeading;
    if (tag == kTemplate) marks |= 1u << kMarkTemplate;
    if (flags & kMarker) marks |= 1u << kMarkMarker;
    if (tag == kP) marks |= 1u << kMarkP;
    if (tag == kCell) marks |= 1u << kMarkCell;
    if (tag == kRow) marks |= 1u << kMarkRow;
    if (tag == kSection) marks |= 1u << kMarkSection;
    Push(kHtml, marks);
}

void LinkTokenizer::EndTag(Tag tag) {
    if (textEnd_) return;  // closes the raw text element alone
    if (!ForeignCurrent()) return EndHtml();
    if (tag == kP || tag == kBr) {
        // As the tags that leave foreign content do (the standard since
        // 2019; html5lib 1.1 reads them as any other end tag).
        PopTo(Last(kMarkHtmlLike) + 1);
        return EndHtml();
    }
    // The foreign element of the name above the nearest HTML element, and
    // all opened after it; else the HTML rules, from the current node.
    long foreign = Nearest(true);
    if (foreign >= 0 && foreign > Last(kMarkHtml)) return PopTo(foreign);
    EndHtml();
}

// An end tag by the HTML rules, with the stack as it stands (its top may
// be a foreign element).
void LinkTokenizer::EndHtml() {
    std::uint16_t flags = flags_;
    Tag tag = tag_;
    long at;
    if (tag == kTemplate) {
        PopTo(Last(kMarkTemplate));
    } else if (tag == kP) {
        if (Last(kMarkP) > Last(kMarkButton)) PopTo(Last(kMarkP));
    } else if (flags & kHeading) {
        if (Last(kMarkHeading) > Last(kMarkScope)) PopTo(Last(kMarkHeading));
    } else if (tag == kLi && !(flags & kBlockEnd)) {
        at = Nearest(false);
        if (at >= 0 && at >= Last(kMarkList)) PopTo(at);
    } else if (flags & kTableEnd) {
        at = Nearest(false);
        if (at >= 0 && at >= Last(kMarkTable)) PopTo(at);
    } else if (flags & kBlockEnd) {
        at = Nearest(false);
        if (at >= 0 && at >= Last(kMarkScope)) PopTo(at);
    } else if (flags & kFormatting) {
        // The adoption agency, as it leaves the stack: the element and all
        // above it closed, or when special elements were opened inside it,
        // all above the last of them (its clone goes there and is closed).
        at = Nearest(false);
        if (at >= 0 && at >= Last(kMarkScope)) {
            EndAnchorsFrom(at);
            PopTo(std::max(at, Last(kMarkSpecial) + 1));
            Unname(at);
        }
    } else if (tag != kForm) {
        // Any other end tag: the element of the name, unless a special
        // element stands above it. (A form's end takes it alone off the
        // stack, and the elements opened inside stay open.)
        at = Nearest(false);
        if (at >= 0 && at >= Last(kMarkSpecial)) PopTo(at);
    }
}

inline void LinkTokenizer::NameDone() {
    // The name's bytes behind its end are 0, as in the table.
    const Named* named = nameLength_ && nameLength_ <= kNameMax ? kTagTable.Find(nameLow_, nameHigh_) : nullptr;
    tag_ = static_cast<Tag>(named ? named->tag : 0);
    index_ = static_cast<std::uint8_t>(named ? named - kTags + 1 : 0);
    flags_ = named ? named->flags : 0;
    textEnd_ = false;
    // Only these tags' attributes matter; the others' are passed over.
    bool linked = named && named->link && (links_ & kLinkElements[named->link].kind);
    linkTag_ = linked ? named->link : 0;
    quiet_ = endTag_ || !(tag_ == kA || tag_ == kArea || tag_ == kBase || linked ||
                          (ForeignCurrent() && (tag_ == kAnnotationXml || tag_ == kFont)));
    if (!quiet_) {
        wanted_ = Bit(kAttrHref) | Bit(kAttrXlinkHref) | Bit(kAttrEncoding);
        if (fields_) wanted_ |= Bit(kAttrRel);
        if (linked) wanted_ |= kLinkElements[linkTag_].attributes;
    }
}

void LinkTokenizer::EmitTag() {
    state_ = kData;
    if (endTag_) {
        EndTag(tag_);
    } else {
        StartTag(tag_);
        if (newAnchor_) {
            // Never opened (a foreign a closed by its own tag): no text.
            handler_.AnchorEnd(newAnchor_);
            newAnchor_ = 0;
        }
    }
}

void LinkTokenizer::Report(Found kind, const char* element, Attr attr, bool refresh) {
    Link link;
    link.kind = kind;
    link.element = element;
    link.attribute = kAttrNames[attr];
    link.value = values_[attr];
    link.tooLong = long_[attr];
    link.rel = fields_ && seen_[kAttrRel] ? &values_[kAttrRel] : nullptr;
    link.refresh = refresh;
    link.offset = tagOffset_;
    if (fields_ && element[0] == 'a' && element[1] == '\0') {
        if (++anchors_ == 0) ++anchors_;
        link.anchor = anchors_;
    }
    if (handler_.Tag(link) && link.anchor) newAnchor_ = link.anchor;
}

// The other link elements: their attributes that hold addresses.
void LinkTokenizer::ReportElement() {
    const LinkElement& element = kLinkElements[linkTag_];
    if (linkTag_ == kLinkMeta) {
        if (seen_[kAttrHttpEquiv] && seen_[kAttrContent] && EqualsNoCase(values_[kAttrHttpEquiv], "refresh"))
            Report(Found::kLink, element.name, kAttrContent, true);
        return;
    }
    if (linkTag_ == kLinkInput && !(seen_[kAttrType] && EqualsNoCase(values_[kAttrType], "image"))) return;
    for (int attr : {kAttrHref, kAttrSrc, kAttrAction, kAttrData, kAttrPoster})
        if ((element.attributes & Bit(attr)) && seen_[attr]) Report(Found::kLink, element.name, static_cast<Attr>(attr));
}

// The open a's from `position` up leave the stack, though the reduced
// stack keeps them (the adoption agency takes them out or puts clones in
// their places).
void LinkTokenizer::EndAnchorsFrom(long position) {
    if (!openAnchors_ || position < 0) return;
    for (std::size_t at = static_cast<std::size_t>(position); at < open_.size(); ++at) {
        if (!open_[at].anchor) continue;
        handler_.AnchorEnd(open_[at].anchor);
        open_[at].anchor = 0;
        --openAnchors_;
    }
    textOn_ = openAnchors_ > 0;
}

void LinkTokenizer::Finish() {
    if (textOn_) {
        // A '<' or "</" that the page's end leaves is text.
        static const unsigned char kEndTagBytes[] = "</";
        if (state_ == kTagOpen) GiveText(kEndTagBytes, kEndTagBytes + 1, TextKind::kData, true);
        if (state_ == kEndTagOpen) GiveText(kEndTagBytes, kEndTagBytes + 2, TextKind::kData, true);
    }
    EndAnchorsFrom(0);
}

LinkTokenizer::TextKind LinkTokenizer::RawKind() const {
    return textTag_ == kTitle || textTag_ == kTextarea ? TextKind::kRcdata : TextKind::kRaw;
}

bool LinkTokenizer::AppropriateEnd() const { return matching_ && TextName(textTag_)[matched_] == '\0'; }

// The attribute states, in one loop of their own: a page is mostly tags.
// For a tag whose attributes do not matter (kQuiet) without their
// bookkeeping. Returns where the tag ended (and was emitted), or the
// piece's end with the state there.
template <bool kQuiet>
const unsigned char* LinkTokenizer::Attributes(const unsigned char* p, const unsigned char* end) {
    State state = state_;
    for (; p < end;) {
        unsigned char c = *p;
        switch (state) {
            case kBeforeAttrName:
                if (kClass[c] & kSpace) {
                    ++p;
                } else if (c == '/' || c == '>') {
                    state = kAfterAttrName;
                } else {
                    if (!kQuiet) BeginAttribute();
                    if (c == '=') {  // the first byte of the name
                        if (!kQuiet) AttributeNameByte(c);
                        ++p;
                    }
                    state = kAttrName;
                }
                continue;
            case kAttrName:
                while (!(kClass[c] & (kSpace | kSlash | kGreater | kEquals))) {
                    if (!kQuiet) AttributeNameByte(c);
                    if (++p == end) {
                        state_ = state;
                        return p;
                    }
                    c = *p;
                }
                if (!kQuiet) EndAttributeName();
                if (c == '=') ++p;
                state = c == '=' ? kBeforeAttrValue : kAfterAttrName;
                continue;
            case kAfterAttrName:
                if (kClass[c] & kSpace) {
                    ++p;
                } else if (c == '/') {
                    ++p;
                    state = kSelfClosing;
                } else if (c == '=') {
                    ++p;
                    state = kBeforeAttrValue;
                } else if (c == '>') {
                    EmitTag();
                    return p + 1;
                } else {
                    if (!kQuiet) BeginAttribute();
                    state = kAttrName;
                }
                continue;
            case kBeforeAttrValue:
                if (kClass[c] & kSpace) {
                    ++p;
                } else if (c == '"') {
                    ++p;
                    state = kAttrValueDouble;
                } else if (c == '\'') {
                    ++p;
                    state = kAttrValueSingle;
                } else if (c == '>') {
                    EmitTag();
                    return p + 1;
                } else {
                    state = kAttrValueUnquoted;
                }
                continue;
            case kAttrValueDouble:
            case kAttrValueSingle: {
                const void* quote = std::memchr(p, state == kAttrValueDouble ? '"' : '\'', static_cast<std::size_t>(end - p));
                const unsigned char* stop = quote ? static_cast<const unsigned char*>(quote) : end;
                if (!kQuiet) ValueBytes(p, stop);
                if (!quote) {
                    state_ = state;
                    return end;
                }
                p = stop + 1;
                state = kAfterAttrValueQuoted;
                continue;
            }
            case kAttrValueUnquoted: {
                const unsigned char* from = p;
                while (!(kClass[c] & (kSpace | kGreater))) {
                    if (++p == end) break;
                    c = *p;
                }
                if (!kQuiet) ValueBytes(from, p);
                if (p == end) {
                    state_ = state;
                    return p;
                }
                if (c == '>') {
                    EmitTag();
                    return p + 1;
                }
                ++p;
                state = kBeforeAttrName;
                continue;
            }
            case kAfterAttrValueQuoted:
                if (kClass[c] & kSpace) {
                    ++p;
                    state = kBeforeAttrName;
                } else if (c == '/') {
                    ++p;
                    state = kSelfClosing;
                } else if (c == '>') {
                    EmitTag();
                    return p + 1;
                } else {
                    state = kBeforeAttrName;
                }
                continue;
            case kSelfClosing:
                if (c == '>') {
                    selfClosing_ = true;
                    EmitTag();
                    return p + 1;
                }
                state = kBeforeAttrName;
                continue;
            default:
                state_ = state;
                return p;
        }
    }
    state_ = state;
    return p;
}

namespace {
// The states of raw text and script data, whose bytes are all text but an
// end tag's.
bool RawState(std::uint8_t state, std::uint8_t first) { return (state >= 1 && state <= 3) || state >= first; }
const unsigned char kBrackets[] = "]]<";
}  // namespace

void LinkTokenizer::Feed(const unsigned char* p, const unsigned char* end, long long offset) {
    rawFrom_ = nullptr;
    FeedPiece(p, end, offset);
    if (rawFrom_) GiveText(rawFrom_, end, RawKind(), false);
    rawFrom_ = nullptr;
}

void LinkTokenizer::FeedPiece(const unsigned char* p, const unsigned char* end, long long offset) {
    const unsigned char* begin = p;
    // The tag's '<' lies before p when a tag runs over from the piece before.
    auto offsetOf = [&](const unsigned char* at) { return offset + (at - begin); };
    while (p < end) {
        if (textOn_ && !rawFrom_ && RawState(state_, kTextLessThan)) rawFrom_ = p;
        if (state_ >= kBeforeAttrName && state_ <= kSelfClosing) {
            p = quiet_ ? Attributes<true>(p, end) : Attributes<false>(p, end);
            continue;
        }
        unsigned char c = *p;
        switch (state_) {
            case kData:
                // The common way through a page, from tag to tag without the
                // states between: the next '<', a start or end tag's name,
                // and the attributes of a tag whose attributes do not matter.
                for (;;) {
                    const void* lt = std::memchr(p, '<', static_cast<std::size_t>(end - p));
                    if (!lt) {
                        GiveText(p, end, TextKind::kData, false);
                        return;
                    }
                    GiveText(p, static_cast<const unsigned char*>(lt), TextKind::kData, true);
                    p = static_cast<const unsigned char*>(lt);
                    tagOffset_ = offsetOf(p++);
                    state_ = kTagOpen;
                    if (end - p < 2) break;
                    bool endTag = p[0] == '/';
                    if (!IsAlpha(p[endTag])) break;
                    p += endTag;
                    BeginTag(endTag, tagOffset_);
                    state_ = kTagName;
                    while (p < end && !(kClass[*p] & (kSpace | kSlash | kGreater))) NameByte(*p++);
                    if (p == end) return;
                    NameDone();
                    c = *p++;
                    if (c == '>') {
                        EmitTag();
                    } else {
                        state_ = c == '/' ? kSelfClosing : kBeforeAttrName;
                        p = quiet_ ? Attributes<true>(p, end) : Attributes<false>(p, end);
                    }
                    if (state_ != kData) break;
                }
                continue;
            case kRcdata:
            case kRawtext:
            case kScriptData: {
                const void* lt = std::memchr(p, '<', static_cast<std::size_t>(end - p));
                if (!lt) return;
                p = static_cast<const unsigned char*>(lt);
                tagOffset_ = offsetOf(p);
                ++p;
                textState_ = state_;
                state_ = state_ == kScriptData ? kScriptLessThan : kTextLessThan;
                continue;
            }
            case kPlaintext:
                GiveText(p, end, TextKind::kRaw, false);
                return;
            case kTagOpen:
                if (c == '!') {
                    declarationLength_ = 0;
                    state_ = kMarkupDeclaration;
                    ++p;
                } else if (c == '/') {
                    state_ = kEndTagOpen;
                    ++p;
                } else if (IsAlpha(c)) {
                    BeginTag(false, tagOffset_);
                    state_ = kTagName;
                } else if (c == '?') {
                    state_ = kBogusComment;
                } else {
                    GiveText(kBrackets + 2, kBrackets + 3, TextKind::kData, false);  // the '<' is text
                    state_ = kData;
                }
                continue;
            case kEndTagOpen:
                if (IsAlpha(c)) {
                    BeginTag(true, tagOffset_);
                    state_ = kTagName;
                } else if (c == '>') {
                    state_ = kData;
                    ++p;
                } else {
                    state_ = kBogusComment;
                }
                continue;
            case kTagName: {
                while (p < end && !(kClass[*p] & (kSpace | kSlash | kGreater))) NameByte(*p++);
                if (p == end) return;
                NameDone();
                c = *p++;
                state_ = c == '/' ? kSelfClosing : c == '>' ? kData : kBeforeAttrName;
                if (c == '>') EmitTag();
                continue;
            }
            case kBeforeAttrName:
            case kAttrName:
            case kAfterAttrName:
            case kBeforeAttrValue:
            case kAttrValueDouble:
            case kAttrValueSingle:
            case kAttrValueUnquoted:
            case kAfterAttrValueQuoted:
            case kSelfClosing:
                continue;  // Attributes runs them
            case kBogusComment:
            case kDoctype: {
                // A doctype ends at its first '>', quoted or not.
                const void* gt = std::memchr(p, '>', static_cast<std::size_t>(end - p));
                if (!gt) return;
                p = static_cast<const unsigned char*>(gt) + 1;
                state_ = kData;
                continue;
            }
            case kMarkupDeclaration: {
                // "--", "DOCTYPE" in any case, or "[CDATA[" where the element
                // open is foreign; anything else begins a bogus comment.
                declaration_[declarationLength_++] = static_cast<char>(c);
                std::string_view have(declaration_, declarationLength_);
                bool comment = std::string_view("--").substr(0, declarationLength_) == have;
                bool doctype = declarationLength_ <= 7;
                for (std::size_t i = 0; doctype && i < declarationLength_; ++i)
                    doctype = Lower(static_cast<unsigned char>(declaration_[i])) == "doctype"[i];
                bool cdata = declarationLength_ <= 7 && std::string_view("[CDATA[").substr(0, declarationLength_) == have;
                if (comment && declarationLength_ == 2) {
                    state_ = kCommentStart;
                    ++p;
                } else if (doctype && declarationLength_ == 7) {
                    state_ = kDoctype;
                    ++p;
                } else if (cdata && declarationLength_ == 7) {
                    state_ = ForeignCurrent() ? kCdata : kBogusComment;
                    ++p;
                } else if (comment || doctype || cdata) {
                    ++p;
                } else {
                    state_ = kBogusComment;  // the byte is read again there
                }
                continue;
            }
            case kCommentStart:
            case kCommentStartDash:
            case kCommentEndBang:
                // A '-' leads on, a '>' ends the comment, anything else is
                // read again as the comment's text.
                if (c == '-') {
                    state_ = state_ == kCommentStart ? kCommentStartDash
                             : state_ == kCommentStartDash ? kCommentEnd
                                                           : kCommentEndDash;
                    ++p;
                } else if (c == '>') {
                    state_ = kData;
                    ++p;
                } else {
                    state_ = kComment;
                }
                continue;
            case kComment: {
                const void* dash = std::memchr(p, '-', static_cast<std::size_t>(end - p));
                if (!dash) return;
                p = static_cast<const unsigned char*>(dash) + 1;
                state_ = kCommentEndDash;
                continue;
            }
            case kCommentEndDash:
                state_ = c == '-' ? kCommentEnd : kComment;
                if (c == '-') ++p;
                continue;
            case kCommentEnd:
                if (c == '>') {
                    state_ = kData;
                } else if (c == '!') {
                    state_ = kCommentEndBang;
                } else if (c != '-') {
                    state_ = kComment;
                    continue;
                }
                ++p;
                continue;
            case kCdata: {
                const void* bracket = std::memchr(p, ']', static_cast<std::size_t>(end - p));
                GiveText(p, bracket ? static_cast<const unsigned char*>(bracket) : end, TextKind::kRaw, false);
                if (!bracket) return;
                p = static_cast<const unsigned char*>(bracket) + 1;
                state_ = kCdataBracket;
                continue;
            }
            case kCdataBracket:
                state_ = c == ']' ? kCdataEnd : kCdata;
                if (c == ']') ++p;
                else GiveText(kBrackets, kBrackets + 1, TextKind::kRaw, false);
                continue;
            case kCdataEnd:
                if (c == ']') {
                    GiveText(kBrackets, kBrackets + 1, TextKind::kRaw, false);
                    ++p;
                } else if (c == '>') {
                    state_ = kData;
                    ++p;
                } else {
                    GiveText(kBrackets, kBrackets + 2, TextKind::kRaw, false);
                    state_ = kCdata;
                }
                continue;
            case kTextLessThan:
                if (c == '/') {
                    state_ = kTextEndTagOpen;
                    ++p;
                } else {
                    state_ = textState_;
                }
                continue;
            case kTextEndTagOpen:
                if (IsAlpha(c)) {
                    matched_ = 0;
                    matching_ = true;
                    state_ = kTextEndTagName;
                } else {
                    state_ = textState_;
                }
                continue;
            case kTextEndTagName:
                if (IsAlpha(c)) {
                    const char* name = TextName(textTag_);
                    if (matching_ && name[matched_] == Lower(c))
                        ++matched_;
                    else
                        matching_ = false;
                    ++p;
                } else if ((IsSpace(c) || c == '/' || c == '>') && AppropriateEnd()) {
                    // The element's end tag: read as any tag from here; its
                    // "</" and name were no text.
                    if (rawFrom_) GiveText(rawFrom_, p, RawKind(), false);
                    rawFrom_ = nullptr;
                    if (textOn_) handler_.TextDrop(2 + std::strlen(TextName(textTag_)));
                    BeginTag(true, tagOffset_);
                    for (const char* q = TextName(textTag_); *q; ++q) NameByte(static_cast<unsigned char>(*q));
                    NameDone();
                    textEnd_ = true;
                    ++p;
                    state_ = c == '/' ? kSelfClosing : kBeforeAttrName;
                    if (c == '>') EmitTag();
                } else {
                    state_ = textState_;
                }
                continue;
            case kScriptLessThan:
                if (c == '/') {
                    textState_ = kScriptData;
                    state_ = kTextEndTagOpen;
                    ++p;
                } else if (c == '!') {
                    state_ = kScriptEscapeStart;
                    ++p;
                } else {
                    state_ = kScriptData;
                }
                continue;
            case kScriptEscapeStart:
                state_ = c == '-' ? kScriptEscapeStartDash : kScriptData;
                if (c == '-') ++p;
                continue;
            case kScriptEscapeStartDash:
                state_ = c == '-' ? kScriptEscapedDashDash : kScriptData;
                if (c == '-') ++p;
                continue;
            case kScriptEscaped: {
                while (p < end && *p != '-' && *p != '<') ++p;
                if (p == end) return;
                if (*p == '<') tagOffset_ = offsetOf(p);
                state_ = *p == '-' ? kScriptEscapedDash : kScriptEscapedLessThan;
                ++p;
                continue;
            }
            case kScriptEscapedDash:
            case kScriptEscapedDashDash:
                if (c == '-') {
                    state_ = kScriptEscapedDashDash;
                } else if (c == '<') {
                    tagOffset_ = offsetOf(p);
                    state_ = kScriptEscapedLessThan;
                } else if (c == '>' && state_ == kScriptEscapedDashDash) {
                    state_ = kScriptData;
                } else {
                    state_ = kScriptEscaped;
                }
                ++p;
                continue;
            case kScriptEscapedLessThan:
                if (c == '/') {
                    textState_ = kScriptEscaped;
                    state_ = kTextEndTagOpen;
                    ++p;
                } else if (IsAlpha(c)) {
                    matched_ = 0;
                    matching_ = true;
                    state_ = kScriptDoubleEscapeStart;
                } else {
                    state_ = kScriptEscaped;
                }
                continue;
            case kScriptDoubleEscapeStart:
            case kScriptDoubleEscapeEnd: {
                bool starting = state_ == kScriptDoubleEscapeStart;
                if (IsSpace(c) || c == '/' || c == '>') {
                    bool script = matching_ && matched_ == 6;
                    state_ = script == starting ? kScriptDoubleEscaped : kScriptEscaped;
                    ++p;
                } else if (IsAlpha(c)) {
                    if (matching_ && matched_ < 6 && "script"[matched_] == Lower(c))
                        ++matched_;
                    else
                        matching_ = false;
                    ++p;
                } else {
                    state_ = starting ? kScriptEscaped : kScriptDoubleEscaped;
                }
                continue;
            }
            case kScriptDoubleEscaped: {
                while (p < end && *p != '-' && *p != '<') ++p;
                if (p == end) return;
                state_ = *p == '-' ? kScriptDoubleEscapedDash : kScriptDoubleEscapedLessThan;
                ++p;
                continue;
            }
            case kScriptDoubleEscapedDash:
            case kScriptDoubleEscapedDashDash:
                if (c == '-') {
                    state_ = kScriptDoubleEscapedDashDash;
                } else if (c == '<') {
                    state_ = kScriptDoubleEscapedLessThan;
                } else if (c == '>' && state_ == kScriptDoubleEscapedDashDash) {
                    state_ = kScriptData;
                } else {
                    state_ = kScriptDoubleEscaped;
                }
                ++p;
                continue;
            case kScriptDoubleEscapedLessThan:
                if (c == '/') {
                    matched_ = 0;
                    matching_ = true;
                    state_ = kScriptDoubleEscapeEnd;
                    ++p;
                } else {
                    state_ = kScriptDoubleEscaped;
                }
                continue;
        }
    }
}
