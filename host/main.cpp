// talveron: prints the web addresses of the anchors of HTML pages, the way
// the module finds them, one per line; grep is its model on the command
// line. See --help and talveron(1).
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "descriptors.h"
#include "inputs.h"
#include "messages.h"
#include "options.h"
#include "out_txt.h"
#include "output.h"
#include "progress.h"
#include "rejected.h"
#include "printers.h"
#include "searches.h"
#include "signals.h"
#include "trouble.h"
#include "talveron.h"

namespace {

// The file of --files0-from, or null; false, with a diagnostic shown, when it
// cannot be opened.
bool OpenNames(const Options& options, std::FILE** names) {
    *names = nullptr;
    if (options.files0From.empty()) return true;
    *names = options.files0From == "-" ? stdin : std::fopen(options.files0From.c_str(), "rb");
    if (!*names) Diagnose(ShownName(options.files0From), errno);
    return *names != nullptr;
}

WalkFilter FilterOf(const Options& options) {
    WalkFilter filter;
    filter.includes = options.includes;
    filter.excludes = options.excludes;
    filter.excludeDirs = options.excludeDirs;
    filter.allFiles = options.allFiles;
    filter.followLinks = options.followLinks;
    filter.compressedToo = options.searchZip;
    return filter;
}

// After a run whose walks found nothing to search: which filter left the
// files out (by the options given), and how to take them.
std::string NothingSearched(const WalkTally& tally, const Options& options) {
    std::string why;
    auto add = [&](long long n, const std::string& what) {
        if (n) why += (why.empty() ? "" : "; ") + std::to_string(n) + " " + what;
    };
    std::string set = !options.includes.empty()
                          ? "not matched by --include or -g"
                          : std::string("not named *.htm, *.html, *.xhtml, *.xht, *.shtml or *.warc") +
                                (options.searchZip ? " (or those with .gz, .zst, .bz2 or .xz after them)" : "");
    // Compressed pages and archives, which -z would take, apart.
    add(tally.notInSet - tally.compressed, "file(s) " + set + " (--include=GLOB or --all-files takes them)");
    add(tally.compressed, "compressed page(s) or archive(s) (-z takes them)");
    add(tally.excluded, "file(s) matched by --exclude");
    add(tally.excludedDirs, "directory(ies) matched by --exclude-dir");
    add(tally.links, "link(s) not followed (-R follows them)");
    add(tally.others, "device(s), pipe(s) or socket(s)");
    return "no files were searched: the walk left out " + why;
}

// What a new user may not know, said once at the end (not with -q or -s,
// and --stats=json counts it instead, for a program).
void SayHints(const Options& options, const RunState& run) {
    if (options.quiet || options.noMessages || options.statsJson) return;
    const RunCounts& counts = *run.counts;
    // Today's pages link by https. Without --stats a page's are counted up
    // to its first record only (input_search.cpp): a run that found some
    // then knows a least count.
    if (counts.httpsPassedOver > 0)
        Say((run.found ? std::string(options.stats ? "" : "at least ") : "nothing found, but ") +
            std::to_string(counts.httpsPassedOver) + " <a href=\"https:// anchors were passed over: --https" +
            (run.found ? " (or --html)" : "") + " takes them");
    // A file's page, without --base, is named by its file: URL, and so are
    // its relative links.
    if (options.html && !options.haveBase && counts.fileLinks > 0)
        Say(std::to_string(counts.fileLinks) +
            " link(s) resolved to file: addresses were passed over: --base=URL gives the pages' web address");
}

// --list-inputs: the names, each ended by a 0 byte, as they are named to a
// search ("-" for standard input). A directory that cannot be read is listed
// itself, where the walk met it, so that a search of the list (with
// --files0-from) fails on it in the same place.
int ListInputs(const Options& options) {
    std::FILE* names;
    if (!OpenNames(options, &names)) return 2;
    auto list = [](const std::string& name) { std::fwrite(name.c_str(), 1, name.size() + 1, stdout); };
    InputWalker walker(options.inputs, FilterOf(options), [&](const std::string& path, int) { list(path); }, names,
                       options.files0From == "-");
    if (options.currentDirectoryImplied) walker.NameCurrentDirectoryBare();
    walker.TakeWholeDirectoriesOnly();
    Input input;
    bool listed = false;
    while (walker.Next(input)) {
        list(input.path);
        listed = true;
    }
    int status = listed ? 0 : 1;
    if (walker.NamesError()) {
        Diagnose(ShownName(options.files0From), walker.NamesError());
        status = 2;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Diagnose("write error", errno);
        status = 2;
    }
    return status;
}

// Where the records and the rejected addresses go, checked before anything
// is opened: two names of one file would lose one stream to the other.
// Returns false, with `error` set, for a usage error; `rejectedThrough` when
// the rejected lines are to go through the records' own stream.
bool CheckDestinations(const Options& options, bool& rejectedThrough, std::string& error) {
    rejectedThrough = false;
    FileIdentity out = options.output.empty() ? FileIdentity::OfDescriptor(1) : FileIdentity::OfPath(options.output);
    // Messages written into the --output file would be lost when it is
    // replaced.
    if (out.descriptor == -1 && out.regular && FileIdentity::OfDescriptor(2).SameAs(out)) {
        error = "standard error and --output=" + ShownName(options.output) + " are the same file";
        return false;
    }
    if (options.rejected.empty()) return true;
    FileIdentity rejected = FileIdentity::OfPath(options.rejected);
    if (!rejected.SameAs(out)) return true;
    if (out.descriptor != -1 && (rejected.descriptor != -1 || !rejected.regular)) {
        rejectedThrough = !options.quiet;  // with -q nothing else is written there
        return true;
    }
    if (rejected.exists && !rejected.regular) return true;  // both to one device (/dev/null, say)
    error = "--rejected=" + ShownName(options.rejected) + " and " +
            (options.output.empty() ? std::string("standard output") : "--output=" + ShownName(options.output)) +
            " are the same file";
    return false;
}

// Opens the files the records and the rejected addresses go to; false,
// with a diagnostic shown, when one cannot be.
bool OpenFiles(const Options& options, bool counting, bool rejectedThrough, Destination& where, Output& output,
               RejectedFile& rejected) {
    bool printing = !options.quiet;
    if (printing && !output.Open(options.output, counting, where)) return false;
    // With 2>&1, the records written before a diagnostic go out before it.
    if (printing && options.output.empty() && FileIdentity::OfDescriptor(1).SameAs(FileIdentity::OfDescriptor(2)))
        SetBeforeSaying([](void* out) { static_cast<Output*>(out)->Sync(); }, &output);
    if (rejectedThrough) {
        rejected.OpenThrough(options.rejected, &output);
        return true;
    }
    return options.rejected.empty() || rejected.Open(options.rejected, where);
}

// Searches every input of the walk on the run's threads; then says what
// went wrong with the walk itself.
void SearchInputs(const Options& options, InputWalker& walker, bool fromNames, RunState& run) {
    int threads = options.threads > 0 ? options.threads : static_cast<int>(std::thread::hardware_concurrency());
    // -q stops at the first record: no input behind it may be opened or
    // searched, so the inputs go one after the other.
    if (options.quiet) threads = 1;
    // With one thread, a thread of its own opens ahead when there is more
    // than one input; with more, each opens the files of a walk it searches.
    bool many = fromNames || options.inputs.size() > 1 || walker.WalksDirectories();
    InputOpener opener(walker, many && threads == 1, options.followLinks, threads > 1);
    run.opener = &opener;
    run.withName = options.withFilename == 1 || (options.withFilename == -1 && many);
    Searches searches(run, threads);
    // The next input, for the thread that is free to search it.
    searches.Run([&](InputOpener::Opened& opened) {
        return !run.output->Failed() && !(options.quiet && run.found) && opener.Next(opened);
    });
    run.progress->End();
    if (walker.NamesError()) run.trouble->RunFailed(ShownName(options.files0From), walker.NamesError());
    const WalkTally& tally = walker.Tally();
    if (run.attempted == 0 && walker.WalksDirectories() && !run.output->Failed() &&
        (tally.notInSet || tally.excluded || tally.excludedDirs || tally.links || tally.others))
        // Not a failure: grep and ripgrep exit 1 when nothing matches.
        if (!run.options->noMessages) Say(NothingSearched(tally, *run.options));
}

// The run has ended: its files replace what they name, unless a write
// failed, or --all-or-nothing and an input was not searched, or an input
// was one of them (replacing it would destroy that input), or no input was
// searched at all and the run failed (an empty file would say that nothing
// was found).
void CloseFiles(const Options& options, const RunState& run, Output& output, RejectedFile& rejected) {
    bool noneSearched = run.counts->searched == 0 && run.trouble->Seen();
    bool keep = (options.allOrNothing && run.counts->failed > 0) || run.inputIsOutput || noneSearched;
    // An input that is a file of the run: that file, or the other, named.
    auto isInput = [&](const FileIdentity& file) {
        for (const FileIdentity& input : run.inputsWritten)
            if (input.SameAs(file)) return true;
        return false;
    };
    FileIdentity out = options.output.empty() ? FileIdentity::OfDescriptor(1) : FileIdentity::OfPath(options.output);
    bool outputIsInput = isInput(out);
    bool rejectedIsInput = !options.rejected.empty() && isInput(FileIdentity::OfPath(options.rejected));
    auto why = [&](bool itself, const std::string& other) {
        return run.inputIsOutput ? (itself ? std::string("it is also an input") : other + " is also an input")
               : noneSearched    ? std::string("no input was searched")
                                 : std::string("not every input was searched");
    };
    bool written = output.Finish(!keep);
    if (keep && written && !output.Direct())
        Say(ShownName(options.output) + ": left unchanged: " + why(outputIsInput, "--rejected=" + ShownName(options.rejected)));
    bool rejectedWritten = rejected.Close(!keep);
    if (keep && rejectedWritten && !rejected.Direct())
        Say(ShownName(options.rejected) + ": left unchanged: " +
            why(rejectedIsInput, options.output.empty() ? "standard output" : "--output=" + ShownName(options.output)));
    if (!written || !rejectedWritten) run.trouble->RunFailedAsSaid();
}

int Harvest(const Options& options) {
    bool rejectedThrough;
    std::string error;
    if (!CheckDestinations(options, rejectedThrough, error)) {
        SayUsageError(error);
        return 2;
    }
    std::FILE* names;
    if (!OpenNames(options, &names)) return 2;
    bool showProgress = !options.noProgress && ProgressWanted();
    Destination where;
    Output output;
    RejectedFile rejected;
    struct SayingEnds {
        ~SayingEnds() { SetBeforeSaying(nullptr, nullptr); }
    } sayingEnds;
    if (!OpenFiles(options, showProgress || options.stats, rejectedThrough, where, output, rejected)) return 2;

    WalkFilter filter = FilterOf(options);
    RunCounts counts;
    counts.links = options.html;
    counts.statusFilter = !options.statuses.empty();
    Trouble trouble(counts);
    std::unique_ptr<Printer> printer = MakePrinter(options, output, counts);
    RejectedPrinter rejectedPrinter(options, rejected, counts);
    Progress progress(showProgress, showProgress && !names ? CountInputs(options.inputs, filter) : -1);
    // The opener takes the walk's reports.
    InputWalker walker(options.inputs, filter, nullptr, names, options.files0From == "-");
    if (options.currentDirectoryImplied) walker.NameCurrentDirectoryBare();
    RunState run;
    run.options = &options;
    run.output = &output;
    run.printer = printer.get();
    run.rejected = &rejectedPrinter;
    run.counts = &counts;
    run.trouble = &trouble;
    run.progress = &progress;
    run.where = &where;
    run.rejectedThrough = rejectedThrough;
    try {
        SearchInputs(options, walker, names != nullptr, run);
    } catch (const std::bad_alloc&) {
        trouble.RunExhausted("memory exhausted");
    } catch (const std::system_error& error) {
        trouble.RunExhausted(error.what());
    }
    CloseFiles(options, run, output, rejected);
    SayHints(options, run);
    if (options.statsJson)
        PrintSummaryJson(counts, options.keywords, progress.Elapsed());
    else if (options.stats)
        PrintSummary(counts, options.keywords, progress.Elapsed());
    if (options.quiet && run.found) return 0;
    return trouble.Seen() ? 2 : run.found ? 0 : 1;
}

}  // namespace

