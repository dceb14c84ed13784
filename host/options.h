// The command line of talveron: what it asks for, and its usage errors.
#ifndef TALVERON_HOST_OPTIONS_H
#define TALVERON_HOST_OPTIONS_H

#include <string>
#include <vector>

struct Options {
    std::vector<std::string> inputs;    // as given; "-" is standard input
    std::vector<std::string> keywords;  // -x words, in slot order
    std::string keywordLine;            // the line handed to the module
    bool haveKeywordLine = false;       // --keyword-line given
    std::string output;                 // -o FILE, or "" for standard output
    std::string rejected;               // --rejected=FILE, or ""
    std::string files0From;             // --files0-from=FILE: more inputs, NUL-separated
    bool listInputs = false;            // --list-inputs
    int withFilename = -1;              // -H 1, -h 0, -1 by the inputs
    bool crlf = false;
    bool allFiles = false;
    bool quiet = false;
    bool stats = false;
    bool messages = false;
    bool outTxt = false;
};

enum class Command { kRun, kHelp, kVersion, kUsageError };

// Reads argv into `options`. A usage error leaves its message (without the
// program name) in `error`.
Command ParseOptions(int argc, char** argv, Options& options, std::string& error);

// What --help prints.
extern const char kHelpText[];

#endif
