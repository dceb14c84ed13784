#include "input_search.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "levels.h"
#include "messages.h"

namespace {

// An archive's broken records said one by one, at most; then their count.
constexpr int kMalformedSaid = 10;

// What keeping one report costs beyond the bytes it carries: its function,
// the block that holds what it took, its place in the queue.
constexpr std::size_t kReportCost = 160;

std::size_t HeapOf(const std::string& s) { return s.capacity() > 15 ? s.capacity() + 1 : 0; }

// A report is told at once in the part's turn, else kept until it comes.
bool Direct(const Part& part) { return !part.reporter || part.reporter->Direct(); }
bool Dropped(const Part& part) { return part.reporter && part.reporter->Dropping(); }

void Tell(const Part& part, std::function<void()> what, std::size_t size) {
    if (!Direct(part))
        part.reporter->Keep(std::move(what), size);
    else if (!Dropped(part))
        what();
}

// The sink's functions, for the entry being searched.

int OnRecords(void* context, const char* bytes, std::size_t length) {
    Part& part = *static_cast<Part*>(context);
    RunState& run = *part.entry->run;
    if (Direct(part)) {
        if (Dropped(part)) return 1;
        InputSearch& search = *part.entry;
        return run.printer->Records(search.told, search.names, bytes, length) ? 0 : 1;
    }
    part.reporter->Keep([entry = part.entry, kept = std::string(bytes, length)] {
        entry->run->printer->Records(entry->told, entry->names, kept.data(), kept.size());
    }, kReportCost + length);
    if (run.printer->OneRecordTellsAll()) return length > 0 ? 1 : 0;
    return run.output->Failed() ? 1 : 0;
}

void OnRejected(void* context, int reason, int keyword, long long offset, const char* address, std::size_t length) {
    Part& part = *static_cast<Part*>(context);
    // Without --rejected or --stats, only what is said is wanted: the links
    // too long, and those of other schemes for the hint of file: links.
    if (!part.entry->run->rejected->Counted() && reason != TALVERON_TOO_LONG && reason != TALVERON_ADDRESS_TOO_LONG &&
        reason != TALVERON_OTHER_SCHEME)
        return;
    Tell(part, [entry = part.entry, reason, keyword, offset, kept = std::string(address, length)] {
        entry->run->rejected->Rejected(entry->names, reason, keyword, offset, kept.data(), kept.size());
    }, kReportCost + length);
}

void OnProgress(void* context, long long bytes) {
    Part& part = *static_cast<Part*>(context);
    RunState& run = *part.entry->run;
    if (Direct(part) && !Dropped(part)) run.progress->Update(*run.counts, bytes);
}

// --messages shows the module's message boxes as they are: the library's
// message is found in the module's table, for its Shift_JIS text and caption.
void OnMessage(void* context, int level, const char* text) {
    Part& part = *static_cast<Part*>(context);
    const MessageForms* forms = FormsOfTold(level, text);
    if (!forms) return;  // every message of a search is in the table
    Tell(part, [forms] { ShowModuleMessage(forms->text, forms->caption); }, kReportCost);
}

talveron_sink SinkFor(const RunState& run, Part* part) {
    talveron_sink sink = {};
    sink.context = part;
    sink.records = OnRecords;
    sink.lf_line_ends = !run.options->crlf;
    sink.fold_case = run.options->ignoreCase;
    // Without --https, the https anchors passed over are counted: for
    // --stats all of them, else those before each page's first record,
    // enough for the hint (counting all of them costs a search about a
    // sixth more time on a page full of https anchors).
    sink.https = run.options->https ? 1 : run.options->stats ? TALVERON_HTTPS_COUNTED : 0;
    sink.format = run.options->json ? TALVERON_FORMAT_JSON : TALVERON_FORMAT_LINES;
    sink.links = run.options->links;
    sink.unique = run.options->unique;
    sink.no_fragment = run.options->noFragment;
    if (run.rejected->Wanted()) sink.rejected = OnRejected;
    sink.progress = OnProgress;
    if (run.options->messages) sink.message = OnMessage;
    return sink;
}

// The entries of an input read whole: the page itself, or an archive and
// its records, each record an input of its own.

int OnBegin(void* context, int entry, const char* name) {
    Part& part = *static_cast<Part*>(context);
    InputSearch& input = *part.input;
    RunState& run = *input.run;
    const Options& options = *run.options;
    if (entry != TALVERON_RECORD) {
        input.archive = entry == TALVERON_ARCHIVE;
        part.entry = part.input;
        return 0;
    }
    if (run.output->Failed() || (options.quiet && run.found)) return 1;
    auto record = std::make_shared<InputSearch>();
    record->run = &run;
    record->record = true;
    // An archive holds many inputs: their names are shown unless -h.
    record->names = run.printer->Names(options.archiveNames ? input.names.name + "{" + name + "}" : std::string(name),
                                       options.withFilename != 0);
    record->names.sayAs = input.names.shown + ": " + record->names.shown;
    part.entry = record;
    return 0;
}

void OnEnd(void* context, int entry, const talveron_result* result, const char* problem) {
    Part& part = *static_cast<Part*>(context);
    InputSearch& input = *part.input;
    if (entry != TALVERON_RECORD) {
        if (problem) input.problem = problem;
        if (input.malformed > kMalformedSaid) {
            std::string said = input.names.shown + ": " + std::to_string(input.malformed - kMalformedSaid) +
                               " more malformed WARC records";
            Tell(part, [said] { Say(said); }, kReportCost + said.size());
        }
        return;
    }
    std::shared_ptr<InputSearch> record = part.entry;
    part.entry = part.input;
    if (result->status == TALVERON_NOT_SEARCHED) {
        // Not searched, as an input that cannot be read.
        std::string said = record->names.sayAs + ": " + (problem ? problem : "");
        Tell(part, [said, record] {
            ++record->run->attempted;
            record->run->trouble->InputFailed(said);
        }, KeptCost(*record) + said.size());
        return;
    }
    record->outcome = *result;
    record->bytes = result->bytes;
    part.httpsPassedOver += result->https_passed_over;
    if (problem) record->problem = problem;
    Tell(part, [record] {
        ++record->run->attempted;
        FinishInput(*record);
    }, KeptCost(*record));
}

// A record of an archive that breaks the format: the first few are said;
// damage in a stream compressed whole turns all behind it into noise, and
// that is said once, as a count.
void OnProblem(void* context, const char* text) {
    Part& part = *static_cast<Part*>(context);
    InputSearch& archive = *part.input;
    if (++archive.malformed > kMalformedSaid) return;
    std::string said = archive.names.shown + ": " + text;
    Tell(part, [said] { Say(said); }, kReportCost + said.size());
}

// A record passed over for its type: counted for --stats, in its turn.
void OnPassed(void* context, const char* type) {
    Part& part = *static_cast<Part*>(context);
    RunCounts* counts = part.input->run->counts;
    Tell(part, [counts, kept = std::string(type)] { counts->PassedOver(kept); }, kReportCost + std::strlen(type));
}

// An archive's HTTP response, before it is searched: passed over (and
// counted, in its turn) when --status leaves its status out.
int OnStatus(void* context, int status) {
    Part& part = *static_cast<Part*>(context);
    RunCounts* counts = part.input->run->counts;
    if (part.input->run->options->StatusWanted(status)) return 1;
    Tell(part, [counts, status] { ++counts->statusesPassedOver[status]; }, kReportCost);
    return 0;
}

// A file's path in a URL: each byte that the URL would read otherwise
// (spaces and controls, '%', '#', '?', '\\', and every byte from 0x80 up,
// UTF-8 or not) percent-encoded.
std::string PathInUrl(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url;
    for (unsigned char c : path) {
        if (c <= 0x20 || c >= 0x7F || c == '%' || c == '#' || c == '?' || c == '\\') {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        } else {
            url += static_cast<char>(c);
        }
    }
    return url;
}

// The file: URL of a file's path, as a browser names the page it opened.
std::string FileUrl(const std::string& path) {
    std::string absolute = path;
    if (path.empty() || path[0] != '/') {
        char here[4096];
        if (!::getcwd(here, sizeof here)) return std::string();
        absolute = std::string(here) + (here[1] ? "/" : "") + path;
    }
    return "file://" + PathInUrl(absolute);
}

void SearchWhole(Part& part) {
    InputSearch& input = *part.input;
    const RunState& run = *input.run;
    const Options& options = *run.options;
    const InputOpener::Opened& opened = input.opened;
    int fd = opened.fd;
    // A regular file is read no further than its size from where it stands.
    long long size = -1;
    if (S_ISREG(opened.st.st_mode)) {
        off_t at = opened.input.standardInput ? ::lseek(fd, 0, SEEK_CUR) : 0;
        if (at >= 0 && at <= opened.st.st_size) size = opened.st.st_size - at;
    }
    talveron_input_sink sink = {SinkFor(run, &part), OnBegin, OnEnd, OnProblem, OnPassed,
                                options.statuses.empty() ? nullptr : OnStatus};
    // Every input is read by its first bytes: -z only widens what a walk takes.
    int flags = TALVERON_DECOMPRESS;
    if (options.html) {
        const Input& page = opened.input;
        std::string address = !options.haveBase ? (page.standardInput ? std::string() : FileUrl(page.path))
                              : page.inWalk     ? options.baseFolder + PathInUrl(page.path.substr(page.below))
                                                : options.base;
        talveron_harvest_links(fd, size, input.names.name.c_str(), address.c_str(), flags, options.keywordLine.c_str(),
                               &sink, &part.result);
        return;
    }
    talveron_harvest_input(fd, size, input.names.name.c_str(), flags, options.keywordLine.c_str(), &sink,
                           &part.result);
}

}  // namespace

