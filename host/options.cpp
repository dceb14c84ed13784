#include "host/options.h"

#include <cstring>

const char kHelpText[] =
    "Usage: talveron [OPTION...] [INPUT...]\n"
    "Print the web addresses of the anchors of HTML pages, one per line.\n"
    "\n"
    "An anchor is found where the bytes <a href=\"http:// stand (ASCII letters in\n"
    "any case, one space, no spaces around =, a double quote); its address runs\n"
    "to the next double quote, across lines and tags. The address is written with\n"
    "a lower-case http://, and a \"/\" is added unless it ends in \".html\", \".htm\"\n"
    "(any case) or \"/\". Control bytes, DEL and every byte from 0x80 up are\n"
    "removed from it. An address is dropped when it contains a keyword (bytes\n"
    "compared exactly, case counts), when it is longer than 499 bytes (counted\n"
    "up to a 0 byte in it), or when the input ends before its closing quote.\n"
    "A '<' directly behind a '<' that did not begin an anchor is not looked at,\n"
    "so \"<<a href=...\" hides that anchor.\n"
    "\n"
    "INPUT is a file, a directory (walked for *.htm and *.html files, any case,\n"
    "in sorted order; links inside it are not followed), or - for standard input,\n"
    "which is also read when no INPUT is given.\n"
    "\n"
    "Options (they may come anywhere before --):\n"
    "  -x, --exclude=WORD     drop addresses that contain WORD; up to six, in\n"
    "                         keyword slot order; an empty WORD keeps its slot\n"
    "                         empty; a WORD may not contain a space, and the\n"
    "                         words joined by spaces may not pass 255 bytes\n"
    "  -o, --output=FILE      write the records to FILE instead of standard\n"
    "                         output: replaced only when every input was\n"
    "                         searched and every write succeeded\n"
    "  -H, --with-filename    put the input's name and a colon before each record\n"
    "                         (the default for more than one input or a directory)\n"
    "  -h, --no-filename      do not\n"
    "      --crlf             end records with CR LF instead of LF\n"
    "      --all-files        take every file of a directory, not only *.htm(l)\n"
    "      --files0-from=FILE more INPUTs, their names read from FILE (- for\n"
    "                         standard input), each ended by a 0 byte\n"
    "      --list-inputs      print the names of the inputs (and of directories\n"
    "                         that cannot be read, where they are met), each\n"
    "                         ended by a 0 byte, and search nothing\n"
    "      --rejected=FILE    write every address that was dropped to FILE, with\n"
    "                         its input, the offset of its anchor and why\n"
    "      --stats            print a summary on standard error at the end\n"
    "      --messages         also show the module's own messages (Japanese)\n"
    "  -q, --quiet            no progress line and no summary (errors still show)\n"
    "      --out-txt          as a legacy host program calls the module: one\n"
    "                         INPUT, records with CR LF in OUT.TXT in the current\n"
    "                         directory (and printed), the module's messages,\n"
    "                         exit status 1 when it returned -1 or a record could\n"
    "                         not be written\n"
    "      --keyword-line=LINE  with --out-txt: hand LINE to the module as it is\n"
    "                         (it splits it at spaces into six slots and reads\n"
    "                         at most 255 bytes of it)\n"
    "      --help             show this help\n"
    "      --version          show the module's version\n"
    "\n"
    "Without --out-txt, talveron never creates, empties or reads OUT.TXT.\n"
    "\n"
    "Exit status: 0 when every input was searched and every record written;\n"
    "1 when an input could not be opened or read, or writing failed; 2 for\n"
    "usage errors.\n";

namespace {

// Long options that take a value, and their short forms.
struct ValueOption {
    const char* name;
    char letter;
    std::string Options::*field;
};
const ValueOption kValueOptions[] = {
    {"exclude", 'x', nullptr},
    {"output", 'o', &Options::output},
    {"rejected", 0, &Options::rejected},
    {"files0-from", 0, &Options::files0From},
    {"keyword-line", 0, &Options::keywordLine},
};

// Long options without a value, and their short forms.
struct FlagOption {
    const char* name;
    char letter;
};
const FlagOption kFlagOptions[] = {
    {"with-filename", 'H'}, {"no-filename", 'h'}, {"crlf", 0},     {"all-files", 0}, {"stats", 0},
    {"messages", 0},        {"quiet", 'q'},       {"out-txt", 0},  {"help", 0},      {"version", 0},
    {"list-inputs", 0},
};

}  // namespace

