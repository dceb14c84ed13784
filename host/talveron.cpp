// talveron: prints the web addresses of the anchors of HTML pages, the way
// the module finds them, one per line; grep is its model on the command
// line. See --help and talveron(1).
//
// The search of each input is the module's (talveron_harvest); this program
// chooses the inputs (inputs.cpp), parses the command line (options.cpp),
// writes the records (output.cpp) and the dropped addresses (rejected.cpp),
// shows progress and the summary (progress.cpp), and keeps the legacy
// OUT.TXT behaviour (out_txt.cpp).
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "host/inputs.h"
#include "host/messages.h"
#include "host/options.h"
#include "host/out_txt.h"
#include "host/output.h"
#include "host/progress.h"
#include "host/rejected.h"
#include "module/talveron.h"

namespace {

// One input's search: where its results go.
struct Search {
    const Options* options;
    Output* output;
    RejectedFile* rejected;
    RunCounts* counts;
    Progress* progress;
    const Input* input;
    std::string prefix;  // "NAME:" with -H
};

// True when a read of `fd` would not wait.
bool InputReady(int fd) {
    pollfd p = {fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

int OnRecords(void* context, const char* bytes, std::size_t length) {
    Search& search = *static_cast<Search*>(context);
    long long before = search.output->RecordCount();
    bool ok = search.output->Records(bytes, length, search.prefix);
    // Standard input may pause: what was found goes out before a read that
    // would wait.
    if (ok && search.input->standardInput && !InputReady(0)) ok = search.output->Push();
    search.counts->records += search.output->RecordCount() - before;
    return ok ? 0 : 1;
}

void OnRejected(void* context, int reason, int keyword, long long offset, const char* address, std::size_t length) {
    Search& search = *static_cast<Search*>(context);
    if (reason == TALVERON_EXCLUDED && keyword >= 1 && keyword <= 6) ++search.counts->excluded[keyword - 1];
    if (reason == TALVERON_TOO_LONG) ++search.counts->tooLong;
    if (reason == TALVERON_UNFINISHED) ++search.counts->unfinished;
    search.rejected->Add(search.input->name, reason, keyword, offset, address, length, search.options->keywords);
}

void OnProgress(void* context, long long bytes) {
    Search& search = *static_cast<Search*>(context);
    search.progress->Update(*search.counts, bytes);
}

void OnMessage(void*, const char* text, const char* caption) { ShowModuleMessage(text, caption); }

// The file of --files0-from, or null; false, with a diagnostic shown, when it
// cannot be opened.
bool OpenNames(const Options& options, std::FILE** names) {
    *names = nullptr;
    if (options.files0From.empty()) return true;
    *names = options.files0From == "-" ? stdin : std::fopen(options.files0From.c_str(), "rb");
    if (!*names) Diagnose(options.files0From, errno);
    return *names != nullptr;
}

// --list-inputs: the names, each ended by a 0 byte, as they are named to a
// search ("-" for standard input). A directory that cannot be read is listed
// itself, where the walk met it, so that a search of the list (with
// --files0-from) fails on it in the same place.
int ListInputs(const Options& options) {
    std::FILE* names;
    if (!OpenNames(options, &names)) return 1;
    auto list = [](const std::string& name) { std::fwrite(name.c_str(), 1, name.size() + 1, stdout); };
    InputWalker walker(options.inputs, options.allFiles, [&](const std::string& path, int) { list(path); }, names);
    Input input;
    while (walker.Next(input)) list(input.path);
    bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (!written) Diagnose("write error", errno);
    return written ? 0 : 1;
}

int Harvest(const Options& options) {
    std::FILE* names;
    if (!OpenNames(options, &names)) return 1;
    bool showProgress = !options.quiet && ::isatty(2);
    Output output;
    if (!output.Open(options.output, showProgress || options.stats)) return 1;
    RejectedFile rejected;
    if (!options.rejected.empty() && !rejected.Open(options.rejected)) return 1;

    RunCounts counts;
    Progress progress(showProgress,
                      showProgress && !names ? CountInputs(options.inputs, options.allFiles) : -1);
    InputWalker walker(options.inputs, options.allFiles, nullptr, names);  // the opener takes its reports
    bool withName = options.withFilename == 1 ||
                    (options.withFilename == -1 &&
                     (options.inputs.size() > 1 || names || walker.WalksDirectories()));

    talveron_sink sink = {};
    sink.records = OnRecords;
    sink.lf_line_ends = !options.crlf;
    if (rejected.IsOpen() || options.stats) sink.rejected = OnRejected;
    if (showProgress) sink.progress = OnProgress;
    if (options.messages) sink.message = OnMessage;

    // Opening ahead pays when there is more than one input.
    InputOpener opener(walker, names || options.inputs.size() > 1 || walker.WalksDirectories());
    InputOpener::Opened opened;
    while (!output.Failed() && opener.Next(opened)) {
        const Input& input = opened.input;
        int fd = opened.fd;
        int error = opened.error;
        // (A directory opens, and its first read fails with EISDIR.)
        struct stat st;
        bool mayBeDestination = output.Where().MayBe(input.inode) || rejected.Where().MayBe(input.inode);
        if (error == 0 && mayBeDestination && ::fstat(fd, &st) == 0 &&
            (output.Where().Is(st) || rejected.Where().Is(st))) {
            Say(input.name + ": input file is also the output");
            error = -1;
        }
        if (error != 0) {
            if (error > 0) Diagnose(input.name, error);
            ++counts.failed;
            opener.Done(opened);
            continue;
        }
        Search search = {&options, &output, &rejected, &counts, &progress, &input, withName ? input.name + ":" : ""};
        sink.context = &search;
        talveron_result result;
        int status = talveron_harvest(fd, options.keywordLine.c_str(), &sink, &result);
        opener.Done(opened);
        counts.bytes += result.bytes;
        if (status == 0) {
            ++counts.searched;
        } else {
            ++counts.failed;
            if (result.read_errno)
                Diagnose(input.name, result.read_errno);
            else if (!result.stopped)
                Say(input.name + ": not searched: out of memory");
        }
        progress.Update(counts, 0);
    }
    progress.End();

    bool allSearched = counts.failed == 0;
    bool written = output.Finish(allSearched);
    if (!options.output.empty() && written && !allSearched)
        Say(options.output + ": left unchanged: not every input was searched");
    bool rejectedWritten = rejected.Close(allSearched);
    if (!options.rejected.empty() && rejectedWritten && !allSearched)
        Say(options.rejected + ": left unchanged: not every input was searched");
    if (options.stats && !options.quiet) PrintSummary(counts, options.keywords, progress.Elapsed());
    return allSearched && written && rejectedWritten ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    switch (ParseOptions(argc, argv, options, error)) {
        case Command::kUsageError:
            std::fprintf(stderr, "talveron: %s\nTry 'talveron --help' for more information.\n", error.c_str());
            return 2;
        case Command::kHelp:
            std::fputs(kHelpText, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        case Command::kVersion:
            std::printf("talveron %s\n", talveron_version());
            return std::fflush(stdout) == 0 ? 0 : 1;
        case Command::kRun:
            break;
    }
    if (options.outTxt) return RunOutTxt(options);
    return options.listInputs ? ListInputs(options) : Harvest(options);
}
