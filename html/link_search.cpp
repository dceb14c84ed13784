#include "html/link_search.h"

#include <cerrno>

#include "html/character_references.h"
#include "lifecycle/limits.h"

namespace {
// Records gathered are handed over before every read and when they pass this.
constexpr std::size_t kRecordsHandedAt = 64 * 1024;
}  // namespace

LinkSearch::LinkSearch(SearchSink& sink, const char* keywordLine, bool lfLineEnds)
    : sink_(sink),
      keywords_(keywordLine ? keywordLine : ""),
      lineEnd_(lfLineEnds ? "\n" : "\r\n"),
      tokenizer_(*this),
      block_(new unsigned char[kBlockSize]) {
    records_.reserve(kRecordsHandedAt + 4096);
}

void LinkSearch::SetAddress(std::string_view address) {
    haveAddress_ = !address.empty() && address_.Parse(address, nullptr);
    haveBase_ = haveAddress_;
    if (haveBase_) base_ = address_;
}

bool LinkSearch::Write() {
    if (records_.empty()) return true;
    bool taken = sink_.Records(records_.data(), records_.size());
    records_.clear();
    if (!taken) stopped_ = true;
    return taken;
}

void LinkSearch::Tag(LinkTokenizer::Found kind, std::string_view value, bool tooLong, long long offset) {
    if (stopped_) return;
    if (tooLong) {
        // Not held whole: said, never resolved from a part.
        sink_.Rejected(kRejectTooLong, 0, offset, value.data(), std::min<std::size_t>(value.size(), kRecordBufferSize));
        return;
    }
    value_.clear();
    AppendAttributeValue(value, value_);
    if (kind == LinkTokenizer::Found::kBase) {
        // A base that is no address leaves the page's own in place; a base of
        // any length is the base (its links may well be shorter).
        link_.SetMaxLength(static_cast<std::size_t>(-1));
        if (link_.Parse(value_, haveAddress_ ? &address_ : nullptr)) {
            std::swap(base_, link_);
            haveBase_ = true;
        }
        return;
    }
    link_.SetMaxLength(addressMax_);
    if (!link_.Parse(value_, haveBase_ ? &base_ : nullptr)) {
        if (link_.TooLong()) {
            sink_.Rejected(kRejectAddressTooLong, 0, offset, value_.data(),
                           std::min<std::size_t>(value_.size(), kRecordBufferSize));
        } else {
            sink_.Rejected(kRejectNotAnAddress, 0, offset, value_.data(), value_.size());
        }
        return;
    }
    std::string_view scheme = link_.Scheme();
    const std::string& href = link_.Href();
    if (scheme != "http" && scheme != "https") {
        sink_.Rejected(kRejectOtherScheme, 0, offset, href.data(), href.size());
        return;
    }
    if (keywords_.Any()) {
        if (int slot = keywords_.Excluding(href.c_str())) {
            sink_.Rejected(kRejectExcluded, slot, offset, href.data(), href.size());
            return;
        }
    }
    records_ += href;
    records_ += lineEnd_;
    if (records_.size() >= kRecordsHandedAt) Write();
}

bool LinkSearch::SearchFrom(ByteSource& source) {
    stopped_ = failed_ = false;
    errno_ = 0;
    bytes_ = 0;
    tokenizer_.Reset();
    try {
        return Search(source);
    } catch (const UrlConversionError&) {
        // The records before the link that could not be resolved stand.
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
    return Write();
}

// Not yet built: the fields of a record and the other links.
void LinkSearch::SetJson(bool) {}
void LinkSearch::SetLinks(unsigned) {}
void LinkSearch::SetUnique(bool) {}
void LinkSearch::SetNoFragment(bool) {}
void LinkSearch::HeaderLink(Header, std::string_view) {}
