// Where a search reports: the records it makes, the addresses it drops, its
// progress and messages, and what it delivered last.
#ifndef TALVERON_SEARCH_SEARCH_SINK_H
#define TALVERON_SEARCH_SEARCH_SINK_H

#include <cstddef>
#include <string_view>

// Why an address behind a recognised anchor becomes no record.
enum RejectReason {
    kRejectExcluded = 1,
    kRejectTooLong = 2,
    kRejectUnfinished = 3,
    // Of the standards mode's links: an address of another scheme than http
    // and https, and a value that is no address.
    kRejectOtherScheme = 4,
    kRejectNotAnAddress = 5,
    // A link whose address would be longer than the search's limit.
    kRejectAddressTooLong = 6,
};

// What the last step of a search delivered, besides a byte (0..255).
constexpr int kLastWasEnd = -1;      // a read found the end of the input
constexpr int kLastWasNothing = -2;  // nothing yet
constexpr int kLastWasRecord = -3;   // a record was added

// A record's fields, for sinks that take them (WantsLinks): the address as
// the record has it and, of the standards mode's links, the value as
// written (references decoded), the tag and attribute it came from, an a's
// text, the rel attribute, and the offset of the tag's '<' (-1 for an HTTP
// header). A field the link does not have has a null data().
struct LinkFields {
    std::string_view url;
    std::string_view href;
    const char* element = nullptr;
    const char* attribute = nullptr;
    std::string_view text;
    std::string_view rel;
    long long offset = -1;
};

// Where a search reports. Only Records must be given.
class SearchSink {
public:
    // Whole records, each ended by the search's line end, in input order:
    // before every read of the input and whenever the records gathered fill
    // their buffer. False stops the search.
    virtual bool Records(const char* bytes, std::size_t length) = 0;
    // The records gathered when a failure (of the sink itself) ends the
    // search early: whatever can be kept.
    virtual void Abandoned(const char* bytes, std::size_t length) { (void)bytes, (void)length; }
    // An address that becomes no record: the reason, the keyword slot (1..6)
    // for kRejectExcluded, the input offset of its anchor's '<', and the
    // address as far as it is kept (kRecordBufferSize bytes).
    virtual void Rejected(int reason, int keyword, long long offset, const char* address, std::size_t length) {
        (void)reason, (void)keyword, (void)offset, (void)address, (void)length;
    }
    // Each record's fields as it is made, before its bytes reach Records,
    // when WantsLinks. False stops the search.
    virtual bool WantsLinks() const { return false; }
    virtual bool Link(const LinkFields& link) { (void)link; return true; }
    // After each read: the bytes read so far.
    virtual void Progress(long long bytes) { (void)bytes; }
    // A message of the search (a read that failed), Shift_JIS text and caption.
    virtual void Message(const char* text, const char* caption) { (void)text, (void)caption; }
    // Where reading one byte at a time could be watched: before a message and
    // at the end. `last` is what the last step delivered (a byte or kLastWas...).
    virtual void Settled(int last) { (void)last; }

protected:
    ~SearchSink() = default;
};

#endif
