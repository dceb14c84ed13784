#include "html/link_search.h"

#include <algorithm>
#include <cerrno>


#include "html/character_references.h"
#include "include/talveron.h"
#include "lifecycle/limits.h"
#include "search/json_text.h"

namespace {
// Records gathered are handed over before every read and when they pass this.
constexpr std::size_t kRecordsHandedAt = 64 * 1024;
// Text of an a kept as gathered: enough that the first TALVERON_TEXT_MAX
// bytes of it as UTF-8 are whole (a byte becomes at least one).
constexpr std::size_t kTextKept = TALVERON_TEXT_MAX + 4;
// Text not yet given to the open a's is given when it passes this, but
// for its last bytes (an end tag's, a reference's).
constexpr std::size_t kRunHeld = 64 * 1024;
constexpr std::size_t kRunKept = 64;

inline bool IsAsciiSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// The address of a refresh (a Refresh header's value or a meta's content)
// by the HTML standard's shared declarative refresh steps; false when the
// steps refuse it or it names none.
bool RefreshAddress(std::string_view content, std::string_view& address) {
    std::size_t at = 0, n = content.size();
    auto skipSpace = [&] {
        while (at < n && IsAsciiSpace(static_cast<unsigned char>(content[at]))) ++at;
    };
    auto digit = [&](std::size_t k) { return content[k] >= '0' && content[k] <= '9'; };
    skipSpace();
    std::size_t digits = at;
    while (at < n && digit(at)) ++at;
    if (at == digits && (at == n || content[at] != '.')) return false;
    while (at < n && (digit(at) || content[at] == '.')) ++at;
    if (at < n) {
        char c = content[at];
        if (c != ';' && c != ',' && !IsAsciiSpace(static_cast<unsigned char>(c))) return false;
        skipSpace();
        if (at < n && (content[at] == ';' || content[at] == ',')) ++at;
        skipSpace();
    }
    if (at == n) return false;  // the page itself, again
    std::size_t from = at;
    auto letter = [&](char lower) {
        if (at < n && (content[at] | 0x20) == lower) {
            ++at;
            return true;
        }
        return false;
    };
    if (letter('u')) {
        if (!letter('r') || !letter('l')) {
            address = content.substr(from);
            return true;
        }
        skipSpace();
        if (at == n || content[at] != '=') {
            address = content.substr(from);
            return true;
        }
        ++at;
        skipSpace();
    }
    char quote = at < n && (content[at] == '\'' || content[at] == '"') ? content[at] : 0;
    if (quote) ++at;
    address = content.substr(at);
    if (quote) address = address.substr(0, address.find(quote));
    return true;
}

// `text` with bytes that are not UTF-8 as U+FFFD (one for each maximal part
// of a sequence that cannot go on), cut to at most `max` bytes before a
// character that would not fit.
void AppendValidUtf8(std::string_view text, std::size_t max, std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    // ASCII runs whole, as far as `max` lets them.
    while (p < end) {
        const unsigned char* run = p;
        std::size_t room = max > out.size() ? max - out.size() : 0;
        const unsigned char* stop = end - p > static_cast<std::ptrdiff_t>(room) ? p + room : end;
        while (p < stop && *p < 0x80) ++p;
        out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
        if (p == end || *p < 0x80) return;  // all of it, or as much as `max` holds
        unsigned char b = *p;
        std::size_t need = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        std::size_t have = need ? 1 : 0;
        unsigned char low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
        unsigned char high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
        while (have && have < need && p + have < end) {
            unsigned char c = p[have];
            if (have == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) break;
            ++have;
        }
        bool whole = need && have == need;
        std::size_t size = whole ? need : 3;
        if (out.size() + size > max) return;
        if (whole)
            out.append(reinterpret_cast<const char*>(p), need);
        else
            out += "\xEF\xBF\xBD";
        p += have ? have : 1;
    }
}

const std::string kNoString;

// CR LF and CR as LF.
void LfLineEnds(std::string& text) {
    if (text.find('\r') == std::string::npos) return;
    std::size_t to = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n') continue;
        text[to++] = text[k] == '\r' ? '\n' : text[k];
    }
    text.resize(to);
}
}  // namespace