std::size_t KeptCost(const InputSearch& search) {
    const InputNames& names = search.names;
    const Input& input = search.opened.input;
    return kReportCost + sizeof search + HeapOf(names.name) + HeapOf(names.shown) + HeapOf(names.sayAs) +
           HeapOf(names.listed) + HeapOf(names.prefix) + HeapOf(search.diagnostic) + HeapOf(search.problem) +
           HeapOf(input.path) + HeapOf(input.name) + HeapOf(input.leaf) + HeapOf(input.refusal);
}

const std::string& NameOf(const Input& input, const Options& options) {
    return input.standardInput && options.haveLabel ? options.label : input.name;
}

std::shared_ptr<InputSearch> BeginInput(RunState& run, InputOpener::Opened opened) {
    auto search = std::make_shared<InputSearch>();
    search->run = &run;
    search->opened = std::move(opened);
    search->names = run.printer->Names(NameOf(search->opened.input, *run.options), run.withName);
    search->told.standardInput = search->opened.input.standardInput;
    return search;
}

void SearchPart(Part& part) {
    part.entry = part.input;
    RunState& run = *part.input->run;
    if (part.end < 0) {
        SearchWhole(part);
    } else {
        talveron_sink sink = SinkFor(run, &part);
        talveron_harvest_range(part.input->opened.fd, part.start, part.end, run.options->keywordLine.c_str(), &sink,
                               &part.result);
    }
    // The https anchors passed over (without --https): told as one sum, in
    // the part's turn, for --stats and the hint of a run that found nothing.
    if (long long passed = part.httpsPassedOver + part.result.https_passed_over) {
        part.httpsPassedOver = 0;
        Tell(part, [counts = run.counts, passed] { counts->httpsPassedOver += passed; }, kReportCost);
    }
}

