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

// A page searched by the standards; `problem` says what could not be done
// when the search could not go on (TALVERON_NOT_CONVERTED).
talveron_result SearchLinks(ByteSource& bytes, const std::string& address, const char* keywordLine,
                            const talveron_sink& sink, std::string& problem) {
    talveron_result outcome = Outcome(TALVERON_COMPLETED);
    CallerSink caller(sink);
    try {
        LinkSearch search(caller, keywordLine, sink.lf_line_ends != 0);
        search.SetAddressMax(static_cast<std::size_t>(s_addressMax.load()));
        search.SetAddress(address);
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
                            const talveron_sink& sink, std::string& problem) {
    if (reading.html) return SearchLinks(bytes, address, reading.keywordLine, sink, problem);
    return SearchForCaller(reading.keywordLine, &sink, true,
                           [&](Searcher& searcher) { searcher.SearchFrom(bytes); });
}

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
        if (!Begin(sink, TALVERON_RECORD, archive.Name().c_str())) {
            outcome.status = TALVERON_STOPPED;
            break;
        }
        if (next == ArchiveReader::Next::kNotSearched) {
            End(sink, TALVERON_RECORD, Outcome(TALVERON_NOT_SEARCHED), problem);
            continue;
        }
        talveron_result record = SearchEntry(archive.Body(), reading, archive.Name(), sink.search, problem);
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

talveron_result HarvestInput(int fd, long long size, const char* name, int flags, const Reading& reading,
                             const talveron_input_sink& sink) {
    InputChain input(fd, size, (flags & TALVERON_DECOMPRESS) != 0);
    std::string problem;
    bool opened = input.Open();
    if (!opened) problem = std::string("cannot be decompressed: ") + std::strerror(errno);
    int entry = input.IsArchive() ? TALVERON_ARCHIVE : TALVERON_PAGE;
    if (!Begin(sink, entry, name)) return Outcome(TALVERON_STOPPED);
    talveron_result outcome = Outcome(TALVERON_COMPLETED);
    if (opened) {
        if (input.IsArchive() && reading.html) input.Archive().SetHtmlOnly(true);
        outcome = input.IsArchive() ? SearchArchive(input.Archive(), reading, sink)
                                    : SearchEntry(input.Page(), reading, reading.address, sink.search, problem);
        std::string error;
        if (!input.Finish(error) && outcome.status != TALVERON_STOPPED && problem.empty()) problem = error;
    }
    End(sink, entry, outcome, problem);
    return outcome;
}

int Harvest(int fd, long long size, const char* name, const char* address, int flags, const char* keyword_line,
            const talveron_input_sink* sink, talveron_result* result) {
    if (!sink || !sink->search.records || fd < 0) return ReportToCaller(Outcome(TALVERON_BAD_ARGUMENTS), result);
    talveron_result outcome;
    try {
        Reading reading = {keyword_line, (flags & TALVERON_HTML) != 0, address ? address : ""};
        outcome = HarvestInput(fd, size, name ? name : "", flags, reading, *sink);
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
    return Harvest(fd, size, name, nullptr, flags, keyword_line, sink, result);
}

extern "C" int talveron_harvest_links(int fd, long long size, const char* name, const char* address, int flags,
                                      const char* keyword_line, const talveron_input_sink* sink,
                                      talveron_result* result) {
    return Harvest(fd, size, name, address, flags | TALVERON_HTML, keyword_line, sink, result);
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