LinkSearch::LinkSearch(SearchSink& sink, const char* keywordLine, bool lfLineEnds)
    : sink_(sink),
      keywords_(keywordLine ? keywordLine : ""),
      lineEnd_(lfLineEnds ? "\n" : "\r\n"),
      tokenizer_(*this),
      block_(new unsigned char[kBlockSize]) {
    records_.reserve(kRecordsHandedAt + 4096);
}

void LinkSearch::SetJson(bool json) { json_ = json; }
void LinkSearch::SetLinks(unsigned links) { links_ = links; }
void LinkSearch::SetUnique(bool unique) { unique_ = unique; }
void LinkSearch::SetNoFragment(bool noFragment) { noFragment_ = noFragment; }

void LinkSearch::SetAddress(std::string_view address) {
    haveAddress_ = !address.empty() && address_.Parse(address, nullptr);
    haveBase_ = haveAddress_;
    if (haveBase_) base_ = address_;
    StartPage();
}

// A page begins: no address seen yet, no record waiting, no header.
void LinkSearch::StartPage() {
    pageStarted_ = true;
    seen_.Clear();
    for (Waiting* waiting : waiting_) spare_.emplace_back(waiting);
    waiting_.clear();
    waitingBytes_ = 0;
    open_.clear();
    run_.clear();
    headers_.clear();
}

bool LinkSearch::Write() {
    if (records_.empty()) return true;
    bool taken = sink_.Records(records_.data(), records_.size());
    records_.clear();
    if (!taken) stopped_ = true;
    return taken;
}

void LinkSearch::HeaderLink(Header header, std::string_view value) {
    if (!pageStarted_) StartPage();
    // Made records when the search begins, by the settings it has then.
    headers_.emplace_back(header, std::string(value));
}

void LinkSearch::HeaderRecords() {
    if (!((links_ ? links_ : TALVERON_LINKS_DEFAULT) & TALVERON_LINK_REDIRECT)) return;
    for (const auto& [header, value] : headers_) {
        if (stopped_) return;
        std::string_view address = value;
        if (header == Header::kRefresh && !RefreshAddress(value, address)) continue;
        Record("http", header == Header::kLocation ? "location" : "refresh", address, nullptr, -1, 0,
               haveAddress_ ? &address_ : nullptr);
    }
}

bool LinkSearch::Tag(const LinkTokenizer::Link& link) {
    if (stopped_) return false;
    if (!open_.empty()) FlushText();  // the text before the tag is the open a's
    if (link.tooLong) {
        // Not held whole: said, never resolved from a part.
        sink_.Rejected(kRejectTooLong, 0, link.offset, link.value.data(),
                       std::min<std::size_t>(link.value.size(), kRecordBufferSize));
        return false;
    }
    value_.clear();
    AppendAttributeValue(link.value, value_);
    if (link.kind == LinkTokenizer::Found::kBase) {
        // A base that is no address leaves the page's own in place; a base of
        // any length is the base (its links may well be shorter).
        link_.SetMaxLength(static_cast<std::size_t>(-1));
        if (link_.Parse(value_, haveAddress_ ? &address_ : nullptr)) {
            std::swap(base_, link_);
            haveBase_ = true;
        }
        return false;
    }
    const std::string* rel = link.rel;
    if (fields_) {
        // The input's line ends are LF, as the tokenizer reads them.
        LfLineEnds(value_);
        if (rel) {
            rel_.clear();
            AppendAttributeValue(*rel, rel_);
            LfLineEnds(rel_);
            rel = &rel_;
        }
    }
    std::string_view href = value_;
    if (link.refresh && !RefreshAddress(value_, href)) return false;
    return Record(link.element, link.attribute, href, rel, link.offset, link.anchor, haveBase_ ? &base_ : nullptr);
}

