#include "options.h"

#include <getopt.h>

#include <cstdlib>
#include <cstring>

#include "talveron.h"

// A limit of the module's header, in the help's text.
#define TEXT_OF(n) #n
#define NUMBER(n) TEXT_OF(n)

namespace {

// Options without a letter of their own.
enum : int {
    kIdLabel = 256,
    kIdInclude,
    kIdExclude,
    kIdExcludeDir,
    kIdAllFiles,
    kIdAllOrNothing,
    kIdRejected,
    kIdFiles0From,
    kIdListInputs,
    kIdCrlf,
    kIdNoProgress,
    kIdStats,
    kIdMessages,
    kIdOutTxt,
    kIdKeywordLine,
    kIdHttps,
    kIdTsv,
    kIdHelp,
    kIdVersion,
};

// One table for the parser and for --help. A row without a name is a
// heading of the help.
struct OptionRow {
    const char* name;
    int id;             // its letter, or an id above
    const char* value;  // the value's name, or null when it takes none
    const char* help;
};

const OptionRow kOptions[] = {
    {nullptr, 0, nullptr, "Keywords:"},
    {"exclude-keyword", 'x', "WORD",
     "drop addresses that contain WORD; up to six, in keyword slot order; an\n"
     "empty WORD keeps its slot empty; a WORD may not contain a space, and the\n"
     "words joined by spaces may not pass " NUMBER(TALVERON_KEYWORD_LINE_MAX) " bytes"},
    {"https", kIdHttps, nullptr,
     "also take <a href=\"https:// anchors (any case), by the same rules; their\n"
     "records begin with https://"},
    {nullptr, 0, nullptr, "Output:"},
    {"output", 'O', "FILE",
     "write the records to FILE instead of standard output; FILE is replaced\n"
     "when the run has ended (through a link, which stays; a device is\n"
     "written directly)"},
    {"all-or-nothing", kIdAllOrNothing, nullptr,
     "with --output: leave FILE unchanged unless every input was searched"},
    {"only-matching", 'o', nullptr, "accepted as grep's: records are addresses only anyway"},
    {"with-filename", 'H', nullptr,
     "put the input's name and a colon before each record (the default for\n"
     "more than one input or a directory)"},
    {"no-filename", 'h', nullptr, "do not"},
    {"label", kIdLabel, "NAME", "the name shown for standard input"},
    {"null", 'Z', nullptr, "a 0 byte after each name instead of the colon (or newline)"},
    {"count", 'c', nullptr, "print NAME:N, the count of records of each input"},
    {"files-with-matches", 'l', nullptr, "print the names of the inputs that give a record"},
    {"files-without-match", 'L', nullptr, "print the names of the inputs that give none"},
    {"crlf", kIdCrlf, nullptr, "end records with CR LF instead of LF"},
    {"tsv", kIdTsv, nullptr,
     "print each record as NAME, a tab and the address (a link graph's edges;\n"
     "a tab, newline or backslash in NAME as \\t, \\n, \\\\)"},
    {"rejected", kIdRejected, "FILE",
     "write every address that was dropped to FILE, with its input, the\n"
     "offset of its anchor and why (FILE may be /dev/stdout or /dev/stderr)"},
    {nullptr, 0, nullptr, "Inputs:"},
    {"search-zip", 'z', nullptr,
     "decompress inputs compressed with gzip, zstd, bzip2 or xz (known by their\n"
     "first bytes; others are searched as they are), and walk the page kinds\n"
     "and .warc with .gz, .zst, .bz2 or .xz after them as well"},
    {"recursive", 'r', nullptr,
     "accepted as grep's: directories are always walked (and with no INPUT, the current one)"},
    {"text", 'a', nullptr, "accepted as grep's: pages are read as bytes anyway"},
    {"dereference-recursive", 'R', nullptr, "also follow links met inside a walk"},
    {"include", kIdInclude, "GLOB",
     "take only files of a walk whose base name matches GLOB (replaces the\n"
     "default set; may be given more than once)"},
    {"exclude", kIdExclude, "GLOB", "skip files whose base name matches GLOB"},
    {"exclude-dir", kIdExcludeDir, "GLOB", "skip directories of a walk whose base name matches GLOB"},
    {"all-files", kIdAllFiles, nullptr, "take every file of a walk, not only the default set"},
    {"files0-from", kIdFiles0From, "FILE",
     "more INPUTs, their names read from FILE (- for standard input), each\n"
     "ended by a 0 byte"},
    {"list-inputs", kIdListInputs, nullptr,
     "print the names of the inputs (and of directories that cannot be\n"
     "read, where they are met), each ended by a 0 byte, and search nothing"},
    {"threads", 'j', "N",
     "search N inputs at once, and a regular file of 8 MiB or more in up to N\n"
     "parts at once (0, the default: the number of cores; at most 1024; 1: one\n"
     "input after the other; -q always takes one); the output is the same\n"
     "whatever N"},
    {nullptr, 0, nullptr, "Messages and exit status:"},
    {"quiet", 'q', nullptr, "print nothing; exit 0 at the first record (also --silent)"},
    {"silent", 'q', nullptr, nullptr},
    {"no-messages", 's', nullptr, "no diagnostics about inputs that cannot be read"},
    {"no-progress", kIdNoProgress, nullptr, "no progress line"},
    {"stats", kIdStats, nullptr, "print a summary on standard error at the end"},
    {"messages", kIdMessages, nullptr, "also show the module's own messages (Japanese)"},
    {nullptr, 0, nullptr, "The legacy call:"},
    {"out-txt", kIdOutTxt, nullptr,
     "as a legacy host program calls the module: one INPUT, records with\n"
     "CR LF in OUT.TXT in the current directory (and printed), the module's\n"
     "messages; exit status 1 when it returned -1 or a record could not be\n"
     "written"},
    {"keyword-line", kIdKeywordLine, "LINE",
     "with --out-txt: hand LINE to the module as it is (it splits it at\n"
     "spaces into six slots and reads at most " NUMBER(TALVERON_KEYWORD_LINE_MAX) " bytes of it)"},
    {nullptr, 0, nullptr, "Other:"},
    {"help", kIdHelp, nullptr, "show this help"},
    {"version", kIdVersion, nullptr, "show the module's version"},
};

// grep's options that have no meaning here, and why.
const struct {
    char letter;
    const char* why;
} kGrepOnly[] = {
    {'e', "talveron has no patterns"}, {'f', "talveron has no patterns"},  {'i', "talveron has no patterns"},
    {'v', "talveron has no patterns"}, {'w', "talveron has no patterns"},  {'E', "talveron has no patterns"},
    {'F', "talveron has no patterns"}, {'G', "talveron has no patterns"},  {'P', "talveron has no patterns"},
    {'n', "records have no line numbers"}, {'b', "records have no byte offsets (see --rejected)"},
    {'A', "records have no context"},  {'B', "records have no context"},   {'C', "records have no context"},
    {'m', "talveron has no match limit"},
};

const char kIntroduction[] =
    "Usage: talveron [OPTION...] [INPUT...]\n"
    "Print the web addresses of the anchors of HTML pages, one per line.\n"
    "\n"
    "An anchor is found where the bytes <a href=\"http:// stand (ASCII letters in\n"
    "any case, one space, no spaces around =, a double quote); its address runs\n"
    "to the next double quote, across lines and tags. The address is written with\n"
    "a lower-case http://, and a \"/\" is added unless it ends in \".html\", \".htm\"\n"
    "(any case) or \"/\". Control bytes, DEL and every byte from 0x80 up are\n"
    "removed from it. An address is dropped when it contains a keyword (bytes\n"
    "compared exactly, case counts), when it is longer than " NUMBER(TALVERON_ADDRESS_MAX) " bytes (counted\n"
    "up to a 0 byte in it), or when the input ends before its closing quote.\n"
    "A '<' directly behind a '<' that did not begin an anchor is not looked at,\n"
    "so \"<<a href=...\" hides that anchor.\n"
    "\n"
    "INPUT is a file, a directory (walked for *.htm, *.html, *.xhtml, *.xht,\n"
    "*.shtml and *.warc files, any case, in sorted order; links inside it are not\n"
    "followed unless -R), or - for standard input. With no INPUT, standard input\n"
    "is read, or the current directory walked when standard input is a terminal.\n"
    "A web archive (first line WARC/1.0 or WARC/1.1; with -z also compressed) is\n"
    "read record by record: each response record's HTTP body (chunked coding\n"
    "undone, gzip, deflate, zstd or br content decoded) and each resource record\n"
    "is an input of its own, named by its WARC-Target-URI; other records are\n"
    "passed over.\n"
    "Options may come anywhere before --.\n";

const char kClosing[] =
    "\n"
    "Without --out-txt, talveron never creates, empties or reads OUT.TXT, and\n"
    "no option but --output and --rejected writes a file.\n"
    "\n"
    "Exit status, as grep's: 0 when a record was found, 1 when none was, 2 on\n"
    "trouble (an input that could not be opened or read, a write that failed, a\n"
    "usage error), even when records were found; with -q, 0 at the first record.\n";

}  // namespace