void FinishInput(InputSearch& search) {
    RunState& run = *search.run;
    RunCounts& counts = *run.counts;
    Trouble& trouble = *run.trouble;
    run.opener->Done(search.opened);
    run.rejected->Flush();
    // An archive's bytes are counted as its records' pages.
    if (!search.archive) counts.bytes += search.bytes;
    const talveron_result& outcome = search.outcome;
    if (search.archive && search.problem.empty() && outcome.status != TALVERON_READ_FAILED &&
        outcome.status != TALVERON_OUT_OF_MEMORY) {
        // Its records have been told; a record that broke the rules was
        // said in its turn.
        if (search.malformed > 0) trouble.InputFailedAsSaid();
        ++counts.archives;
        return;
    }
    // A search stopped by its records function has told what it had to.
    if (!search.problem.empty()) {
        // A compressed stream that is corrupt or cut: the records before it
        // stand.
        trouble.InputFailed(search.names.sayAs + ": " + search.problem);
    } else if (outcome.status == TALVERON_COMPLETED ||
               (outcome.status == TALVERON_STOPPED && !run.output->Failed())) {
        ++counts.searched;
        if (search.record) ++counts.archiveRecords;
    } else if (outcome.status == TALVERON_READ_FAILED) {
        trouble.InputUnreadable(search.names.name, outcome.read_errno);
    } else if (outcome.status == TALVERON_OUT_OF_MEMORY) {
        // An archive's records told before it stand.
        trouble.InputFailed(search.names.shown + (search.archive ? ": out of memory" : ": not searched: out of memory"));
    } else {
        trouble.InputFailedAsSaid();  // the write that failed is said by the output
    }
    if (search.told.records > 0) run.found = true;
    if (search.archive) return;
    search.told.completed = outcome.status == TALVERON_COMPLETED;
    run.printer->End(search.told, search.names);
    run.progress->Update(counts, 0);
}
