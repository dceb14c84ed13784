// A search for a caller of the library: a searcher that reports to the
// caller's talveron_sink, and how it ended as the caller is told.
#ifndef TALVERON_API_CALLER_SEARCH_H
#define TALVERON_API_CALLER_SEARCH_H

#include <new>

#include "talveron.h"
#include "messages/levels.h"
#include "messages/messages.h"
#include "search/searcher.h"
#ifndef _WIN32
#include <memory>

#include "api/record_rewriter.h"
#endif

class CallerSink : public SearchSink {
public:
    explicit CallerSink(const talveron_sink& sink) : sink_(sink) {}
    bool Records(const char* bytes, std::size_t length) override {
        return sink_.records(sink_.context, bytes, length) == 0;
    }
    void Rejected(int reason, int keyword, long long offset, const char* address, std::size_t length) override {
        if (sink_.rejected) sink_.rejected(sink_.context, reason, keyword, offset, address, length);
    }
    // Each record's fields, for the caller's link function: 0-ended element
    // and attribute, a null pointer for a field the link has not.
    bool WantsLinks() const override { return sink_.link != nullptr; }
    bool Link(const LinkFields& fields) override {
        talveron_link link = {};
        link.url = fields.url.data();
        link.url_length = fields.url.size();
        link.href = fields.href.data();
        link.href_length = fields.href.size();
        link.element = fields.element;
        link.attribute = fields.attribute;
        link.text = fields.text.data();
        link.text_length = fields.text.size();
        link.rel = fields.rel.data();
        link.rel_length = fields.rel.size();
        link.offset = fields.offset;
        return sink_.link(sink_.context, &link) == 0;
    }
    void Progress(long long bytes) override {
        if (sink_.progress) sink_.progress(sink_.context, bytes);
    }
    // The caller is told the message in UTF-8 with its level. Every message
    // of a search is in the table.
    void Message(const char* text, const char* caption) override {
        if (!sink_.message) return;
        if (const MessageForms* forms = FormsOfShown(text, caption))
            sink_.message(sink_.context, forms->level, forms->utf8);
    }

private:
    const talveron_sink& sink_;
};

// A result that tells only how a call ended (and errno of a failed read).
inline talveron_result Outcome(int status, int readErrno = 0) {
    talveron_result outcome = {};
    outcome.status = status;
    outcome.read_errno = readErrno;
    return outcome;
}

// Runs `search` on a new searcher reporting to `sink` (its start message
// first when `beginning`), and tells how it ended. Nothing is thrown out
// to the caller, who may be a C program.
template <typename Search>
talveron_result SearchForCaller(const char* keywordLine, const talveron_sink* sink, bool beginning, Search search) {
    talveron_result outcome = Outcome(TALVERON_BAD_ARGUMENTS);
    if (!sink || !sink->records) return outcome;
    CallerSink caller(*sink);
    try {
        if (beginning) caller.Message(MSG_SEARCH_START, CAPTION_ERROR);
        SearchSink* reporting = &caller;
#ifndef _WIN32
        // Records other than the module's pass through a rewriter; a search
        // that asks for none is the module's own.
        std::unique_ptr<RecordRewriter> rewriter;
        if (RecordRewriter::Wanted(*sink)) {
            rewriter.reset(new RecordRewriter(caller, *sink));
            reporting = rewriter.get();
        }
#endif
        Searcher searcher(*reporting, keywordLine, sink->lf_line_ends != 0);
        searcher.SetHttps(sink->https == 1);
        searcher.SetCountHttps(sink->https != 1, sink->https != TALVERON_HTTPS_COUNTED);
        if (sink->fold_case) searcher.FoldKeywordCase();
        // An input that ended stays ended: a terminal needs one end-of-file
        // key, and a file one read at its end.
        searcher.SetEndIsFinal(true);
        search(searcher);
        outcome.status = searcher.Stopped()      ? TALVERON_STOPPED
                         : searcher.ReadFailed() ? TALVERON_READ_FAILED
                                                 : TALVERON_COMPLETED;
        outcome.read_errno = searcher.ReadErrno();
        outcome.bytes = searcher.BytesRead();
        outcome.next = searcher.Next();
        outcome.https_passed_over = searcher.HttpsPassedOver();
    } catch (const std::bad_alloc&) {
        outcome.status = TALVERON_OUT_OF_MEMORY;
    } catch (...) {
        outcome.status = TALVERON_STOPPED;  // the caller's own function failed
    }
    return outcome;
}

// How a call tells the caller: the result, and 0 when completed.
inline int ReportToCaller(const talveron_result& outcome, talveron_result* result) {
    if (result) *result = outcome;
    return outcome.status == TALVERON_COMPLETED ? 0 : -1;
}

#endif
