#include "read/warc.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

const char* const kVersion = kWarcVersionPrefix;
constexpr std::size_t kVersionLength = sizeof kWarcVersionPrefix - 1;

// The versions whose framing this reader reads: named header fields, a
// Content-Length block, an empty line behind it.
bool IsVersionRead(const std::string& line) {
    return line == "WARC/0.18" || line == "WARC/1.0" || line == "WARC/1.1" || line == "WARC/1.2";
}

}  // namespace

std::size_t HeaderBlockEnd(const unsigned char* bytes, std::size_t length) {
    for (std::size_t k = 0; k + 1 < length; ++k) {
        const void* lf = std::memchr(bytes + k, '\n', length - k);
        if (!lf) return 0;
        k = static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - bytes);
        if (k + 1 < length && bytes[k + 1] == '\n') return k + 2;
        if (k + 2 < length && bytes[k + 1] == '\r' && bytes[k + 2] == '\n') return k + 3;
    }
    return 0;
}

std::string FieldValue(const char* begin, const char* end) {
    while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r')) --end;
    return std::string(begin, end);
}

WarcReader::WarcReader(ByteSource& in, long long size) : in_(in), size_(size), buffer_(new unsigned char[kBufferSize]) {}

// At least `want` bytes at hand (want <= kBufferSize); false when the
// archive has fewer.
bool WarcReader::Fill(std::size_t want) {
    while (end_ - start_ < want) {
        if (ended_ || failed_) return false;
        std::size_t from = std::min(start_, pinned_);  // bytes before start_ that must stay
        if (from > 0 && (kBufferSize - end_ < want || start_ == end_)) {
            std::memmove(buffer_.get(), buffer_.get() + from, end_ - from);
            bufferOffset_ += static_cast<long long>(from);
            end_ -= from;
            start_ -= from;
            if (pinned_ != kNotPinned) pinned_ -= from;
        }
        long n = in_.Read(buffer_.get() + end_, kBufferSize - end_);
        if (n < 0) {
            failed_ = true;
            errno_ = errno;
        } else if (n == 0) {
            ended_ = true;
        } else {
            end_ += static_cast<std::size_t>(n);
        }
    }
    return true;
}

const unsigned char* WarcReader::Peek(std::size_t& available, std::size_t want) {
    available = 0;
    if (!inRecord_) return nullptr;
    while (!segmentsOf_.empty() && blockLeft_ < static_cast<long long>(std::min(want, kHeaderMax))) NextSegment();
    if (blockLeft_ == 0) return nullptr;
    want = static_cast<std::size_t>(std::min<long long>({static_cast<long long>(want), blockLeft_,
                                                          static_cast<long long>(kBufferSize)}));
    Fill(want);
    if (declaredLength_ > 0) EndAtARecord();
    available = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(end_ - start_), blockLeft_));
    return available > 0 ? buffer_.get() + start_ : nullptr;
}

void WarcReader::Consume(std::size_t count) {
    start_ += count;
    blockLeft_ -= static_cast<long long>(count);
    if (declaredLength_ > 0 && count > 0) lineStart_ = buffer_[start_ - 1] == '\n';  // for EndAtARecord
}

// A block whose Content-Length runs past the archive's end ends where a
// line of the bytes at hand begins a record: that record is read as one.
void WarcReader::EndAtARecord() {
    Fill(std::min<std::size_t>(static_cast<std::size_t>(std::min<long long>(blockLeft_, kBufferSize)) + kVersionLength,
                               kBufferSize));
    std::size_t have = std::min<std::size_t>(end_ - start_, static_cast<std::size_t>(blockLeft_) + kVersionLength);
    const unsigned char* at = buffer_.get() + start_;
    std::size_t cut = SIZE_MAX;
    if (lineStart_ && have >= kVersionLength && std::memcmp(at, kVersion, kVersionLength) == 0) {
        cut = 0;
    } else if (const void* line = memmem(at, have, "\nWARC/", kVersionLength + 1)) {
        cut = static_cast<std::size_t>(static_cast<const unsigned char*>(line) - at) + 1;
    }
    if (cut == SIZE_MAX || static_cast<long long>(cut) >= blockLeft_) return;
    blockLeft_ = static_cast<long long>(cut);
    cutAtRecord_ = true;
}