Command ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    bool help = false, version = false, emptyFileName = false;
    auto setFlag = [&](const std::string& name) {
        if (name == "with-filename") options.withFilename = 1;
        if (name == "no-filename") options.withFilename = 0;
        if (name == "crlf") options.crlf = true;
        if (name == "all-files") options.allFiles = true;
        if (name == "list-inputs") options.listInputs = true;
        if (name == "stats") options.stats = true;
        if (name == "messages") options.messages = true;
        if (name == "quiet") options.quiet = true;
        if (name == "out-txt") options.outTxt = true;
        if (name == "help") help = true;
        if (name == "version") version = true;
    };
    auto setValue = [&](const ValueOption& option, const std::string& value) {
        if (!option.field)
            options.keywords.push_back(value);
        else
            options.*option.field = value;
        if (option.field == &Options::keywordLine) options.haveKeywordLine = true;
        if (option.field == &Options::output && value.empty()) emptyFileName = true;
        if (option.field == &Options::rejected && value.empty()) emptyFileName = true;
        if (option.field == &Options::files0From && value.empty()) emptyFileName = true;
    };

    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            options.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            std::string name = arg.substr(2), value;
            std::size_t equals = name.find('=');
            bool hasValue = equals != std::string::npos;
            if (hasValue) {
                value = name.substr(equals + 1);
                name.erase(equals);
            }
            const ValueOption* valued = nullptr;
            for (const ValueOption& option : kValueOptions)
                if (name == option.name) valued = &option;
            if (valued) {
                if (!hasValue) {
                    if (i + 1 >= argc) {
                        error = "option '--" + name + "' needs a value";
                        return Command::kUsageError;
                    }
                    value = argv[++i];
                }
                setValue(*valued, value);
                continue;
            }
            bool known = false;
            for (const FlagOption& option : kFlagOptions) known |= name == option.name;
            if (!known) {
                error = "unknown option '" + arg + "'";
                return Command::kUsageError;
            }
            if (hasValue) {
                error = "option '--" + name + "' takes no value";
                return Command::kUsageError;
            }
            setFlag(name);
            continue;
        }
        // Short options, bundled as in -qH; a value follows its letter or is
        // the next argument.
        for (std::size_t k = 1; k < arg.size(); ++k) {
            char letter = arg[k];
            const ValueOption* valued = nullptr;
            for (const ValueOption& option : kValueOptions)
                if (option.letter && option.letter == letter) valued = &option;
            if (valued) {
                std::string value = arg.substr(k + 1);
                if (value.empty()) {
                    if (i + 1 >= argc) {
                        error = std::string("option '-") + letter + "' needs a value";
                        return Command::kUsageError;
                    }
                    value = argv[++i];
                }
                setValue(*valued, value);
                break;
            }
            const FlagOption* flag = nullptr;
            for (const FlagOption& option : kFlagOptions)
                if (option.letter && option.letter == letter) flag = &option;
            if (!flag) {
                error = std::string("unknown option '-") + letter + "'";
                return Command::kUsageError;
            }
            setFlag(flag->name);
        }
    }
    if (help) return Command::kHelp;
    if (version) return Command::kVersion;

    if (emptyFileName) {
        error = "an empty file name for -o, --rejected or --files0-from";
        return Command::kUsageError;
    }
    // The keywords: never a silent change of what the user asked for.
    if (options.keywords.size() > 6) {
        error = "more than six keywords (-x): the module has six keyword slots";
        return Command::kUsageError;
    }
    for (const std::string& word : options.keywords) {
        if (word.find(' ') != std::string::npos) {
            error = "keyword '" + word + "' contains a space, which would split it into two keywords";
            return Command::kUsageError;
        }
        if (word.find('\0') != std::string::npos) {
            error = "keyword contains a 0 byte";
            return Command::kUsageError;
        }
    }
    if (options.haveKeywordLine && !options.outTxt) {
        error = "--keyword-line goes with --out-txt (use -x WORD otherwise)";
        return Command::kUsageError;
    }
    if (options.haveKeywordLine && !options.keywords.empty()) {
        error = "--keyword-line and -x cannot be used together";
        return Command::kUsageError;
    }
    if (!options.haveKeywordLine) {
        std::string line;
        for (std::size_t k = 0; k < options.keywords.size(); ++k) line += (k ? " " : "") + options.keywords[k];
        if (line.size() > 255) {
            error = "the keywords make a keyword line of " + std::to_string(line.size()) +
                    " bytes; the module reads at most 255";
            return Command::kUsageError;
        }
        options.keywordLine = line;
    }
    if (options.outTxt) {
        if (options.inputs.size() != 1 || !options.files0From.empty()) {
            error = "--out-txt takes exactly one INPUT";
            return Command::kUsageError;
        }
        if (!options.output.empty() || !options.rejected.empty() || options.allFiles || options.crlf ||
            options.withFilename == 1) {
            error = "--out-txt writes OUT.TXT only: -o, -H, --crlf, --all-files and --rejected do not go with it";
            return Command::kUsageError;
        }
    }
    if (options.output == "-") options.output.clear();
    if (options.inputs.empty() && options.files0From.empty()) options.inputs.push_back("-");
    return Command::kRun;
}
