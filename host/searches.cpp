#include "searches.h"

#include <poll.h>
#include <unistd.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "read/byte_source.h"
#include "read/http_body.h"
#include "messages.h"
#include "read/unpack.h"
#include "read/warc.h"
#include "talveron.h"

// One input's search and what it tells, shared by its parts.
struct InputSearch {
    RunState* run;
    InputOpener::Opened opened;
    std::string name;        // as named (or --label)
    std::string shownName;   // as shown in diagnostics
    std::string sayAs;       // in front of its diagnostics (a record's: behind its archive's name)
    std::string listed;      // as -l, -L and -c name it
    std::string prefix;      // "NAME:" with -H
    bool named = false;      // its count comes after its name
    long long records = 0;   // of this input, as far as told
    // Of its parts, in their turns: where the next part begins, and the
    // outcome so far.
    long long next = 0;
    talveron_result outcome = {TALVERON_COMPLETED, 0, 0, 0};
    long long bytes = 0;
    // An input opened by the thread that searches it: what it was judged.
    Searches::Verdict verdict = Searches::Verdict::kSearch;
    std::string diagnostic;
    // What was wrong with its compressed stream (-z), or with a record's
    // HTTP body: said in its turn.
    std::string unpackError;
    // A web archive: its records are the inputs, told one by one; what is
    // left for the archive itself is the count of records that broke the
    // rules, and what went wrong with the file.
    bool archive = false;
    int malformed = 0;
    bool decompressed = false;  // -z found it compressed
};

