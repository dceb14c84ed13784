#include "html/link_tokenizer.h"

#include <cstring>

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
    kSelect,
    kInput,
    kKeygen,
    kTable,      // closes a select, and breaks out of foreign content
    kTablePart,  // closes a select
    kForeignObject,
    kDesc,
    kMathText,   // mi, mo, mn, ms, mtext
    kAnnotationXml,
    kMglyph,     // and malignmark
    kFont,
    kBreakout,   // leaves foreign content
};

namespace {

struct Named {
    const char* name;
    std::uint8_t tag;
};

// The tags the tree builder's switches depend on, by name.
constexpr Named kTags[] = {
    {"a", 1},          {"area", 2},        {"base", 3},       {"script", 4},       {"style", 5},
    {"xmp", 6},        {"iframe", 7},      {"noembed", 8},    {"noframes", 9},     {"noscript", 10},
    {"title", 11},     {"textarea", 12},   {"plaintext", 13}, {"svg", 14},         {"math", 15},
    {"select", 16},    {"input", 17},      {"keygen", 18},    {"table", 19},       {"caption", 20},
    {"tbody", 20},     {"tfoot", 20},      {"thead", 20},     {"tr", 20},          {"td", 20},
    {"th", 20},        {"foreignobject", 21}, {"desc", 22},   {"mi", 23},          {"mo", 23},
    {"mn", 23},        {"ms", 23},         {"mtext", 23},     {"annotation-xml", 24}, {"mglyph", 25},
    {"malignmark", 25}, {"font", 26},      {"b", 27},         {"big", 27},         {"blockquote", 27},
    {"body", 27},      {"br", 27},         {"center", 27},    {"code", 27},        {"dd", 27},
    {"div", 27},       {"dl", 27},         {"dt", 27},        {"em", 27},          {"embed", 27},
    {"h1", 27},        {"h2", 27},         {"h3", 27},        {"h4", 27},          {"h5", 27},
    {"h6", 27},        {"head", 27},       {"hr", 27},        {"i", 27},           {"img", 27},
    {"li", 27},        {"listing", 27},    {"menu", 27},      {"meta", 27},        {"nobr", 27},
    {"ol", 27},        {"p", 27},          {"pre", 27},       {"ruby", 27},        {"s", 27},
    {"small", 27},     {"span", 27},       {"strong", 27},    {"strike", 27},      {"sub", 27},
    {"sup", 27},       {"tt", 27},         {"u", 27},         {"ul", 27},          {"var", 27},
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
    foreign_.clear();
    foreignBeyond_ = 0;
    inSelect_ = false;
    baseSeen_ = false;
}

inline void LinkTokenizer::BeginTag(bool endTag, long long offset) {
    endTag_ = endTag;
    selfClosing_ = false;
    tagOffset_ = offset;
    nameLength_ = 0;
    nameLow_ = nameHigh_ = 0;
    std::memset(seen_, 0, sizeof seen_);
    href_.clear();
    xlinkHref_.clear();
    encoding_.clear();
    hrefLong_ = xlinkLong_ = false;
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
    Attr attr = name == "href"         ? kAttrHref
                : name == "xlink:href" ? kAttrXlinkHref
                : name == "encoding"   ? kAttrEncoding
                : name == "color" || name == "face" || name == "size" ? kAttrFontish
                                                                      : kAttrOther;
    // The first of attributes of one name counts; the others are dropped.
    if (attr != kAttrOther && seen_[attr]) attr = kAttrOther;
    seen_[attr] = true;
    attr_ = attr;
    collecting_ = !endTag_ && (attr == kAttrHref || attr == kAttrXlinkHref || attr == kAttrEncoding);
}

void LinkTokenizer::ValueBytes(const unsigned char* from, const unsigned char* to) {
    if (!collecting_ || from == to) return;
    std::string& value = attr_ == kAttrHref ? href_ : attr_ == kAttrXlinkHref ? xlinkHref_ : encoding_;
    bool& tooLong = attr_ == kAttrHref ? hrefLong_ : xlinkLong_;
    std::size_t limit = attr_ == kAttrEncoding ? 32 : kValueMax;
    for (const unsigned char* p = from; p < to;) {
        if (value.size() >= limit) {
            if (attr_ != kAttrEncoding) tooLong = true;
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
            while (slots_[slot].tag) slot = (slot + 1) % kSlots;
            slots_[slot] = {low, high, named.tag};
        }
    }
    std::uint8_t Find(std::uint64_t low, std::uint64_t high) const {
        for (std::size_t slot = Slot(low, high);; slot = (slot + 1) % kSlots) {
            const Entry& entry = slots_[slot];
            if (entry.low == low && entry.high == high) return entry.tag;
            if (!entry.tag) return 0;
        }
    }

private:
    struct Entry {
        std::uint64_t low, high;
        std::uint8_t tag;
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
    if (foreign_.empty()) return true;
    const Foreign& top = foreign_.back();
    return top.point == kHtmlPoint || (top.point == kMathTextPoint && tag != kMglyph) ||
           (top.point == kAnnotationPoint && tag == kSvg_);
}

void LinkTokenizer::SwitchToText(State state, Tag tag) {
    state_ = state;
    textTag_ = tag;
}

void LinkTokenizer::PushForeign(Namespace ns, Tag tag) {
    if (foreign_.size() >= kForeignDepth) {
        ++foreignBeyond_;
        return;
    }
    Foreign entry{};
    entry.ns = ns;
    entry.point = kNoPoint;
    if (ns == kSvg && (tag == kForeignObject || tag == kDesc || tag == kTitle)) entry.point = kHtmlPoint;
    if (ns == kMath && tag == kMathText) entry.point = kMathTextPoint;
    if (ns == kMath && tag == kAnnotationXml)
        entry.point = EqualsNoCase(encoding_, "text/html") || EqualsNoCase(encoding_, "application/xhtml+xml")
                          ? kHtmlPoint
                          : kAnnotationPoint;
    entry.length = static_cast<std::uint8_t>(nameLength_);
    entry.low = nameLow_;
    entry.high = nameHigh_;
    foreign_.push_back(entry);
}

void LinkTokenizer::StartTag(Tag tag) {
    if (!HtmlRules(tag)) {
        if (tag == kBreakout || tag == kTable || (tag == kFont && seen_[kAttrFontish])) {
            // Back to the nearest integration point or HTML element; the tag
            // is read there again.
            while (!foreign_.empty() && foreign_.back().point != kHtmlPoint && foreign_.back().point != kMathTextPoint)
                foreign_.pop_back();
            foreignBeyond_ = 0;
            return StartTag(tag);
        }
        Namespace ns = foreign_.back().ns;
        if (tag == kA) {
            if (seen_[kAttrHref])
                handler_.Tag(Found::kLink, href_, hrefLong_, tagOffset_);
            else if (ns == kSvg && seen_[kAttrXlinkHref])
                handler_.Tag(Found::kLink, xlinkHref_, xlinkLong_, tagOffset_);
        }
        if (!selfClosing_) PushForeign(ns, tag);
        return;
    }
    if (inSelect_) {
        switch (tag) {
            case kSelect:
                inSelect_ = false;
                return;
            case kInput:
            case kKeygen:
            case kTextarea:
            case kTable:
            case kTablePart:
                inSelect_ = false;
                return StartTag(tag);
            case kScript:
                return SwitchToText(kScriptData, tag);
            case kA:
            case kArea:
                break;  // the tokenizer finds them, though the select drops them
            default:
                return;
        }
    }
    switch (tag) {
        case kA:
        case kArea:
            if (seen_[kAttrHref]) handler_.Tag(Found::kLink, href_, hrefLong_, tagOffset_);
            return;
        case kBase:
            if (seen_[kAttrHref] && !baseSeen_) {
                baseSeen_ = true;
                handler_.Tag(Found::kBase, href_, hrefLong_, tagOffset_);
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
            return SwitchToText(kRawtext, tag);
        case kTitle:
        case kTextarea:
            return SwitchToText(kRcdata, tag);
        case kPlaintext_:
            state_ = kPlaintext;
            return;
        case kSvg_:
        case kMath_:
            if (!selfClosing_) PushForeign(tag == kSvg_ ? kSvg : kMath, tag);
            return;
        case kSelect:
            inSelect_ = true;
            return;
        default:
            return;
    }
}

void LinkTokenizer::EndTag(Tag tag) {
    if (!foreign_.empty()) {
        // The open foreign element of the name, and all opened after it.
        for (std::size_t i = foreign_.size(); i-- > 0;) {
            const Foreign& entry = foreign_[i];
            if (entry.length <= kNameMax && entry.length == nameLength_ &&
                entry.low == nameLow_ && entry.high == nameHigh_) {
                foreign_.resize(i);
                foreignBeyond_ = 0;
                return;
            }
        }
    }
    if (tag == kSelect) inSelect_ = false;
}

inline void LinkTokenizer::NameDone() {
    // The name's bytes behind its end are 0, as in the table.
    tag_ = static_cast<Tag>(nameLength_ && nameLength_ <= kNameMax ? kTagTable.Find(nameLow_, nameHigh_) : 0);
    // Only these tags' attributes matter; the others' are passed over.
    quiet_ = endTag_ || !(tag_ == kA || tag_ == kArea || tag_ == kBase ||
                          (!foreign_.empty() && (tag_ == kAnnotationXml || tag_ == kFont)));
}

void LinkTokenizer::EmitTag() {
    state_ = kData;
    if (endTag_)
        EndTag(tag_);
    else
        StartTag(tag_);
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

void LinkTokenizer::Feed(const unsigned char* p, const unsigned char* end, long long offset) {
    const unsigned char* begin = p;
    // The tag's '<' lies before p when a tag runs over from the piece before.
    auto offsetOf = [&](const unsigned char* at) { return offset + (at - begin); };
    while (p < end) {
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
                    if (!lt) return;
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
                    state_ = !foreign_.empty() ? kCdata : kBogusComment;
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
                if (!bracket) return;
                p = static_cast<const unsigned char*>(bracket) + 1;
                state_ = kCdataBracket;
                continue;
            }
            case kCdataBracket:
                state_ = c == ']' ? kCdataEnd : kCdata;
                if (c == ']') ++p;
                continue;
            case kCdataEnd:
                if (c == ']') {
                    ++p;
                } else if (c == '>') {
                    state_ = kData;
                    ++p;
                } else {
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
                    // The element's end tag: read as any tag from here.
                    BeginTag(true, tagOffset_);
                    for (const char* q = TextName(textTag_); *q; ++q) NameByte(static_cast<unsigned char>(*q));
                    NameDone();
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
