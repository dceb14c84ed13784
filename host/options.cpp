#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "talveron.h"

// A limit of the module's header, in the help's text.
#define TEXT_OF(n) #n
#define NUMBER(n) TEXT_OF(n)

namespace {

// What a parse gathers: the options, and what is judged once it is over.
struct Parsing {
    explicit Parsing(Options& o) : options(o) {}
    Options& options;
    bool help = false, version = false, recursive = false;
    bool emptyFileName = false;  // --output, --rejected or --files0-from given ""
    std::string error;           // a value refused
    bool valued = false;         // the option at hand was given a value (=VALUE)
};

// "268435456", "256M", "256MiB", "2G": a number of bytes, or of K, M, G or
// T (powers of 1024); false when `text` is none of these.
bool ParseSize(const std::string& text, unsigned long long& bytes) {
    char* end = nullptr;
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    unsigned long long n = std::strtoull(text.c_str(), &end, 10);
    std::string unit = end;
    for (const char* suffix : {"iB", "B"}) {
        std::size_t length = std::strlen(suffix);
        if (unit.size() == length + 1 && unit.compare(1, length, suffix) == 0) unit.resize(1);
    }
    const std::string units = "KMGT";
    std::size_t power = unit.empty() ? 0 : units.find(unit[0]) + 1;
    if (unit.size() > 1 || power > units.size()) return false;
    if (power > 0 && n > (~0ULL >> (10 * power))) return false;
    bytes = n << (10 * power);
    return true;
}

// `url` as the URL Standard writes it when it is an http or https URL;
// else empty.
std::string WebAddress(const std::string& url) {
    long long length = talveron_url(url.c_str(), nullptr, nullptr, 0);
    if (length < 0) return std::string();
    std::string href(static_cast<std::size_t>(length) + 1, '\0');
    talveron_url(url.c_str(), nullptr, &href[0], href.size());
    href.resize(static_cast<std::size_t>(length));
    return href.rfind("http:", 0) == 0 || href.rfind("https:", 0) == 0 ? href : std::string();
}

// How an option takes its value.
enum class Takes {
    kNothing,
    kValue,      // --NAME=VALUE or --NAME VALUE, and its letter's value likewise
    kOrExactly,  // --NAME alone, or --NAME=VALUE with this one VALUE
    kOptional,   // --NAME alone, or --NAME=VALUE, which its set judges
};

// One row for each option: the parser's, the help's and what it sets. A row
// without a name is a heading of the help; a row without help is another
// name of the row before it.
struct OptionRow {
    const char* name;
    char letter;        // its short form, or 0
    const char* value;  // the value's name (or the one value of kOrExactly)
    Takes takes;
    const char* help;
    void (*set)(Parsing& p, const std::string& value);
};

using P = Parsing&;
using V = const std::string&;

void SetFileName(std::string& field, Parsing& p, V value) {
    field = value;
    p.emptyFileName |= value.empty();
}

// A size option's value, refused with the range it takes (powers of 1024,
// from 1 << `low` to 1 << `high` bytes, named `range`).
void SetSize(unsigned long long& field, Parsing& p, V value, const char* option, int low, int high,
             const char* range) {
    unsigned long long bytes = 0;
    if (!ParseSize(value, bytes) || bytes < (1ULL << low) || bytes > (1ULL << high)) {
        p.error = std::string(option) + " takes a size from " + range + " after a number), not '" + value + "'";
        return;
    }
    field = bytes;
}

// Splits `list` at its commas; false when an item is empty.
bool SplitList(const std::string& list, std::vector<std::string>& items) {
    items.clear();
    for (std::size_t at = 0;;) {
        std::size_t comma = list.find(',', at);
        items.push_back(list.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (items.back().empty()) return false;
        if (comma == std::string::npos) return true;
        at = comma + 1;
    }
}

// The names --links takes, and their bits.
const struct {
    const char* name;
    int bits;
} kLinkKinds[] = {
    {"a", TALVERON_LINK_A},         {"area", TALVERON_LINK_AREA},         {"redirect", TALVERON_LINK_REDIRECT},
    {"frame", TALVERON_LINK_FRAME}, {"link", TALVERON_LINK_LINK},         {"form", TALVERON_LINK_FORM},
    {"resource", TALVERON_LINK_RESOURCE}, {"all", TALVERON_LINKS_ALL},
};

// --links=LIST: the kinds of links that become records (the last --links
// given holds).
void SetLinks(Parsing& p, V list) {
    std::vector<std::string> items;
    bool ok = SplitList(list, items);
    int bits = 0;
    for (const std::string& item : items) {
        int found = 0;
        for (const auto& kind : kLinkKinds)
            if (item == kind.name) found = kind.bits;
        ok &= found != 0;
        bits |= found;
    }
    if (!ok) {
        p.error = "--links takes a comma-separated list of a, area, redirect, frame, link, form, resource or all, not '" +
                  list + "'";
        return;
    }
    p.options.links = bits;
}

// An HTTP status, three digits from 100 to 599; -1 when `text` is none.
int StatusOf(const std::string& text) {
    if (text.size() != 3 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    int n = std::atoi(text.c_str());
    return n >= 100 && n <= 599 ? n : -1;
}

// --status=LIST: statuses (404) and ranges (200-299) of the responses
// searched (the last --status given holds).
void SetStatuses(Parsing& p, V list) {
    std::vector<std::string> items;
    bool ok = SplitList(list, items);
    std::vector<std::pair<int, int>> ranges;
    for (const std::string& item : items) {
        std::size_t dash = item.find('-');
        int first = StatusOf(item.substr(0, dash));
        int last = dash == std::string::npos ? first : StatusOf(item.substr(dash + 1));
        ok &= first > 0 && last >= first;
        ranges.push_back({first, last});
    }
    if (!ok) {
        p.error = "--status takes a comma-separated list of HTTP statuses and ranges of them, from 100 to 599 "
                  "(as 200-299,304), not '" + list + "'";
        return;
    }
    p.options.statuses = ranges;
}

// --stats, --stats=json.
void SetStats(Parsing& p, V value) {
    p.options.stats = true;
    p.options.statsJson = value == "json";
}

// --color[=WHEN]: grep's three WHENs, though nothing is colored.
void SetColor(Parsing& p, V when) {
    if (p.valued && when != "never" && when != "always" && when != "auto")
        p.error = "--color takes never, always or auto, not '" + when + "'";
}

const OptionRow kOptions[] = {
    {nullptr, 0, nullptr, Takes::kNothing, "Keywords:", nullptr},
    {"exclude-keyword", 'x', "WORD", Takes::kValue,
     "drop addresses that contain WORD; up to six, in keyword slot order; an\n"
     "empty WORD keeps its slot empty; a WORD may not contain a space, and the\n"
     "words joined by spaces may not pass " NUMBER(TALVERON_KEYWORD_LINE_MAX) " bytes",
     [](P p, V v) { p.options.keywords.push_back(v); }},
    {"https", 0, nullptr, Takes::kNothing,
     "also take <a href=\"https:// anchors (any case), by the same rules; their\n"
     "records begin with https://",
     [](P p, V) { p.options.https = true; }},
    {"html", 0, nullptr, Takes::kNothing,
     "read pages as a browser does instead (the HTML standard's tokenizer,\n"
     "the WHATWG URL Standard): the records are the http and https addresses\n"
     "that the page's a and area tags lead to, resolved against its base",
     [](P p, V) { p.options.html = true; }},
    {"base", 0, "URL", Takes::kValue,
     "with --html: the pages' address, against which their links are resolved\n"
     "(an http or https URL; else a file's file: URL; a WARC record's is its\n"
     "WARC-Target-URI); of a directory, its address: each page's is URL joined\n"
     "with its path below the directory",
     [](P p, V v) {
         p.options.base = v;
         p.options.haveBase = true;
     }},
    {"links", 0, "LIST", Takes::kValue,
     "with --html: the links that become records, a comma-separated LIST of\n"
     "a (a href), area (area href), redirect (a 3xx response's Location, a\n"
     "Refresh header, <meta http-equiv=refresh>), frame (frame and iframe\n"
     "src), link (link href), form (form action), resource (src of img,\n"
     "script, source, embed, audio, video, track, input type=image; video\n"
     "poster; object data), or all (default: a,area)",
     SetLinks},
    {"max-address", 0, "SIZE", Takes::kValue,
     "with --html: pass over a link whose address would be longer than SIZE\n"
     "(default 64K, above what web servers take; K, M, G as powers of 1024;\n"
     "1K to 1G)",
     [](P p, V v) { SetSize(p.options.addressMax, p, v, "--max-address", 10, 30, "1K to 1G (K, M or G"); }},
    {nullptr, 0, nullptr, Takes::kNothing, "Output:", nullptr},
    {"output", 'O', "FILE", Takes::kValue,
     "write the records to FILE instead of standard output; FILE is replaced\n"
     "when the run has ended (through a link, which stays; a device is\n"
     "written directly)",
     [](P p, V v) { SetFileName(p.options.output, p, v); }},
    {"all-or-nothing", 0, nullptr, Takes::kNothing,
     "with --output: leave FILE unchanged unless every input was searched",
     [](P p, V) { p.options.allOrNothing = true; }},
    {"only-matching", 'o', nullptr, Takes::kNothing, "accepted as grep's: records are addresses only anyway",
     [](P, V) {}},
    {"no-line-number", 'N', nullptr, Takes::kNothing, "accepted as ripgrep's: records have no line numbers anyway",
     [](P, V) {}},
    {"color", 0, "WHEN", Takes::kOptional,
     "accepted as grep's: WHEN is never, always or auto (the default);\n"
     "nothing is colored (also --colour)",
     SetColor},
    {"colour", 0, "WHEN", Takes::kOptional, nullptr, SetColor},
    {"with-filename", 'H', nullptr, Takes::kNothing,
     "put the input's name and a colon before each record (the default for\n"
     "more than one input or a directory)",
     [](P p, V) { p.options.withFilename = 1; }},
    {"no-filename", 'h', nullptr, Takes::kNothing, "do not", [](P p, V) { p.options.withFilename = 0; }},
    {"archive-names", 0, nullptr, Takes::kNothing,
     "name each record of a web archive ARCHIVE{URI}, after the archive it\n"
     "came from (as ugrep names an archive's members)",
     [](P p, V) { p.options.archiveNames = true; }},
    {"label", 0, "NAME", Takes::kValue, "the name shown for standard input",
     [](P p, V v) {
         p.options.label = v;
         p.options.haveLabel = true;
     }},
    {"null", 'Z', nullptr, Takes::kNothing, "a 0 byte after each name instead of the colon (or newline)",
     [](P p, V) { p.options.nullAfterName = true; }},
    {"count", 'c', nullptr, Takes::kNothing, "print NAME:N, the count of records of each input",
     [](P p, V) {  // -l and -L win over -c, in either order, as in grep
         if (p.options.listing == Listing::kRecords) p.options.listing = Listing::kCount;
     }},
    {"files-with-matches", 'l', nullptr, Takes::kNothing, "print the names of the inputs that give a record",
     [](P p, V) { p.options.listing = Listing::kFilesWithMatches; }},
    {"files-without-match", 'L', nullptr, Takes::kNothing, "print the names of the inputs that give none",
     [](P p, V) { p.options.listing = Listing::kFilesWithoutMatch; }},
    {"crlf", 0, nullptr, Takes::kNothing, "end records with CR LF instead of LF",
     [](P p, V) { p.options.crlf = true; }},
    {"tsv", 0, nullptr, Takes::kNothing,
     "print each record as NAME, a tab and the address (a link graph's edges;\n"
     "a backslash and control bytes in NAME as \\\\, \\t, \\n, \\r, ..., \\xNN)",
     [](P p, V) { p.options.tsv = true; }},
    {"json", 0, nullptr, Takes::kNothing,
     "print each record as a JSON object on a line (JSON Lines):\n"
     "{\"page\":NAME,\"url\":ADDRESS}, and with --html also href, element,\n"
     "attribute, text,\n"
     "rel and offset; with -c {\"page\":NAME,\"count\":N}. NAME is the input's\n"
     "name (a web archive's record's: its WARC-Target-URI, or ARCHIVE{URI}\n"
     "with --archive-names), its bytes that are not UTF-8 as U+FFFD",
     [](P p, V) { p.options.json = true; }},
    {"unique", 0, nullptr, Takes::kNothing,
     "print each address once per page (per record of a web archive), where\n"
     "it first stands",
     [](P p, V) { p.options.unique = true; }},
    {"no-fragment", 0, nullptr, Takes::kNothing,
     "print addresses without their #fragment (keywords are looked for\n"
     "before it is dropped)",
     [](P p, V) { p.options.noFragment = true; }},
    {"rejected", 0, "FILE", Takes::kValue,
     "write every address that was dropped to FILE, with its input, the\n"
     "offset of its anchor and why (FILE may be /dev/stdout or /dev/stderr)",
     [](P p, V v) { SetFileName(p.options.rejected, p, v); }},
    {nullptr, 0, nullptr, Takes::kNothing, "Inputs:", nullptr},
    {"search-zip", 'z', nullptr, Takes::kNothing,
     "walk the page kinds and .warc with .gz, .zst, .bz2 or .xz after them as\n"
     "well (every input is read by its first bytes: compressed with gzip, zstd,\n"
     "bzip2 or xz, it is decompressed, -z or not)",
     [](P p, V) { p.options.searchZip = true; }},
    {"recursive", 'r', nullptr, Takes::kNothing,
     "accepted as grep's: directories are always walked (and with no INPUT, the current one)",
     [](P p, V) { p.recursive = true; }},
    {"text", 'a', nullptr, Takes::kNothing, "accepted as grep's: pages are read as bytes anyway", [](P, V) {}},
    {"ignore-case", 'i', nullptr, Takes::kNothing,
     "match the keywords (-x) with ASCII letters in either case (anchors are\n"
     "matched in any case anyway)",
     [](P p, V) { p.options.ignoreCase = true; }},
    {"glob", 'g', "GLOB", Takes::kValue,
     "as ripgrep's: --include=GLOB, or --exclude=GLOB for !GLOB",
     [](P p, V v) {
         if (!v.empty() && v[0] == '!')
             p.options.excludes.push_back(v.substr(1));
         else
             p.options.includes.push_back(v);
     }},
    {"hidden", 0, nullptr, Takes::kNothing, "accepted as ripgrep's: walks take hidden files anyway", [](P, V) {}},
    {"no-ignore", 0, nullptr, Takes::kNothing, "accepted as ripgrep's: walks read no ignore files anyway",
     [](P, V) {}},
    {"unrestricted", 'u', nullptr, Takes::kNothing, "accepted as ripgrep's: walks hold nothing back anyway (-uu, -uuu too)",
     [](P, V) {}},
    {"dereference-recursive", 'R', nullptr, Takes::kNothing, "also follow links met inside a walk",
     [](P p, V) {
         p.recursive = true;
         p.options.followLinks = true;
     }},
    {"include", 0, "GLOB", Takes::kValue,
     "take only files of a walk whose base name matches GLOB (replaces the\n"
     "default set; may be given more than once)",
     [](P p, V v) { p.options.includes.push_back(v); }},
    {"exclude", 0, "GLOB", Takes::kValue, "skip files whose base name matches GLOB",
     [](P p, V v) { p.options.excludes.push_back(v); }},
    {"exclude-dir", 0, "GLOB", Takes::kValue,
     "skip directories of a walk whose base name matches GLOB, and those named\n"
     "whose name ends in a match (as grep 3.8)",
     [](P p, V v) { p.options.excludeDirs.push_back(v); }},
    {"all-files", 0, nullptr, Takes::kNothing, "take every file of a walk, not only the default set",
     [](P p, V) { p.options.allFiles = true; }},
    {"files0-from", 0, "FILE", Takes::kValue,
     "more INPUTs, their names read from FILE (- for standard input), each\n"
     "ended by a 0 byte",
     [](P p, V v) { SetFileName(p.options.files0From, p, v); }},
    {"list-inputs", 0, nullptr, Takes::kNothing,
     "print the names of the inputs (and of directories that cannot be\n"
     "read, where they are met), each ended by a 0 byte, and search nothing",
     [](P p, V) { p.options.listInputs = true; }},
    {"threads", 'j', "N", Takes::kValue,
     "search N inputs at once, and a regular file of 8 MiB or more in up to N\n"
     "parts at once (0, the default: the number of cores; at most 1024; 1: one\n"
     "input after the other; -q always takes one); the output is the same\n"
     "whatever N",
     [](P p, V v) {
         char* end = nullptr;
         long n = std::strtol(v.c_str(), &end, 10);
         if (v.empty() || *end != '\0' || n < 0 || n > kMaxThreads) {
             p.error = "-j/--threads takes a number from 0 (the number of cores) to " +
                       std::to_string(kMaxThreads) + ", not '" + v + "'";
             return;
         }
         p.options.threads = static_cast<int>(n);
     }},
    {"status", 0, "LIST", Takes::kValue,
     "search only the web archives' HTTP responses whose status is in LIST,\n"
     "a comma-separated list of statuses and ranges (as 200-299,304); the\n"
     "others are passed over and counted by --stats (default: every response:\n"
     "an error page's links are on the page a browser shows)",
     SetStatuses},
    {"decoder-memory", 0, "SIZE", Takes::kValue,
     "with -z, and for compressed bodies in web archives: the most memory\n"
     "one stream's decoder may take (default 128M: zstd's default window,\n"
     "twice what xz -9 needs; K, M, G as powers of 1024; 1M to 1T); a stream\n"
     "that needs more is not searched, and said with what it needs",
     [](P p, V v) {
         SetSize(p.options.decoderMemory, p, v, "--decoder-memory", 20, 40, "1M to 1T (K, M, G or T");
     }},
    {nullptr, 0, nullptr, Takes::kNothing, "Messages and exit status:", nullptr},
    {"quiet", 'q', nullptr, Takes::kNothing, "print nothing; exit 0 at the first record (also --silent)",
     [](P p, V) { p.options.quiet = true; }},
    {"silent", 'q', nullptr, Takes::kNothing, nullptr, [](P p, V) { p.options.quiet = true; }},
    {"no-messages", 's', nullptr, Takes::kNothing, "no diagnostics about inputs that cannot be read",
     [](P p, V) { p.options.noMessages = true; }},
    {"no-progress", 0, nullptr, Takes::kNothing, "no progress line", [](P p, V) { p.options.noProgress = true; }},
    {"stats", 0, "json", Takes::kOrExactly,
     "print a summary on standard error at the end; --stats=json prints it as\n"
     "one JSON object on one line: inputs_searched, inputs_failed, bytes,\n"
     "records_written, archives_searched and records_searched (when web\n"
     "archives were read), excluded_by_keyword (a list of {slot, keyword, count}\n"
     "for the keywords given), dropped_too_long, dropped_unfinished,\n"
     "records_passed_over (a list of {type, count}: web archives' records not\n"
     "searched, by WARC-Type, or with --html by media type), links_passed_over\n"
     "(with --html: a list of {kind, count}: links that gave no record, by\n"
     "scheme), statuses_passed_over (with --status: a list of {status, count}:\n"
     "responses not searched), https_passed_over (without --https, when some\n"
     "were), elapsed_seconds",
     SetStats},
    // --stat, as it was taken before --status came.
    {"stat", 0, "json", Takes::kOrExactly, nullptr, SetStats},
    {"messages", 0, nullptr, Takes::kNothing, "also show the module's own messages (Japanese)",
     [](P p, V) { p.options.messages = true; }},
    {nullptr, 0, nullptr, Takes::kNothing, "The legacy call:", nullptr},
    {"out-txt", 0, nullptr, Takes::kNothing,
     "as a legacy host program calls the module: one INPUT, records with\n"
     "CR LF in OUT.TXT in the current directory (and printed), the module's\n"
     "messages; exit status 1 when it returned -1 or a record could not be\n"
     "written",
     [](P p, V) { p.options.outTxt = true; }},
    {"keyword-line", 0, "LINE", Takes::kValue,
     "with --out-txt: hand LINE to the module as it is (it splits it at\n"
     "spaces into six slots and reads at most " NUMBER(TALVERON_KEYWORD_LINE_MAX) " bytes of it)",
     [](P p, V v) {
         p.options.keywordLine = v;
         p.options.haveKeywordLine = true;
     }},
    {nullptr, 0, nullptr, Takes::kNothing, "Other:", nullptr},
    {"help", 0, nullptr, Takes::kNothing, "show this help", [](P p, V) { p.help = true; }},
    {"version", 0, nullptr, Takes::kNothing, "show the module's version", [](P p, V) { p.version = true; }},
};

// getopt_long's number of a row: its letter, else one above every letter.
int IdOf(const OptionRow& row) { return row.letter ? row.letter : 256 + static_cast<int>(&row - kOptions); }

const OptionRow* RowOf(int id) {
    for (const OptionRow& row : kOptions)
        if (row.name && IdOf(row) == id) return &row;
    return nullptr;
}

// grep's options that have no meaning here, and why.
const struct {
    char letter;
    const char* why;
} kGrepOnly[] = {
    {'e', "talveron has no patterns"}, {'f', "talveron has no patterns"},
    {'v', "talveron has no patterns"}, {'w', "talveron has no patterns"},  {'E', "talveron has no patterns"},
    {'F', "talveron has no patterns"}, {'G', "talveron has no patterns"},  {'P', "talveron has no patterns"},
    {'n', "records have no line numbers"}, {'b', "records have no byte offsets (see --rejected)"},
    {'A', "records have no context"},  {'B', "records have no context"},   {'C', "records have no context"},
    {'m', "talveron has no match limit"},
};

// ripgrep's options that have no meaning here, and why.
const struct {
    char letter;
    const char* name;
    const char* why;
} kRipgrepOnly[] = {
    {'t', "type", "talveron reads pages and web archives: choose files with -g or --include"},
    {'T', "type-not", "talveron reads pages and web archives: leave files out with -g '!GLOB' or --exclude"},
    {'S', "smart-case", "anchors are matched in any case anyway"},
    {'M', "max-columns", "records are whole addresses"},
    {'p', "pretty", "records are plain lines"},
};

// The message of what getopt_long refused: `id` is ':' for a missing value,
// '?' for an unknown, ambiguous or misused option (optopt names it when it
// is known); `refused`: a value that is not the one a kOrExactly row takes
// (its NAME alone takes no value; NAME=VALUE is a spelling of its own).
std::string UsageErrorOf(int id, bool refused, int argc, char** argv) {
    // The argument being read when getopt stopped on it.
    std::string arg = optind > 0 && optind <= argc ? argv[optind - 1] : "";
    bool isLong = arg.rfind("--", 0) == 0;
    std::string typed = arg.substr(0, arg.find('='));  // as typed, perhaps abbreviated
    if (id == ':') {
        const OptionRow* row = RowOf(optopt);
        return "option '" + (isLong ? typed : row ? std::string("-") + row->letter : "?") + "' needs a value";
    }
    if (refused || (isLong && optopt && arg.find('=') != std::string::npos)) return "option '" + typed + "' takes no value";
    if (isLong) {
        std::string name = typed.substr(2);
        int matches = 0;
        for (const OptionRow& row : kOptions) matches += row.name && std::strncmp(row.name, name.c_str(), name.size()) == 0;
        std::string message = std::string(matches > 1 ? "ambiguous option '" : "unknown option '") + "--" + name + "'";
        for (const auto& rg : kRipgrepOnly)
            if (name == rg.name) message += std::string(" (ripgrep's, but ") + rg.why + ")";
        return message;
    }
    std::string message = std::string("unknown option '-") + static_cast<char>(optopt) + "'";
    for (const auto& grep : kGrepOnly)
        if (grep.letter == optopt) message += std::string(" (grep's, but ") + grep.why + ")";
    for (const auto& rg : kRipgrepOnly)
        if (rg.letter == optopt) message += std::string(" (ripgrep's, but ") + rg.why + ")";
    return message;
}

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
    "A web archive (first line WARC/0.18, 1.0, 1.1 or 1.2; -z: also compressed) is\n"
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
        std::string head = row.letter ? std::string("  -") + row.letter + ", " : "      ";
        head += std::string("--") + row.name;
        if (row.takes == Takes::kValue) head += std::string("=") + row.value;
        if (row.takes == Takes::kOrExactly) head += std::string(", --") + row.name + "=" + row.value;
        if (row.takes == Takes::kOptional) head += std::string("[=") + row.value + "]";
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
        int has = row.takes == Takes::kValue ? required_argument : row.takes == Takes::kNothing ? no_argument : optional_argument;
        longs.push_back({row.name, has, nullptr, IdOf(row)});
        if (row.letter && letters.find(row.letter) == std::string::npos)
            letters += row.letter + std::string(row.takes == Takes::kValue ? ":" : "");
    }
    longs.push_back({nullptr, 0, nullptr, 0});

    Parsing parsing(options);
    optind = 0;  // a fresh start of getopt (it keeps state between calls)
    opterr = 0;
    for (int id; (id = getopt_long(argc, argv, letters.c_str(), longs.data(), nullptr)) != -1;) {
        const OptionRow* row = RowOf(id);
        bool refused = row && row->takes == Takes::kOrExactly && optarg && optarg != std::string(row->value);
        if (!row || refused) {
            error = UsageErrorOf(id, refused, argc, argv);
            return Command::kUsageError;
        }
        parsing.valued = optarg != nullptr;
        row->set(parsing, optarg ? optarg : "");
        if (!parsing.error.empty()) {
            error = parsing.error;
            return Command::kUsageError;
        }
    }
    for (int i = optind; i < argc; ++i) options.inputs.push_back(argv[i]);
    if (parsing.help) return Command::kHelp;
    if (parsing.version) return Command::kVersion;
    if (parsing.emptyFileName) {
        error = "an empty file name for --output, --rejected or --files0-from";
        return Command::kUsageError;
    }
    if (!ValidateOptions(options, error)) return Command::kUsageError;
    if (options.output == "-") options.output.clear();
    if (options.inputs.empty() && options.files0From.empty()) {
        options.currentDirectoryImplied = stdinIsTerminal || parsing.recursive;
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
    if (options.tsv && (options.listing == Listing::kFilesWithMatches || options.listing == Listing::kFilesWithoutMatch)) {
        error = "--tsv prints records: it does not go with -l or -L, which print names";
        return false;
    }
    if (options.tsv && (options.withFilename == 0 || options.nullAfterName)) {
        error = "--tsv names every record's input: it does not go with -h or -Z";
        return false;
    }
    if (options.json && options.tsv) {
        error = "--json and --tsv are two forms of the records: choose one";
        return false;
    }
    if (options.json && (options.listing == Listing::kFilesWithMatches || options.listing == Listing::kFilesWithoutMatch)) {
        error = "--json prints records: it does not go with -l or -L, which print names";
        return false;
    }
    if (options.json && (options.withFilename == 0 || options.nullAfterName)) {
        error = "--json names every record's page: it does not go with -h or -Z";
        return false;
    }
    if (options.links && !options.html) {
        error = "--links goes with --html (the module's rules take <a href=\"http:// anchors only)";
        return false;
    }
    if (options.addressMax && !options.html) {
        error = "--max-address goes with --html";
        return false;
    }
    if (options.haveBase && !options.html) {
        error = "--base goes with --html";
        return false;
    }
    if (options.haveBase) {
        std::string href = WebAddress(options.base);
        if (href.empty()) {
            error = "--base takes an http or https URL, not '" + options.base + "'";
            return false;
        }
        // A folder's address: without its query and fragment, its path ended by '/'.
        href.resize(std::min(href.find_first_of("?#"), href.size()));
        if (href.back() != '/') href += '/';
        options.baseFolder = href;
    }
    if (options.html && options.https) {
        error = "--https is the module's rule; --html takes http and https links anyway";
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
            options.tsv || options.html || options.ignoreCase || options.json || options.unique ||
            options.noFragment || options.links || !options.statuses.empty() ||
            !options.includes.empty() || !options.excludes.empty() || options.nullAfterName) {
            error = "--out-txt writes OUT.TXT only: it goes with -x, --keyword-line and --messages alone";
            return false;
        }
    }
    return true;
}