// A link resolved against `against` and made a record, or passed over;
// true when it is an a whose text is to follow.
bool LinkSearch::Record(const char* element, const char* attribute, std::string_view href, const std::string* rel,
                        long long offset, std::uint32_t anchor, const Url* against) {
    link_.SetMaxLength(addressMax_);
    if (!link_.Parse(href, against)) {
        if (link_.TooLong()) {
            sink_.Rejected(kRejectAddressTooLong, 0, offset, href.data(), std::min<std::size_t>(href.size(), kRecordBufferSize));
        } else {
            sink_.Rejected(kRejectNotAnAddress, 0, offset, href.data(), href.size());
        }
        return false;
    }
    std::string_view scheme = link_.Scheme();
    const std::string& address = link_.Href();
    if (scheme != "http" && scheme != "https") {
        sink_.Rejected(kRejectOtherScheme, 0, offset, address.data(), address.size());
        return false;
    }
    if (keywords_.Any()) {
        if (int slot = keywords_.Excluding(address.c_str())) {
            sink_.Rejected(kRejectExcluded, slot, offset, address.data(), address.size());
            return false;
        }
    }
    std::string_view url = address;
    if (noFragment_) url = url.substr(0, url.find('#'));
    if (unique_) {
        if (!seen_.Insert(url)) return false;
    }
    if (!fields_) {
        records_ += url;
        records_ += lineEnd_;
        if (records_.size() >= kRecordsHandedAt) Write();
        return false;
    }
    bool text = anchor && !stopped_;
    if (waiting_.empty() && !text) {
        LinkFields fields;
        fields.url = url;
        fields.href = href;
        fields.element = element;
        fields.attribute = attribute;
        if (rel) fields.rel = *rel;
        fields.offset = offset;
        Emit(fields);
        return false;
    }
    // Behind an open a, or an a: it waits.
    std::unique_ptr<Waiting> made;
    if (spare_.empty()) {
        made.reset(new Waiting);
    } else {
        made = std::move(spare_.back());
        spare_.pop_back();
    }
    Waiting& waiting = *made;
    waiting.url.assign(url.data(), url.size());
    waiting.href.assign(href.data(), href.size());
    waiting.hasRel = rel != nullptr;
    waiting.rel.assign(rel ? *rel : kNoString);
    waiting.text.clear();
    waiting.element = element;
    waiting.attribute = attribute;
    waiting.offset = offset;
    waiting.anchor = text ? anchor : 0;
    waiting.done = !text;
    waiting.space = false;
    waiting_.push_back(made.release());
    waitingBytes_ += url.size() + href.size() + waiting.rel.size() + 64;
    if (text) open_.push_back(&waiting);
    while (waiting_.size() > kQueueRecords || waitingBytes_ > kQueueBytes) {
        // Too many behind the first a: it goes with its text so far.
        EmitWaiting(false);
        if (waiting_.empty() || stopped_) break;
        if (!open_.empty()) FlushText();
        Waiting* first = waiting_.front();
        first->done = true;
        open_.erase(std::remove(open_.begin(), open_.end(), first), open_.end());
    }
    EmitWaiting(false);
    return text;
}

// A record's bytes, after its fields went to the sink that takes them.
void LinkSearch::Emit(const LinkFields& fields) {
    if (stopped_) return;
    if (linkSink_ && !sink_.Link(fields)) {
        // The records before it stand.
        Write();
        stopped_ = true;
        return;
    }
    if (!json_) {
        records_ += fields.url;
    } else {
        AppendJsonLink(records_, fields);
    }
    records_ += lineEnd_;
    if (records_.size() >= kRecordsHandedAt) Write();
}

// The waiting records that are done, first first (all of them: at the
// page's end).
void LinkSearch::EmitWaiting(bool all) {
    while (!waiting_.empty() && (all || waiting_.front()->done) && !stopped_) {
        Waiting& waiting = *waiting_.front();
        LinkFields fields;
        fields.url = waiting.url;
        fields.href = waiting.href;
        fields.element = waiting.element;
        fields.attribute = waiting.attribute;
        if (waiting.hasRel) fields.rel = waiting.rel;
        fields.offset = waiting.offset;
        if (waiting.element[0] == 'a' && waiting.element[1] == '\0') {
            cut_.clear();
            AppendValidUtf8(waiting.text, TALVERON_TEXT_MAX, cut_);
            fields.text = std::string_view(cut_.data(), cut_.size());
        }
        Emit(fields);
        waitingBytes_ -= std::min(waitingBytes_, waiting.url.size() + waiting.href.size() + waiting.rel.size() + 64);
        spare_.emplace_back(&waiting);
        waiting_.pop_front();
    }
}

