// The library's searches of inputs as the tool reads them: an input opened
// once, its readers stacked by what its first bytes tell, and each entry
// (the page, or each record of a web archive) searched and reported to
// the caller with its name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "talveron.h"
#include "api/caller_search.h"
#include "read/decoder.h"
#include "read/input_chain.h"
#include "read/probe.h"
#include "html/link_search.h"

static_assert(TALVERON_LINK_MAX == LinkTokenizer::kValueMax, "the header names the standards mode's limit");
static_assert(int{TALVERON_OTHER_SCHEME} == kRejectOtherScheme && int{TALVERON_NOT_AN_ADDRESS} == kRejectNotAnAddress &&
                  int{TALVERON_ADDRESS_TOO_LONG} == kRejectAddressTooLong,
              "the reasons are the search's");
static_assert(TALVERON_HTML_ADDRESS_MAX == LinkSearch::kAddressMax, "the header names the standards mode's limit");

namespace {

// talveron_set_address_max's, for every search of the process.
std::atomic<unsigned long long> s_addressMax{LinkSearch::kAddressMax};

// How an input is read: by the module's rules, or by the HTML standard
// against a page's address.
struct Reading {
    const char* keywordLine;
    bool html;
    std::string address;  // of the page itself; an archive's records have their own
};

// The links an HTTP response's header makes: a 3xx response's Location,
// a Refresh header's.
struct HeaderLinks {
    const std::string* location = nullptr;
    const std::string* refresh = nullptr;
};

HeaderLinks HeaderLinksOf(const HttpBody& response) {
    HeaderLinks links;
    int status = response.Status();
    if (status >= 300 && status <= 399 && response.HasLocation()) links.location = &response.Location();
    if (response.HasRefresh()) links.refresh = &response.Refresh();
    return links;
}

// A page searched by the standards; `problem` says what could not be done
// when the search could not go on (TALVERON_NOT_CONVERTED).
talveron_result SearchLinks(ByteSource& bytes, const std::string& address, const HeaderLinks& header,
                            const char* keywordLine, const talveron_sink& sink, std::string& problem) {
    talveron_result outcome = Outcome(TALVERON_COMPLETED);
    CallerSink caller(sink);
    try {
        LinkSearch search(caller, keywordLine, sink.lf_line_ends != 0);
        search.SetAddressMax(static_cast<std::size_t>(s_addressMax.load()));
        search.SetJson(sink.format == TALVERON_FORMAT_JSON);
        search.SetLinks(static_cast<unsigned>(sink.links));
        search.SetUnique(sink.unique != 0);
        search.SetNoFragment(sink.no_fragment != 0);
        search.SetAddress(address);
        if (header.location) search.HeaderLink(LinkSearch::Header::kLocation, *header.location);
        if (header.refresh) search.HeaderLink(LinkSearch::Header::kRefresh, *header.refresh);
        if (sink.fold_case) search.FoldKeywordCase();
        search.SearchFrom(bytes);
        outcome.status = search.Stopped()      ? TALVERON_STOPPED
                         : search.ReadFailed() ? TALVERON_READ_FAILED
                                               : TALVERON_COMPLETED;
        outcome.read_errno = search.ReadErrno();
        outcome.bytes = search.BytesRead();
    } catch (const std::bad_alloc&) {
        outcome.status = TALVERON_OUT_OF_MEMORY;
    } catch (const UrlConversionError& error) {
        outcome.status = TALVERON_NOT_CONVERTED;
        problem = error.what();
    } catch (...) {
        outcome.status = TALVERON_STOPPED;  // the caller's own function failed
    }
    return outcome;
}

talveron_result SearchEntry(ByteSource& bytes, const Reading& reading, const std::string& address,
                            const HeaderLinks& header, const talveron_sink& sink, std::string& problem) {
    if (reading.html) return SearchLinks(bytes, address, header, reading.keywordLine, sink, problem);
    return SearchForCaller(reading.keywordLine, &sink, true,
                           [&](Searcher& searcher) { searcher.SearchFrom(bytes); });
}

// No bytes: the body of a record searched for its header's links alone.
class NoBytes final : public ByteSource {
public:
    long Read(unsigned char*, std::size_t) override { return 0; }
};

bool Begin(const talveron_input_sink& sink, int entry, const char* name) {
    return !sink.begin || sink.begin(sink.search.context, entry, name) == 0;
}

void End(const talveron_input_sink& sink, int entry, const talveron_result& result, const std::string& problem) {
    if (sink.end) sink.end(sink.search.context, entry, &result, problem.empty() ? nullptr : problem.c_str());
}

// The records of an archive, each searched as an entry of its own. The
// archive's result: completed, stopped (by begin or a records function),
// or a failed read; its bytes are the archive's, read so far.
talveron_result SearchArchive(ArchiveReader& archive, const Reading& reading, const talveron_input_sink& sink) {
    talveron_result outcome = Outcome(TALVERON_COMPLETED);
    for (;;) {
        std::string problem;
        ArchiveReader::Next next = archive.NextRecord(problem);
        if (next == ArchiveReader::Next::kEnd) break;
        if (next == ArchiveReader::Next::kFailed) {
            outcome = Outcome(TALVERON_READ_FAILED, archive.Errno());
            break;
        }
        if (next == ArchiveReader::Next::kMalformed) {
            if (sink.problem) sink.problem(sink.search.context, problem.c_str());
            continue;
        }
        if (next == ArchiveReader::Next::kPassedOver) {
            if (sink.passed) sink.passed(sink.search.context, archive.Type().c_str());
            continue;
        }
        // The caller may pass an HTTP response over by its status.
        int status = archive.Response().Status();
        if (status != 0 && sink.status && sink.status(sink.search.context, status) == 0) continue;
        if (!Begin(sink, TALVERON_RECORD, archive.Name().c_str())) {
            outcome.status = TALVERON_STOPPED;
            break;
        }
        if (next == ArchiveReader::Next::kNotSearched) {
            End(sink, TALVERON_RECORD, Outcome(TALVERON_NOT_SEARCHED), problem);
            continue;
        }
        NoBytes none;
        ByteSource& body = archive.HeaderOnly() ? static_cast<ByteSource&>(none) : archive.Body();
        HeaderLinks header = reading.html ? HeaderLinksOf(archive.Response()) : HeaderLinks();
        talveron_result record = SearchEntry(body, reading, archive.Name(), header, sink.search, problem);
        if (record.status == TALVERON_READ_FAILED) {
            // A broken body is the record's trouble; a failed read of the
            // archive is the archive's, told once at its end.
            problem = archive.BodyProblem();
            if (problem.empty()) record.status = TALVERON_COMPLETED;
        }
        if (problem.empty()) problem = archive.BlockProblem();
        End(sink, TALVERON_RECORD, record, problem);
        // A records function that stops a record stops the whole input.
        if (record.status == TALVERON_OUT_OF_MEMORY || record.status == TALVERON_NOT_CONVERTED ||
            record.status == TALVERON_STOPPED) {
            outcome.status = record.status;
            break;
        }
    }
    outcome.bytes = archive.BytesRead();
    return outcome;
}

talveron_result HarvestInput(InputChain& input, const char* name, const Reading& reading,
                             const talveron_input_sink& sink) {
    std::string problem;
    bool opened = input.Open();
    if (!opened) problem = std::string("cannot be decompressed: ") + std::strerror(errno);
    int entry = input.IsArchive() ? TALVERON_ARCHIVE : TALVERON_PAGE;
    if (!Begin(sink, entry, name)) return Outcome(TALVERON_STOPPED);
    talveron_result outcome = Outcome(TALVERON_COMPLETED);
    if (opened) {
        if (input.IsArchive() && reading.html) {
            input.Archive().SetHtmlOnly(true);
            // A redirect's record is searched for its header whatever its
            // body, when redirects are asked for.
            input.Archive().SetHeaderLinks((sink.search.links & TALVERON_LINK_REDIRECT) != 0);
        }
        outcome = input.IsArchive()
                      ? SearchArchive(input.Archive(), reading, sink)
                      : SearchEntry(input.Page(), reading, reading.address, HeaderLinks(), sink.search, problem);
        std::string error;
        if (!input.Finish(error) && outcome.status != TALVERON_STOPPED && problem.empty()) problem = error;
    }
    End(sink, entry, outcome, problem);
    return outcome;
}

// The bytes that a caller's read function gives: its end is asked for
// once (the readers above may ask again), and a count above the room given
// is a failed read.
class CallerStream final : public ByteSource {
public:
    CallerStream(int (*read)(void*, char*, std::size_t), void* context) : read_(read), context_(context) {}
    long Read(unsigned char* buffer, std::size_t size) override {
        if (ended_) return 0;
        int n = read_(context_, reinterpret_cast<char*>(buffer), size);
        if (n > 0 && static_cast<std::size_t>(n) > size) {
            errno = EINVAL;
            return -1;
        }
        ended_ = n == 0;
        return n;
    }

private:
    int (*read_)(void*, char*, std::size_t);
    void* context_;
    bool ended_ = false;
};

// Searches the input on `fd` (`size` its bytes, -1 when not known), or
// the bytes of `stream` when it is not null.
int Harvest(int fd, long long size, ByteSource* stream, const char* name, const char* address, int flags,
            const char* keyword_line, const talveron_input_sink* sink, talveron_result* result) {
    if (!sink || !sink->search.records || (!stream && fd < 0))
        return ReportToCaller(Outcome(TALVERON_BAD_ARGUMENTS), result);
    talveron_result outcome;
    try {
        Reading reading = {keyword_line, (flags & TALVERON_HTML) != 0, address ? address : ""};
        bool decompress = (flags & TALVERON_DECOMPRESS) != 0;
        std::unique_ptr<InputChain> input(stream ? new InputChain(*stream, decompress)
                                                 : new InputChain(fd, size, decompress));
        outcome = HarvestInput(*input, name ? name : "", reading, *sink);
    } catch (const std::bad_alloc&) {
        outcome = Outcome(TALVERON_OUT_OF_MEMORY);
    } catch (...) {
        outcome = Outcome(TALVERON_STOPPED);  // the caller's own function failed
    }
    return ReportToCaller(outcome, result);
}

}  // namespace