std::string HelpText() {
    std::string text = kIntroduction;
    for (const OptionRow& row : kOptions) {
        if (!row.help) continue;  // an alias of the row before
        if (!row.name) {
            text += std::string("\n") + row.help + "\n";
            continue;
        }
        std::string head = row.id < 256 ? std::string("  -") + static_cast<char>(row.id) + ", " : "      ";
        head += std::string("--") + row.name;
        if (row.value) head += std::string("=") + row.value;
        // The help beside the name, or below it when the name is long.
        const std::size_t column = 29;
        std::string indent(column, ' ');
        if (head.size() + 2 > column) {
            text += head + "\n" + indent;
        } else {
            text += head + std::string(column - head.size(), ' ');
        }
        // The help's words, wrapped to the width of a terminal.
        std::string words = row.help, line;
        for (char& c : words)
            if (c == '\n') c = ' ';
        std::size_t at = 0;
        bool first = true;
        while (at < words.size()) {
            std::size_t end = at + (80 - column);
            if (end >= words.size()) {
                end = words.size();
            } else {
                std::size_t space = words.rfind(' ', end);
                end = space == std::string::npos || space <= at ? end : space;
            }
            text += (first ? "" : "\n" + indent) + words.substr(at, end - at);
            first = false;
            at = end;
            while (at < words.size() && words[at] == ' ') ++at;
        }
        text += "\n";
    }
    return text + kClosing;
}