static int Main(int argc, char** argv) {
    // Before anything is opened: a closed standard descriptor is held by
    // /dev/null, so that no file of the run takes its number.
    StandardDescriptors standard = HoldStandardDescriptors();
    InstallSignalHandlers();
    Options options;
    std::string error;
    Command command = ParseOptions(argc, argv, options, error, standard.open[0] && ::isatty(0));
    if (command == Command::kUsageError) {
        SayUsageError(error);
        return 2;
    }
    if (!CheckNeededDescriptors(standard, options, command)) return 2;
    switch (command) {
        case Command::kHelp:
        case Command::kVersion: {
            std::string text = command == Command::kHelp ? HelpText() : "talveron " + std::string(talveron_version()) + "\n";
            std::fwrite(text.data(), 1, text.size(), stdout);
            if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
            Diagnose("write error", errno);
            return 2;
        }
        default:
            break;
    }
    HideInputDiagnostics(options.noMessages);
    if (options.decoderMemory) talveron_set_decoder_memory(options.decoderMemory);
    if (options.addressMax) talveron_set_address_max(options.addressMax);
    if (options.outTxt) return RunOutTxt(options);
    return options.listInputs ? ListInputs(options) : Harvest(options);
}

int main(int argc, char** argv) {
    // What could not be had outside the searches (they say their own) ends
    // the run; nothing is left to write by then.
    try {
        return Main(argc, argv);
    } catch (const std::bad_alloc&) {
        SayWithoutMemory("memory exhausted");
    } catch (const std::exception& error) {
        SayWithoutMemory(error.what());  // a thread that could not be started
    }
    return 2;
}