WarcReader::Next WarcReader::NextRecord(WarcRecord& record, std::string& problem) {
    if (inRecord_) {
        // What the search left of the block, then the empty line.
        if (declaredLength_ > 0) {
            std::size_t n;
            while (Peek(n, kBufferSize)) Consume(n);  // up to a record met inside it
        }
        inRecord_ = false;
        while (blockLeft_ > 0) {
            if (start_ == end_ && !Fill(1)) break;
            std::size_t n = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(end_ - start_), blockLeft_));
            start_ += n;
            blockLeft_ -= static_cast<long long>(n);
        }
        if (failed_) return Next::kFailed;
        record.offset = recordOffset_;
        segmentsOf_.clear();  // a search that stopped early: its continuations are passed over
        if (long long declared = declaredLength_) {
            // Its block was taken up to the archive's end, or to a record
            // met inside it, which is read next.
            declaredLength_ = 0;
            problem = "its Content-Length " + std::to_string(declared) + " runs past the end of the archive";
            if (cutAtRecord_)
                problem += ": its block was taken up to the record behind it";
            else
                problem = "cut short: " + std::to_string(recordLength_ - blockLeft_) + " of its " + std::to_string(declared) + " bytes";
            resynchronise_ = cutAtRecord_;
            cutAtRecord_ = false;
            return Next::kMalformed;
        }
        if (blockLeft_ > 0) {
            problem = "cut short: " + std::to_string(recordLength_ - blockLeft_) + " of its " +
                      std::to_string(recordLength_) + " bytes (any records behind its header were read as its block)";
            return Next::kMalformed;
        }
        if (!PassEmptyLine()) {
            if (failed_) return Next::kFailed;
            resynchronise_ = true;
            problem = "its block is not followed by an empty line";
            return Next::kMalformed;
        }
    }
    if (resynchronise_) {
        Next found = Resynchronise();
        if (found != Next::kRecord) return found;
    }
    return ReadHeader(record, problem);
}

// The empty line behind a block (of LF line ends too, as some writers end
// lines).
bool WarcReader::PassEmptyLine() {
    std::size_t empty = Fill(2) && std::memcmp(buffer_.get() + start_, "\n\n", 2) == 0           ? 2
                        : Fill(4) && std::memcmp(buffer_.get() + start_, "\r\n\r\n", 4) == 0 ? 4
                                                                                           : 0;
    start_ += empty;
    return empty > 0;
}

// The block of a segmented record runs short of what is wanted: its next
// segment, a continuation record, must follow. Its header is passed over
// and what is left of this block (less than kHeaderMax bytes) is moved up
// against its block, so that the two read as one.
void WarcReader::NextSegment() {
    std::string origin = std::move(segmentsOf_);
    segmentsOf_.clear();
    const std::size_t tail = static_cast<std::size_t>(blockLeft_);
    Fill(tail);
    pinned_ = start_;
    start_ += tail;
    WarcRecord next;
    std::string problem;
    std::size_t length = 0;
    bool found = PassEmptyLine();
    if (found) {
        while (Fill(1) && (buffer_[start_] == '\r' || buffer_[start_] == '\n')) ++start_;
        found = !failed_ && start_ < end_ && ParseHeader(next, problem, length) && next.type == "continuation" &&
                next.origin == origin && next.segment == nextSegment_;
    }
    const std::size_t tailAt = pinned_;
    pinned_ = kNotPinned;
    if (!found) {
        if (!failed_)
            blockProblem_ = "its segment " + std::to_string(nextSegment_) +
                            " never came (a continuation record must follow the segment before it)";
        start_ = tailAt;  // the block ends as it stood
        return;
    }
    const std::size_t blockAt = start_ + length;
    std::memmove(buffer_.get() + blockAt - tail, buffer_.get() + tailAt, tail);
    start_ = blockAt - tail;
    blockLeft_ = recordLength_ = static_cast<long long>(tail) + next.length;
    recordOffset_ = next.offset;
    ++nextSegment_;
    if (next.totalLength < 0) segmentsOf_ = origin;  // more to come
}

// Passes over bytes up to the next line that begins "WARC/".
WarcReader::Next WarcReader::Resynchronise() {
    resynchronise_ = false;
    bool lineStart = true;  // a record that is cut or broken ends at a line's end, or not at all
    for (;;) {
        if (!Fill(kVersionLength + 1)) {
            start_ = end_;
            return failed_ ? Next::kFailed : Next::kEnd;
        }
        const unsigned char* at = buffer_.get() + start_;
        if (lineStart && std::memcmp(at, kVersion, kVersionLength) == 0) return Next::kRecord;
        const void* next = memmem(at, end_ - start_, "\nWARC/", kVersionLength + 1);
        if (next) {
            start_ = static_cast<std::size_t>(static_cast<const unsigned char*>(next) - buffer_.get()) + 1;
            return Next::kRecord;
        }
        start_ = end_ - kVersionLength;  // the start of a line to come may stand at the end
        lineStart = false;
    }
}