extern "C" int talveron_harvest_input(int fd, long long size, const char* name, int flags, const char* keyword_line,
                                      const talveron_input_sink* sink, talveron_result* result) {
    return Harvest(fd, size, nullptr, name, nullptr, flags, keyword_line, sink, result);
}

extern "C" int talveron_harvest_links(int fd, long long size, const char* name, const char* address, int flags,
                                      const char* keyword_line, const talveron_input_sink* sink,
                                      talveron_result* result) {
    return Harvest(fd, size, nullptr, name, address, flags | TALVERON_HTML, keyword_line, sink, result);
}

extern "C" int talveron_harvest_stream(int (*read)(void*, char*, std::size_t), void* read_context, const char* name,
                                       const char* address, int flags, const char* keyword_line,
                                       const talveron_input_sink* sink, talveron_result* result) {
    if (!read) return ReportToCaller(Outcome(TALVERON_BAD_ARGUMENTS), result);
    CallerStream stream(read, read_context);
    return Harvest(-1, -1, &stream, name, address, flags, keyword_line, sink, result);
}

extern "C" int talveron_harvest_path(const char* path, int flags, const char* keyword_line,
                                     const talveron_input_sink* sink, talveron_result* result) {
    if (!path) return ReportToCaller(Outcome(TALVERON_BAD_ARGUMENTS), result);
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ReportToCaller(Outcome(TALVERON_READ_FAILED, errno), result);
    struct stat st;
    long long size = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<long long>(st.st_size) : -1;
    int rc = talveron_harvest_input(fd, size, path, flags, keyword_line, sink, result);
    ::close(fd);
    return rc;
}

extern "C" int talveron_input_is_plain(int fd, int flags) {
    unsigned char head[kProbeHead];
    ssize_t n = ::pread(fd, head, sizeof head, 0);
    if (n < 0) return -1;
    std::size_t length = static_cast<std::size_t>(n);
    return ReadWhole(head, length, (flags & TALVERON_DECOMPRESS) != 0) ? 0 : 1;
}

extern "C" void talveron_set_decoder_memory(unsigned long long bytes) { SetMemoryBudget(bytes); }

extern "C" void talveron_set_address_max(unsigned long long bytes) {
    s_addressMax.store(bytes ? bytes : LinkSearch::kAddressMax);
}

extern "C" int talveron_name_kind(const char* name, int flags) {
    if (!name) return -1;
    switch (KindOfName(name, (flags & TALVERON_DECOMPRESS) != 0)) {
        case NameKind::kPage:
            return TALVERON_PAGE;
        case NameKind::kArchive:
            return TALVERON_ARCHIVE;
        default:
            return -1;
    }
}
