// The command line of talveron: what it asks for, and its usage errors.
// grep's options mean what they mean in grep; those of grep's that make no
// sense here are refused, and none of them writes a file.
#ifndef TALVERON_HOST_OPTIONS_H
#define TALVERON_HOST_OPTIONS_H

#include <string>
#include <utility>
#include <vector>

// What the run prints for each input.
enum class Listing {
    kRecords,             // the records (the default)
    kCount,               // -c: NAME:N
    kFilesWithMatches,    // -l: the names of inputs with a record
    kFilesWithoutMatch,   // -L: the names of inputs without one
};

struct Options {
    std::vector<std::string> inputs;    // as given; "-" is standard input
    bool currentDirectoryImplied = false;  // no INPUT: the current directory, its names without "./"
    std::vector<std::string> keywords;  // -x words, in slot order
    std::string keywordLine;            // the line handed to the module
    bool haveKeywordLine = false;       // --keyword-line given
    std::string output;                 // --output=FILE, or "" for standard output
    bool allOrNothing = false;          // --output replaced only when every input was searched
    std::string rejected;               // --rejected=FILE, or ""
    std::string files0From;             // --files0-from=FILE: more inputs, NUL-separated
    bool listInputs = false;            // --list-inputs
    int withFilename = -1;              // -H 1, -h 0, -1 by the inputs
    Listing listing = Listing::kRecords;
    bool nullAfterName = false;         // -Z
    std::string label;                  // --label: standard input's name
    bool haveLabel = false;
    bool archiveNames = false;          // --archive-names: ARCHIVE{URI} for a record
    // Which files a walk takes (base names, fnmatch globs).
    std::vector<std::string> includes, excludes, excludeDirs;
    bool allFiles = false;
    bool followLinks = false;           // -R
    bool crlf = false;
    bool https = false;                 // <a href="https:// anchors as well
    bool ignoreCase = false;            // -i: keywords match ASCII letters in either case
    bool html = false;                  // --html: pages read by the web's standards
    std::string base;                   // --base=URL: the pages' address in --html
    unsigned long long addressMax = 0;  // --max-address in bytes; 0 for the library's own
    bool haveBase = false;              // --base given (an empty URL is refused)
    std::string baseFolder;             // --base as a folder's address: written by the URL
                                        // Standard, no query or fragment, ending in '/'
    bool searchZip = false;             // -z: compressed inputs decompressed
    bool tsv = false;                   // --tsv: NAME<TAB>ADDRESS records
    bool json = false;                  // --json: each record a JSON object on a line
    bool unique = false;                // --unique: each address once per page
    bool noFragment = false;            // --no-fragment: addresses without their #fragment
    int links = 0;                      // --links: TALVERON_LINK_ bits; 0 for the library's a, area
    // --status: the HTTP statuses of an archive's responses that are
    // searched, as ranges (first, last); empty: every response.
    std::vector<std::pair<int, int>> statuses;
    bool StatusWanted(int status) const {
        if (statuses.empty()) return true;
        for (const auto& range : statuses)
            if (status >= range.first && status <= range.second) return true;
        return false;
    }
    bool quiet = false;                 // -q: nothing on stdout, stop at the first record
    bool noMessages = false;            // -s
    bool noProgress = false;
    bool stats = false;                 // --stats, or --stats=json
    bool statsJson = false;             // --stats=json: the summary as one JSON object
    bool messages = false;
    bool outTxt = false;
    int threads = 0;                    // -j: inputs searched at once; 0 for the number of cores
    unsigned long long decoderMemory = 0;  // --decoder-memory in bytes; 0 for the library's own
};

// The most threads -j takes.
constexpr int kMaxThreads = 1024;

enum class Command { kRun, kHelp, kVersion, kUsageError };

// Reads argv into `options`. A usage error leaves its message (without the
// program name) in `error`. `stdinIsTerminal` decides what no INPUT means:
// the current directory on a terminal (as ripgrep) or with -r or -R (as
// grep), else standard input.
Command ParseOptions(int argc, char** argv, Options& options, std::string& error, bool stdinIsTerminal = false);

// The checks of what the options ask for together, after parsing; false,
// with the reason in `error`, for a usage error. Fills in the keyword line.
bool ValidateOptions(Options& options, std::string& error);

// What --help prints.
std::string HelpText();

#endif