WarcReader::Next WarcReader::ReadHeader(WarcRecord& record, std::string& problem) {
    // Empty lines between records are let pass.
    while (Fill(1) && (buffer_[start_] == '\r' || buffer_[start_] == '\n')) ++start_;
    if (failed_) return Next::kFailed;
    if (start_ == end_) return Next::kEnd;
    std::size_t length = 0;
    if (!ParseHeader(record, problem, length)) {
        if (failed_) return Next::kFailed;
        resynchronise_ = true;
        start_ += 1;  // the search for the next record begins behind this one's start
        return Next::kMalformed;
    }
    start_ += length;
    inRecord_ = true;
    blockLeft_ = recordLength_ = record.length;
    recordOffset_ = record.offset;
    blockProblem_.clear();
    lineStart_ = true;
    long long left = size_ - Offset();
    if (size_ >= 0 && record.length > left) {
        // A length past the archive's end would take the records behind
        // the header in as its block: the block ends at the archive's end,
        // or before a record met inside it.
        declaredLength_ = record.length;
        blockLeft_ = recordLength_ = std::max(left, 0LL);
    }
    if (record.segment == 1 && record.type != "continuation" && record.totalLength < 0) {
        segmentsOf_ = lastSegmented_ = record.id;
        nextSegment_ = 2;
    }
    if (record.target.empty() && (record.type == "response" || record.type == "resource")) {
        // Framed as it should be, but nameless: passed over by its length.
        problem = "it has no WARC-Target-URI";
        return Next::kMalformed;
    }
    return Next::kRecord;
}

// The header of the record at start_, read without moving past it; false
// (`problem` says why) when it breaks the rules. `length`: the header's.
bool WarcReader::ParseHeader(WarcRecord& record, std::string& problem, std::size_t& length) {
    record = WarcRecord();
    record.offset = Offset();
    // The whole header at hand: up to the empty line behind it.
    length = 0;
    for (;;) {
        // Looked for in the first kHeaderMax bytes only, however many are
        // at hand: the same archive read in other pieces reads alike.
        std::size_t have = std::min(end_ - start_, kHeaderMax);
        if ((length = HeaderBlockEnd(buffer_.get() + start_, have)) > 0) break;
        if (have >= kHeaderMax || !Fill(have + 1)) {
            problem = have >= kHeaderMax ? "its header is longer than " + std::to_string(kHeaderMax) + " bytes"
                                         : "its header is cut short";
            return false;
        }
    }

    const char* begin = reinterpret_cast<const char*>(buffer_.get() + start_);
    const char* end = begin + length;
    const char* lineEnd = static_cast<const char*>(std::memchr(begin, '\n', length));
    std::string version = FieldValue(begin, lineEnd);
    bool haveLength = false, badLength = false;
    std::string* last = nullptr;  // the field a folded line continues
    auto number = [](const std::string& value, long long& n) {
        if (value.empty() || value.size() > 18 || value.find_first_not_of("0123456789") != std::string::npos)
            return false;
        n = std::stoll(value);
        return true;
    };
    for (const char* line = lineEnd + 1; line < end;) {
        const char* stop = static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
        if (line[0] == ' ' || line[0] == '\t') {
            // A folded line goes on the field before, joined by one space.
            std::string more = FieldValue(line, stop);
            if (last && !more.empty()) *last += (last->empty() ? "" : " ") + more;
        } else if (const char* colon = static_cast<const char*>(std::memchr(line, ':', static_cast<std::size_t>(stop - line)))) {
            std::string name(line, colon), value = FieldValue(colon + 1, stop);
            last = nullptr;
            // The fields kept as text, which a folded line may continue.
            static const struct {
                const char* name;
                std::string WarcRecord::*field;
            } kText[] = {{"WARC-Type", &WarcRecord::type},
                         {"WARC-Target-URI", &WarcRecord::target},
                         {"WARC-Record-ID", &WarcRecord::id},
                         {"WARC-Segment-Origin-ID", &WarcRecord::origin},
                         {"Content-Type", &WarcRecord::contentType}};
            for (const auto& text : kText)
                if (strcasecmp(name.c_str(), text.name) == 0) last = &(record.*text.field);
            if (last) {
                *last = value;
            } else if (strcasecmp(name.c_str(), "Content-Length") == 0) {
                haveLength = true;
                badLength = !number(value, record.length);
            } else if (strcasecmp(name.c_str(), "WARC-Segment-Number") == 0) {
                if (!number(value, record.segment)) record.segment = -1;
            } else if (strcasecmp(name.c_str(), "WARC-Segment-Total-Length") == 0) {
                if (!number(value, record.totalLength)) record.totalLength = -1;
            }
        }
        line = stop + 1;
    }
    if (record.target.size() >= 2 && record.target.front() == '<' && record.target.back() == '>')
        record.target = record.target.substr(1, record.target.size() - 2);

    if (version.compare(0, kVersionLength, kVersion) != 0)
        problem = "it does not begin with a WARC version line";
    else if (!IsVersionRead(version))
        problem = "its version " + version + " is not one read here (WARC/0.18, 1.0, 1.1, 1.2)";
    else if (!haveLength || badLength)
        problem = haveLength ? "its Content-Length is not a number" : "it has no Content-Length";
    else if (record.type.empty())
        problem = "it has no WARC-Type";
    return problem.empty();
}