Command ParseOptions(int argc, char** argv, Options& options, std::string& error, bool stdinIsTerminal) {
    // getopt_long's table and letters, from the one table above.
    std::vector<option> longs;
    std::string letters = ":";  // ':' first: a missing value is told apart
    for (const OptionRow& row : kOptions) {
        if (!row.name) continue;
        longs.push_back({row.name, row.value ? required_argument : no_argument, nullptr, row.id});
        if (row.id < 256 && letters.find(static_cast<char>(row.id)) == std::string::npos) {
            letters += static_cast<char>(row.id);
            if (row.value) letters += ':';
        }
    }
    longs.push_back({nullptr, 0, nullptr, 0});

    auto nameOf = [&](int id) -> std::string {
        for (const OptionRow& row : kOptions)
            if (row.name && row.id == id) return row.id < 256 ? std::string("-") + char(row.id) : std::string("--") + row.name;
        return "?";
    };
    // The argument being read when getopt stopped on it.
    auto offending = [&]() -> std::string { return optind > 0 && optind <= argc ? argv[optind - 1] : ""; };

    bool help = false, version = false, emptyFileName = false, recursive = false;
    optind = 0;  // a fresh start of getopt (it keeps state between calls)
    opterr = 0;
    for (;;) {
        int index = -1;
        int id = getopt_long(argc, argv, letters.c_str(), longs.data(), &index);
        if (id == -1) break;
        std::string value = optarg ? optarg : "";
        switch (id) {
            case 'x': options.keywords.push_back(value); break;
            case 'O':
                options.output = value;
                emptyFileName |= value.empty();
                break;
            case kIdAllOrNothing: options.allOrNothing = true; break;
            case 'o': break;  // addresses are all talveron prints
            case 'a': break;  // every page is read as bytes
            case 'H': options.withFilename = 1; break;
            case 'h': options.withFilename = 0; break;
            case kIdLabel:
                options.label = value;
                options.haveLabel = true;
                break;
            case 'Z': options.nullAfterName = true; break;
            case 'c':  // -l and -L win over -c, in either order, as in grep
                if (options.listing == Listing::kRecords) options.listing = Listing::kCount;
                break;
            case 'l': options.listing = Listing::kFilesWithMatches; break;
            case 'L': options.listing = Listing::kFilesWithoutMatch; break;
            case kIdCrlf: options.crlf = true; break;
            case kIdHttps: options.https = true; break;
            case kIdTsv: options.tsv = true; break;
            case 'z': options.searchZip = true; break;
            case kIdRejected:
                options.rejected = value;
                emptyFileName |= value.empty();
                break;
            case 'r': recursive = true; break;  // directories are walked anyway
            case 'R':
                recursive = true;
                options.followLinks = true;
                break;
            case kIdInclude: options.includes.push_back(value); break;
            case kIdExclude: options.excludes.push_back(value); break;
            case kIdExcludeDir: options.excludeDirs.push_back(value); break;
            case kIdAllFiles: options.allFiles = true; break;
            case kIdFiles0From:
                options.files0From = value;
                emptyFileName |= value.empty();
                break;
            case kIdListInputs: options.listInputs = true; break;
            case 'q': options.quiet = true; break;
            case 's': options.noMessages = true; break;
            case kIdNoProgress: options.noProgress = true; break;
            case kIdStats: options.stats = true; break;
            case kIdMessages: options.messages = true; break;
            case kIdOutTxt: options.outTxt = true; break;
            case kIdKeywordLine:
                options.keywordLine = value;
                options.haveKeywordLine = true;
                break;
            case 'j': {
                char* end = nullptr;
                long n = std::strtol(value.c_str(), &end, 10);
                if (value.empty() || *end != '\0' || n < 0 || n > kMaxThreads) {
                    error = "-j/--threads takes a number from 0 (the number of cores) to " +
                            std::to_string(kMaxThreads) + ", not '" + value + "'";
                    return Command::kUsageError;
                }
                options.threads = static_cast<int>(n);
                break;
            }
            case kIdHelp: help = true; break;
            case kIdVersion: version = true; break;
            case ':': {
                std::string arg = offending();
                error = "option '" +
                        (arg.rfind("--", 0) == 0 ? arg.substr(0, arg.find('=')) : nameOf(optopt)) +
                        "' needs a value";
                return Command::kUsageError;
            }
            default: {  // '?'
                std::string arg = offending();
                if (arg.rfind("--", 0) == 0) {
                    if (optopt && arg.find('=') != std::string::npos) {
                        error = "option '" + arg.substr(0, arg.find('=')) + "' takes no value";
                    } else {
                        std::string name = arg.substr(2, arg.find('=') - 2);
                        int matches = 0;
                        for (const OptionRow& row : kOptions) matches += row.name && std::strncmp(row.name, name.c_str(), name.size()) == 0;
                        error = std::string(matches > 1 ? "ambiguous option '" : "unknown option '") + "--" + name + "'";
                    }
                    return Command::kUsageError;
                }
                error = std::string("unknown option '-") + static_cast<char>(optopt) + "'";
                for (const auto& grep : kGrepOnly)
                    if (grep.letter == optopt) error += std::string(" (grep's, but ") + grep.why + ")";
                return Command::kUsageError;
            }
        }
    }
    for (int i = optind; i < argc; ++i) options.inputs.push_back(argv[i]);
    if (help) return Command::kHelp;
    if (version) return Command::kVersion;
    if (emptyFileName) {
        error = "an empty file name for --output, --rejected or --files0-from";
        return Command::kUsageError;
    }
    if (!ValidateOptions(options, error)) return Command::kUsageError;
    if (options.output == "-") options.output.clear();
    if (options.inputs.empty() && options.files0From.empty()) {
        options.currentDirectoryImplied = stdinIsTerminal || recursive;
        options.inputs.push_back(options.currentDirectoryImplied ? "." : "-");
    }
    return Command::kRun;
}

