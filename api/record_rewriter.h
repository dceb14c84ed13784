// The records of the module's search as a library caller asks for them
// beyond the address and a line end: as JSON, each address once, without
// its fragment, and each record's fields handed to the caller's link
// function. The search writes its records as ever; this sink between it
// and the caller's rewrites them, so that a search that asks for none of
// it is the module's own, byte for byte and as fast.
#ifndef TALVERON_API_RECORD_REWRITER_H
#define TALVERON_API_RECORD_REWRITER_H

#include <string>

#include "talveron.h"
#include "search/search_sink.h"
#include "search/unique_addresses.h"

class RecordRewriter final : public SearchSink {
public:
    // Whether `sink` asks for anything the module's records are not.
    static bool Wanted(const talveron_sink& sink) {
        return sink.format == TALVERON_FORMAT_JSON || sink.unique || sink.no_fragment || sink.link;
    }

    // Hands the records, rewritten as `sink` asks, to `out` (its Link for
    // the fields); everything else goes to `out` as it comes.
    RecordRewriter(SearchSink& out, const talveron_sink& sink);

    bool Records(const char* bytes, std::size_t length) override;
    void Rejected(int reason, int keyword, long long offset, const char* address, std::size_t length) override {
        out_.Rejected(reason, keyword, offset, address, length);
    }
    void Progress(long long bytes) override { out_.Progress(bytes); }
    void Message(const char* text, const char* caption) override { out_.Message(text, caption); }
    void Settled(int last) override { out_.Settled(last); }

private:
    SearchSink& out_;
    bool json_, unique_, noFragment_, link_;
    const char* lineEnd_;
    std::size_t lineEndLength_;
    UniqueAddresses seen_;
    std::string rewritten_;
};

#endif