namespace {

// One part of an input (the whole input, or a range of a regular file).
struct Part {
    std::shared_ptr<InputSearch> input;
    long long start = 0, end = -1;  // end -1: the whole input, as it stands
    Jobs::Reporter* reporter = nullptr;  // null: delivers at once
    talveron_result result = {TALVERON_COMPLETED, 0, 0, 0};
};

// An input's name as the run names it: --label for standard input.
const std::string& NameOf(const Input& input, const Options& options) {
    return input.standardInput && options.haveLabel ? options.label : input.name;
}

bool StopsAtFirstRecord(const Options& options) {
    return options.quiet || options.listing == Listing::kFilesWithMatches ||
           options.listing == Listing::kFilesWithoutMatch;
}

// True when a read of `fd` would not wait.
bool InputReady(int fd) {
    pollfd p = {fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

long long CountLines(const char* bytes, std::size_t length) {
    long long n = 0;
    for (const char *p = bytes, *end = bytes + length; (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));
         ++p)
        ++n;
    return n;
}

// The reports of a search, in the input's turn.

bool TellRecords(InputSearch& search, const char* bytes, std::size_t length) {
    RunState& run = *search.run;
    const Options& options = *run.options;
    if (length == 0) return true;
    if (StopsAtFirstRecord(options)) {
        // One record tells all there is to tell of this input.
        search.records = 1;
        return false;
    }
    if (options.listing == Listing::kCount) {
        long long n = CountLines(bytes, length);
        search.records += n;
        run.counts->records += n;
        return true;
    }
    long long before = run.output->RecordCount();
    bool ok = run.output->Records(bytes, length, search.prefix);
    // Standard input may pause: what was found goes out before a read that
    // would wait.
    if (ok && search.opened.input.standardInput && !InputReady(0)) ok = run.output->Push();
    run.counts->records += run.output->RecordCount() - before;
    search.records = 1;
    return ok;
}

void TellRejected(InputSearch& search, int reason, int keyword, long long offset, const char* address,
                  std::size_t length) {
    RunState& run = *search.run;
    if (reason == TALVERON_EXCLUDED && keyword >= 1 && keyword <= TALVERON_KEYWORD_SLOTS)
        ++run.counts->excluded[keyword - 1];
    if (reason == TALVERON_TOO_LONG) ++run.counts->tooLong;
    if (reason == TALVERON_UNFINISHED) ++run.counts->unfinished;
    run.rejected->Add(search.shownName, reason, keyword, offset, address, length, run.options->keywords);
}

// The sink's functions: a report is told at once in the input's turn, else
// kept until it comes.

bool Direct(const Part& part) { return !part.reporter || part.reporter->Direct(); }
bool Dropped(const Part& part) { return part.reporter && part.reporter->Dropping(); }

int OnRecords(void* context, const char* bytes, std::size_t length) {
    Part& part = *static_cast<Part*>(context);
    InputSearch& search = *part.input;
    if (Direct(part)) return Dropped(part) || !TellRecords(search, bytes, length) ? 1 : 0;
    part.reporter->Keep([input = part.input, kept = std::string(bytes, length)] {
        TellRecords(*input, kept.data(), kept.size());
    }, length);
    if (StopsAtFirstRecord(*search.run->options)) return length > 0 ? 1 : 0;
    return search.run->output->Failed() ? 1 : 0;
}

void OnRejected(void* context, int reason, int keyword, long long offset, const char* address, std::size_t length) {
    Part& part = *static_cast<Part*>(context);
    if (Direct(part)) {
        if (!Dropped(part)) TellRejected(*part.input, reason, keyword, offset, address, length);
        return;
    }
    part.reporter->Keep([input = part.input, reason, keyword, offset, kept = std::string(address, length)] {
        TellRejected(*input, reason, keyword, offset, kept.data(), kept.size());
    }, length + 64);
}

void OnProgress(void* context, long long bytes) {
    Part& part = *static_cast<Part*>(context);
    RunState& run = *part.input->run;
    if (Direct(part) && !Dropped(part)) run.progress->Update(*run.counts, bytes);
}

void OnMessage(void* context, const char* text, const char* caption) {
    Part& part = *static_cast<Part*>(context);
    if (Direct(part)) {
        if (!Dropped(part)) ShowModuleMessage(text, caption);
        return;
    }
    part.reporter->Keep([t = std::string(text), c = std::string(caption)] { ShowModuleMessage(t.c_str(), c.c_str()); },
                        std::strlen(text) + std::strlen(caption));
}

talveron_sink SinkFor(const RunState& run, Part* part) {
    talveron_sink sink = {};
    sink.context = part;
    sink.records = OnRecords;
    sink.lf_line_ends = !run.options->crlf;
    sink.https = run.options->https;
    if (run.rejected->IsOpen() || run.options->stats) sink.rejected = OnRejected;
    sink.progress = OnProgress;
    if (run.options->messages) sink.message = OnMessage;
    return sink;
}

// The bytes of an input as its search reads them: the descriptor as it
// stands, or a stream (through a decompressor with -z) that gives back the
// first bytes read to tell what the input is.
struct InputStream {
    explicit InputStream(int fd) : descriptor(fd) {}
    DescriptorSource descriptor;
    std::unique_ptr<HeadThenSource> packed;  // what the decompressor reads
    Unpacker unpacker;
    bool unpacking = false;
    std::unique_ptr<HeadThenSource> stream;  // null: the descriptor itself
    std::string head;                        // the first bytes of the stream
};

// Up to `want` first bytes of `source`: fewer only at its end, or when those
// read already tell that the input is no web archive (a terminal gives a
// line at a time).
std::string ReadHead(ByteSource& source, std::size_t want, bool packing) {
    std::string head(want, '\0');
    std::size_t got = 0;
    while (got < want) {
        long n = source.Read(reinterpret_cast<unsigned char*>(&head[got]), want - got);
        if (n <= 0) break;  // the end, or an error that the search meets again
        got += static_cast<std::size_t>(n);
        if (!packing && std::memcmp(head.data(), "WARC/1.", std::min<std::size_t>(got, 7)) != 0) break;
    }
    head.resize(got);
    return head;
}

// Opens the input's stream. With -z, an input that its first bytes tell is
// compressed (and one that is not a regular file, whose first bytes cannot
// be put back) goes through an Unpacker. False, with the input's
// unpackError, when no decompressor could be started.
bool OpenStream(InputSearch& search, InputStream& in) {
    const Options& options = *search.run->options;
    int fd = search.opened.fd;
    bool regular = S_ISREG(search.opened.st.st_mode);
    if (options.searchZip) {
        std::string head = ReadHead(in.descriptor, kPackingHead, true);
        Packing packing = PackingOf(reinterpret_cast<const unsigned char*>(head.data()), head.size());
        if (packing != Packing::kNone || !regular ||
            ::lseek(fd, -static_cast<off_t>(head.size()), SEEK_CUR) == static_cast<off_t>(-1)) {
            in.packed.reset(new HeadThenSource(head, in.descriptor));
            // A large gzip file (a crawl's archive of many members) is
            // decompressed on several threads.
            bool segmented = packing == Packing::kGzip && regular && !search.opened.input.standardInput &&
                             search.opened.st.st_size >= 2 * Unpacker::kSegmentSize;
            if (!(segmented ? in.unpacker.StartFile(fd, search.opened.st.st_size)
                            : in.unpacker.Start(*in.packed, packing))) {
                search.unpackError = std::string("cannot be decompressed: ") + std::strerror(errno);
                return false;
            }
            in.unpacking = true;
            search.decompressed = packing != Packing::kNone;
            in.head = ReadHead(in.unpacker, WarcReader::kHead, false);
            in.stream.reset(new HeadThenSource(in.head, in.unpacker));
            return true;
        }
    }
    if (regular) {
        // A regular file's first bytes are read where they lie.
        off_t at = search.opened.input.standardInput ? ::lseek(fd, 0, SEEK_CUR) : 0;
        in.head.resize(WarcReader::kHead);
        ssize_t n = at < 0 ? -1 : ::pread(fd, &in.head[0], in.head.size(), at);
        in.head.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return true;
    }
    in.head = ReadHead(in.descriptor, WarcReader::kHead, false);
    in.stream.reset(new HeadThenSource(in.head, in.descriptor));
    return true;
}

void SearchArchive(Part& part, ByteSource& in);

void SearchPart(Part& part) {
    RunState& run = *part.input->run;
    talveron_sink sink = SinkFor(run, &part);
    const char* keywords = run.options->keywordLine.c_str();
    int fd = part.input->opened.fd;
    if (part.end >= 0) {
        talveron_harvest_range(fd, part.start, part.end, keywords, &sink, &part.result);
        return;
    }
    InputStream in(fd);
    if (!OpenStream(*part.input, in)) return;
    if (WarcReader::Begins(reinterpret_cast<const unsigned char*>(in.head.data()), in.head.size())) {
        SearchArchive(part, in.stream ? static_cast<ByteSource&>(*in.stream) : in.descriptor);
    } else if (in.stream) {
        talveron_harvest_read(ReadSource, in.stream.get(), keywords, &sink, &part.result);
    } else {
        talveron_harvest(fd, keywords, &sink, &part.result);
    }
    std::string error;
    if (in.unpacking && !in.unpacker.Finish(error) && part.result.status != TALVERON_STOPPED)
        part.input->unpackError = error;
}

// The input's end, in its turn: its descriptor handed back, its count or
// name told, its failure said.
void FinishInput(InputSearch& search) {
    RunState& run = *search.run;
    const Options& options = *run.options;
    RunCounts& counts = *run.counts;
    run.opener->Done(search.opened);
    run.rejected->Flush();
    counts.bytes += search.bytes;
    const talveron_result& outcome = search.outcome;
    if (search.archive && search.unpackError.empty() && outcome.status != TALVERON_READ_FAILED) {
        // Its records have been told; a record that broke the rules was
        // said in its turn.
        if (search.malformed > 0) {
            ++counts.failed;
            run.trouble = true;
        }
        return;
    }
    // A search stopped by its records function has told what it had to.
    if (!search.unpackError.empty()) {
        // A compressed stream that is corrupt or cut: the records before it
        // stand.
        ++counts.failed;
        run.trouble = true;
        Say(search.sayAs + ": " + search.unpackError);
    } else if (outcome.status == TALVERON_COMPLETED ||
               (outcome.status == TALVERON_STOPPED && !run.output->Failed())) {
        ++counts.searched;
    } else {
        ++counts.failed;
        run.trouble = true;
        if (outcome.status == TALVERON_READ_FAILED)
            DiagnoseInput(search.name, outcome.read_errno);
        else if (outcome.status == TALVERON_OUT_OF_MEMORY)
            Say(search.shownName + ": not searched: out of memory");
    }
    if (search.records > 0) run.found = true;
    if (search.archive) return;
    std::string line;
    if (options.listing == Listing::kCount)
        line = (search.named ? search.prefix : "") + std::to_string(search.records) + "\n";
    if ((options.listing == Listing::kFilesWithMatches && search.records > 0) ||
        (options.listing == Listing::kFilesWithoutMatch && search.records == 0 &&
         outcome.status == TALVERON_COMPLETED))
        line = search.listed + (options.nullAfterName ? '\0' : '\n');
    if (!line.empty() && !options.quiet) run.output->Lines(line.data(), line.size());
    run.progress->Update(counts, 0);
}

// A name as a field of --tsv: a tab, a newline and the backslash escaped.
std::string TsvName(const std::string& name);

// Names an input: as diagnostics show it, as -l, -L and -c list it, and in
// front of its records.
void Name(InputSearch& search, const std::string& name, bool withName) {
    const Options& options = *search.run->options;
    search.name = name;
    search.shownName = search.sayAs = ShownName(name);
    // With -Z a name is followed by a 0 byte and shown as it is.
    search.listed = options.nullAfterName ? name : search.shownName;
    search.named = withName || options.tsv;
    if (options.tsv)
        search.prefix = TsvName(name) + '\t';
    else if (withName)
        search.prefix = search.listed + (options.nullAfterName ? '\0' : ':');
}

// Tells `what` in the part's turn: at once, or kept until it comes.
void Tell(const Part& part, std::function<void()> what, std::size_t size) {
    if (!Direct(part))
        part.reporter->Keep(std::move(what), size);
    else if (!Dropped(part))
        what();
}

// A web archive: each response or resource record searched as an input of
// its own, named by its target, and told in its turn; a record that breaks
// the rules is said with where it begins, and the search goes on behind it.
void SearchArchive(Part& part, ByteSource& in) {
    constexpr int kMalformedSaid = 10;
    InputSearch& archive = *part.input;
    RunState& run = *archive.run;
    const Options& options = *run.options;
    archive.archive = true;
    WarcReader reader(in);
    // An archive holds many inputs: their names are shown unless -h.
    bool withName = options.withFilename != 0;
    while (!run.output->Failed() && !(options.quiet && run.found)) {
        WarcRecord record;
        std::string problem;
        WarcReader::Next next = reader.NextRecord(record, problem);
        if (next == WarcReader::Next::kEnd) break;
        if (next == WarcReader::Next::kFailed) {
            part.result = {TALVERON_READ_FAILED, reader.Errno(), 0, 0};
            break;
        }
        if (next == WarcReader::Next::kMalformed) {
            // The first few are said; damage in a stream compressed whole
            // turns all behind it into noise, and that is said once.
            if (++archive.malformed > kMalformedSaid) continue;
            std::string said = archive.shownName + ": malformed WARC record at byte " + std::to_string(record.offset) +
                               (archive.decompressed ? " of the decompressed archive: " : ": ") + problem;
            Tell(part, [said] { Say(said); }, said.size());
            continue;
        }
        bool response = record.type == "response";
        if (!response && record.type != "resource") continue;
        Part one;
        one.input = std::make_shared<InputSearch>();
        one.input->run = &run;
        Name(*one.input, record.target, withName);
        one.input->sayAs = archive.shownName + ": " + one.input->shownName;
        one.reporter = part.reporter;
        HttpBody body(reader);
        if (!body.Begin(response, problem)) {
            // Not searched, as an input that cannot be read.
            std::string said = one.input->sayAs + ": " + problem;
            Tell(part, [said, &run] {
                Say(said);
                ++run.attempted;
                ++run.counts->failed;
                run.trouble = true;
            }, said.size());
            continue;
        }
        talveron_sink sink = SinkFor(run, &one);
        talveron_harvest_read(ReadSource, &body, options.keywordLine.c_str(), &sink, &one.result);
        if (one.result.status == TALVERON_READ_FAILED) {
            // A broken body is the record's trouble; a failed read of the
            // archive is the archive's, said once.
            one.input->unpackError = body.Problem();
            if (body.Problem().empty()) one.result.status = TALVERON_COMPLETED;
        }
        one.input->outcome = one.result;
        one.input->bytes = one.result.bytes;
        Tell(part, [search = one.input] {
            ++search->run->attempted;
            FinishInput(*search);
        }, 64);
    }
    if (archive.malformed > kMalformedSaid) {
        std::string said = archive.shownName + ": " + std::to_string(archive.malformed - kMalformedSaid) +
                           " more malformed WARC records";
        Tell(part, [said] { Say(said); }, said.size());
    }
}
std::string TsvName(const std::string& name) {
    std::string field;
    for (char c : name) {
        if (c == '\t')
            field += "\\t";
        else if (c == '\n')
            field += "\\n";
        else if (c == '\\')
            field += "\\\\";
        else
            field += c;
    }
    return field;
}

// Whether a regular file's first bytes tell that it is a web archive, or
// with -z compressed: it is then searched whole, one record after the
// other, or through its decompressor.
bool SearchedWhole(int fd, const Options& options) {
    unsigned char head[WarcReader::kHead];
    ssize_t n = ::pread(fd, head, sizeof head, 0);
    if (n <= 0) return false;
    std::size_t length = static_cast<std::size_t>(n);
    return WarcReader::Begins(head, length) || (options.searchZip && PackingOf(head, length) != Packing::kNone);
}

// Where the parts of a regular file of `size` bytes begin: about equal
// parts, each cut where a search of the whole file begins a skip (none
// where there is no such place near).
std::vector<long long> Cuts(int fd, long long size, int parts) {
    std::vector<long long> cuts = {0};
    constexpr long long kWindow = 1 << 20;
    for (int k = 1; k < parts; ++k) {
        long long cut = talveron_cut(fd, size / parts * k, kWindow);
        if (cut > cuts.back() && cut < size) cuts.push_back(cut);
    }
    cuts.push_back(size);
    return cuts;
}

}  // namespace

void Searches::Run(const std::function<bool(InputOpener::Opened&)>& next) {
    bool ended = false;
    auto more = [&] {
        InputOpener::Opened opened;
        if (ended || !next(opened)) return !(ended = true);
        Add(std::move(opened));
        return true;
    };
    jobs_.Run([&](Jobs::Steps& steps) {
        while (pending_.empty())
            if (!more()) return false;
        Pending first = std::move(pending_.front());
        pending_.pop_front();
        if (!first.batched) {
            steps = std::move(first.steps);
            return true;
        }
        // Small files of a walk go to a thread a few at a time: the threads
        // then take turns less often than they open files.
        auto batch = std::make_shared<std::vector<Jobs::Steps>>();
        batch->push_back(std::move(first.steps));
        while (batch->size() < kBatch) {
            if (pending_.empty()) {
                if (more()) continue;  // an input passed over adds nothing
                break;
            }
            if (!pending_.front().batched) break;
            batch->push_back(std::move(pending_.front().steps));
            pending_.pop_front();
        }
        // Each input's end is told right behind its own reports, as one
        // input after the other tells it.
        steps.work = [batch](Jobs::Reporter& reporter) {
            for (Jobs::Steps& one : *batch) {
                one.work(reporter);
                if (!reporter.Direct())
                    reporter.Keep(one.finish, 64);
                else if (!reporter.Dropping())
                    one.finish();
            }
        };
        return true;
    });
}

Searches::Verdict Searches::Judge(const InputOpener::Opened& opened, std::string& diagnostic) const {
    const Input& input = opened.input;
    // Not a page any more, or the run's own temporary file met by a walk:
    // not an input at all.
    if (opened.skipped || (opened.error == 0 && input.refusal.empty() && run_.where->IsTemporary(opened.st)))
        return Verdict::kPassOver;
    if (!input.refusal.empty()) {
        diagnostic = input.refusal;
        return Verdict::kFail;
    }
    if (opened.error != 0) return Verdict::kFail;  // its error is told
    if (run_.where->Is(opened.st)) {
        const Options& options = *run_.options;
        diagnostic = ShownName(NameOf(input, options)) +
                     ": input file is also the output";
        return Verdict::kIsOutput;
    }
    return Verdict::kSearch;
}

// An input that is not searched, in its turn.
void Searches::Failed(const InputOpener::Opened& opened, Verdict verdict, const std::string& diagnostic) {
    if (verdict == Verdict::kPassOver) return;
    ++run_.attempted;
    const Options& options = *run_.options;
    const Input& input = opened.input;
    if (!diagnostic.empty())
        Say(diagnostic);
    else if (opened.error > 0)
        DiagnoseInput(NameOf(input, options), opened.error);
    if (verdict == Verdict::kIsOutput) run_.inputIsOutput = true;
    ++run_.counts->failed;
    run_.trouble = true;
}

std::shared_ptr<InputSearch> Searches::Begin(InputOpener::Opened opened) {
    auto search = std::make_shared<InputSearch>();
    search->run = &run_;
    search->opened = std::move(opened);
    Name(*search, NameOf(search->opened.input, *run_.options), run_.withName);
    return search;
}

void Searches::Add(InputOpener::Opened opened) {
    const Options& options = *run_.options;
    if (InputOpener::Unopened(opened)) {
        // A file of a walk, opened by the thread that searches it, so that
        // the threads open at once: it is judged there too, and searched
        // whole.
        auto part = std::make_shared<Part>();
        part->input = Begin(std::move(opened));
        pending_.push_back({true, {[this, part](Jobs::Reporter& reporter) {
                                InputSearch& search = *part->input;
                                run_.opener->OpenNow(search.opened);
                                search.verdict = Judge(search.opened, search.diagnostic);
                                if (search.verdict == Verdict::kSearch) {
                                    part->reporter = &reporter;
                                    SearchPart(*part);
                                }
                                run_.opener->Done(search.opened);
                            },
                            nullptr,
                            [this, part] {
                                InputSearch& search = *part->input;
                                if (search.verdict != Verdict::kSearch)
                                    return Failed(search.opened, search.verdict, search.diagnostic);
                                ++run_.attempted;
                                search.outcome = part->result;
                                search.bytes = part->result.bytes;
                                FinishInput(search);
                            }}});
        return;
    }
    std::string diagnostic;
    Verdict verdict = Judge(opened, diagnostic);
    if (verdict != Verdict::kSearch) {
        auto failed = std::make_shared<InputOpener::Opened>(std::move(opened));
        if (verdict == Verdict::kPassOver) {
            run_.opener->Done(*failed);
            return;
        }
        pending_.push_back({false, {nullptr, nullptr, [this, failed, verdict, diagnostic] {
                                Failed(*failed, verdict, diagnostic);
                                run_.opener->Done(*failed);
                            }}});
        return;
    }
    auto search = Begin(std::move(opened));
    const Input& input = search->opened.input;

    // A large regular file is searched in parts at once, when its records
    // come out whole: not when one record tells all, and not when the
    // dropped addresses go through the records' stream (their places among
    // the records follow the reads of one search).
    const struct stat& st = search->opened.st;
    int parts = 1;
    if (jobs_.Threads() > 1 && !input.standardInput && S_ISREG(st.st_mode) && !StopsAtFirstRecord(options) &&
        !run_.rejectedThrough && st.st_size >= 2 * kPartMin && !SearchedWhole(search->opened.fd, options))
        parts = static_cast<int>(std::min<long long>(jobs_.Threads(), st.st_size / kPartMin));
    if (parts == 1) {
        auto part = std::make_shared<Part>();
        part->input = search;
        pending_.push_back({false, {[part](Jobs::Reporter& reporter) {
                       part->reporter = &reporter;
                       SearchPart(*part);
                       // Closed now: a search done may wait long for its turn.
                       part->input->run->opener->Done(part->input->opened);
                   },
                   nullptr,
                   [this, part] {
                       InputSearch& search = *part->input;
                       ++run_.attempted;
                       search.outcome = part->result;
                       search.bytes = part->result.bytes;
                       FinishInput(search);
                   }}});
        return;
    }

    std::vector<long long> cuts = Cuts(search->opened.fd, st.st_size, parts);
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
        auto part = std::make_shared<Part>();
        part->input = search;
        part->start = cuts[k];
        part->end = cuts[k + 1];
        bool last = k + 2 == cuts.size();
        pending_.push_back({false, {[part](Jobs::Reporter& reporter) {
                       part->reporter = &reporter;
                       SearchPart(*part);
                   },
                   // Its turn: its reports count when the part before ended
                   // where it began, and no part before failed.
                   [part] {
                       const InputSearch& search = *part->input;
                       return search.outcome.status == TALVERON_COMPLETED && search.next == part->start;
                   },
                   [this, part, last, first = k == 0] {
                       InputSearch& search = *part->input;
                       if (first) ++run_.attempted;
                       if (search.outcome.status == TALVERON_COMPLETED) {
                           if (search.next != part->start) {
                               // The part before ran on past this one's
                               // start: this part is searched again from
                               // there, its reports told at once.
                               part->reporter = nullptr;
                               part->start = search.next;
                               SearchPart(*part);
                           }
                           search.outcome.status = part->result.status;
                           search.outcome.read_errno = part->result.read_errno;
                           search.next = part->result.next;
                           search.bytes += std::min(part->result.bytes, part->end - part->start);
                       }
                       if (last) FinishInput(search);
                   }}});
    }
}