bool ValidateOptions(Options& options, std::string& error) {
    // The keywords: never a silent change of what the user asked for.
    if (options.keywords.size() > static_cast<std::size_t>(TALVERON_KEYWORD_SLOTS)) {
        error = "more than six keywords (-x): the module has six keyword slots";
        return false;
    }
    for (const std::string& word : options.keywords) {
        if (word.find(' ') != std::string::npos) {
            error = "keyword '" + word + "' contains a space, which would split it into two keywords";
            return false;
        }
    }
    if (options.haveKeywordLine && !options.outTxt) {
        error = "--keyword-line goes with --out-txt (use -x WORD otherwise)";
        return false;
    }
    if (options.haveKeywordLine && !options.keywords.empty()) {
        error = "--keyword-line and -x cannot be used together";
        return false;
    }
    if (!options.haveKeywordLine) {
        std::string line;
        for (std::size_t k = 0; k < options.keywords.size(); ++k) line += (k ? " " : "") + options.keywords[k];
        if (line.size() > static_cast<std::size_t>(TALVERON_KEYWORD_LINE_MAX)) {
            error = "the keywords make a keyword line of " + std::to_string(line.size()) +
                    " bytes; the module reads at most " + std::to_string(TALVERON_KEYWORD_LINE_MAX);
            return false;
        }
        options.keywordLine = line;
    }
    if (options.tsv && (options.withFilename == 0 || options.nullAfterName)) {
        error = "--tsv names every record's input: it does not go with -h or -Z";
        return false;
    }
    if (options.allOrNothing && options.output.empty()) {
        error = "--all-or-nothing goes with --output=FILE";
        return false;
    }
    if (options.outTxt) {
        if (options.inputs.size() != 1 || !options.files0From.empty()) {
            error = "--out-txt takes exactly one INPUT";
            return false;
        }
        if (!options.output.empty() || !options.rejected.empty() || options.allFiles || options.crlf || options.https ||
            options.withFilename == 1 || options.listing != Listing::kRecords || options.quiet || options.searchZip ||
            options.tsv ||
            !options.includes.empty() || !options.excludes.empty() || options.nullAfterName) {
            error = "--out-txt writes OUT.TXT only: it goes with -x, --keyword-line and --messages alone";
            return false;
        }
    }
    return true;
}
