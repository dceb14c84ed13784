// The emitter: an address captured becomes a record among the records
// gathered, its non-printable bytes removed, or is reported to the sink as
// rejected, with its reason.
#ifndef TALVERON_SEARCH_LINK_EMITTER_H
#define TALVERON_SEARCH_LINK_EMITTER_H

#include "search/keywords.h"
#include "search/link_capture.h"
#include "search/record_buffer.h"
#include "search/search_sink.h"

class LinkEmitter {
public:
    // Drops addresses in which a keyword of `keywordLine` occurs (see
    // KeywordSlots). Takes the C runtime's isprint now: the caller may change
    // its locale between searches.
    LinkEmitter(SearchSink& sink, RecordBuffer& records, const char* keywordLine);
    LinkEmitter(const LinkEmitter&) = delete;
    LinkEmitter& operator=(const LinkEmitter&) = delete;

    // Makes the record of `link`, or reports it rejected when it is longer
    // than kMaxAddress bytes up to its first 0 byte or a keyword occurs in
    // it. True when a record was made.
    bool Emit(const CapturedLink& link);
    // Reports `link` rejected for `reason` (and `keyword`, its slot).
    void Reject(const CapturedLink& link, int reason, int keyword);

    const KeywordSlots& Keywords() const { return keywords_; }
    void FoldKeywordCase() { keywords_.FoldCase(); }

private:
    int StripNonPrintable(const char* address, int length, char* record) const;

    SearchSink& sink_;
    RecordBuffer& records_;
    KeywordSlots keywords_;
    // The C runtime's isprint for each byte, and whether it is the "C"
    // locale's (0x20 to 0x7E).
    bool printable_[256];
    bool printableIsAscii_ = true;
};

#endif