void LinkSearch::Text(const unsigned char* from, const unsigned char* to, LinkTokenizer::TextKind kind, bool whole) {
    if (open_.empty() || stopped_) return;
    if (kind != runKind_ && !run_.empty()) FlushText();
    runKind_ = kind;
    run_.append(reinterpret_cast<const char*>(from), static_cast<std::size_t>(to - from));
    if (whole && kind == LinkTokenizer::TextKind::kData) {
        FlushText();
    } else if (run_.size() > kRunHeld) {
        // Given but for its last bytes, which an end tag may take back or a
        // reference go on from; at a '&' that may begin one.
        std::size_t keep = run_.size() - kRunKept;
        std::size_t amp = run_.rfind('&');
        if (amp != std::string::npos && amp >= keep) keep = amp;
        std::string rest = run_.substr(keep);
        run_.resize(keep);
        FlushText();
        run_ = std::move(rest);
    }
}

void LinkSearch::TextDrop(std::size_t bytes) { run_.resize(run_.size() - std::min(bytes, run_.size())); }

void LinkSearch::AnchorEnd(std::uint32_t anchor) {
    if (stopped_) return;
    if (!open_.empty()) FlushText();
    for (auto at = open_.begin(); at != open_.end(); ++at) {
        if ((*at)->anchor != anchor) continue;
        (*at)->done = true;
        open_.erase(at);
        break;
    }
    EmitWaiting(false);
}

// The text gathered to the open a's.
void LinkSearch::FlushText() {
    if (run_.empty()) return;
    std::string_view text = run_;
    if (runKind_ != LinkTokenizer::TextKind::kRaw) {
        decoded_.clear();
        AppendText(run_, decoded_);
        text = decoded_;
    }
    bool full = false;
    for (Waiting* waiting : open_) {
        AddText(*waiting, text, runKind_);
        full |= waiting->done;
    }
    run_.clear();
    if (full) {
        open_.erase(std::remove_if(open_.begin(), open_.end(), [](const Waiting* waiting) { return waiting->done; }),
                    open_.end());
        EmitWaiting(false);
    }
}

// Text added to an a's, its runs of white space one space, none first; its
// record done when the text is as long as a record holds.
void LinkSearch::AddText(Waiting& waiting, std::string_view text, LinkTokenizer::TextKind kind) {
    std::string& out = waiting.text;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (IsAsciiSpace(c)) {
            waiting.space = !out.empty();
            ++p;
            continue;
        }
        if (c == '\0') {
            ++p;
            if (kind == LinkTokenizer::TextKind::kData) continue;
        }
        if (waiting.space) out += ' ';
        waiting.space = false;
        if (c == '\0') {
            out += "\xEF\xBF\xBD";
        } else {
            // A run of bytes that are kept as they are.
            const char* run = p;
            std::size_t room = kTextKept > out.size() ? kTextKept - out.size() : 1;
            const char* stop = end - p > static_cast<std::ptrdiff_t>(room) ? p + room : end;
            while (p < stop && *p != '\0' && !IsAsciiSpace(static_cast<unsigned char>(*p))) ++p;
            out.append(run, static_cast<std::size_t>(p - run));
        }
        if (out.size() >= kTextKept) {
            waiting.done = true;
            return;
        }
    }
}

bool LinkSearch::SearchFrom(ByteSource& source) {
    if (!pageStarted_) StartPage();
    pageStarted_ = false;
    stopped_ = failed_ = false;
    errno_ = 0;
    bytes_ = 0;
    linkSink_ = sink_.WantsLinks();
    fields_ = json_ || linkSink_;
    tokenizer_.SetLinks(links_ ? links_ : TALVERON_LINKS_DEFAULT);
    tokenizer_.SetFields(fields_);
    tokenizer_.Reset();
    try {
        HeaderRecords();
        headers_.clear();
        if (stopped_) return false;
        return Search(source);
    } catch (const UrlConversionError&) {
        // The records before the link that could not be resolved stand.
        EmitWaiting(true);
        Write();
        throw;
    }
}

bool LinkSearch::Search(ByteSource& source) {
    for (;;) {
        if (!Write()) return false;
        long n = source.Read(block_.get(), blockSize_);
        if (n < 0) {
            failed_ = true;
            errno_ = errno;
            break;
        }
        if (n == 0) break;
        tokenizer_.Feed(block_.get(), block_.get() + n, bytes_);
        bytes_ += n;
        sink_.Progress(bytes_);
        if (stopped_) return false;
    }
    tokenizer_.Finish();
    if (!open_.empty()) FlushText();
    EmitWaiting(true);
    if (stopped_) return false;
    return Write();
}
