// The inputs of a run: the files named, the pages of the directories named
// (walked depth first, each directory's entries in byte order of their
// names), and standard input for "-".
#ifndef TALVERON_HOST_INPUTS_H
#define TALVERON_HOST_INPUTS_H

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Which files a walk takes, by base name, as grep's --include, --exclude
// and --exclude-dir: a file is taken when no --exclude matches it and an
// --include does (or, without one, when it is in the default set of page
// names: *.htm, *.html, *.xhtml, *.xht, *.shtml and web archives' *.warc in
// any case, with -z also
// followed by .gz, .zst, .bz2 or .xz; or every file
// with --all-files). Files named on the command line are held to --include
// and --exclude, never to the default set; directories named, to
// --exclude-dir.
struct WalkFilter {
    std::vector<std::string> includes, excludes, excludeDirs;
    bool allFiles = false;
    bool followLinks = false;  // -R: links met inside a walk are followed
    bool compressedToo = false;  // -z: the page kinds with .gz, .zst, .bz2 or .xz after them

    bool FileWanted(const std::string& base) const;
    bool OperandWanted(const std::string& base) const;
    bool DirectoryWanted(const std::string& base) const;
    // A directory named (not the current one implied by no INPUT), as
    // grep's --exclude-dir: by any suffix of its name that begins after a
    // '/' (its base name, "b/c" of "a/b/c", the whole name).
    bool NamedDirectoryWanted(const std::string& path) const;
    bool InDefaultSet(const std::string& base) const;
};

// What the walks left out, to say why a run searched nothing.
struct WalkTally {
    long long notInSet = 0;      // files outside --include or the default set
    long long compressed = 0;    // of them, in the default set with -z (page.html.gz)
    long long excluded = 0;      // files matched by --exclude
    long long excludedDirs = 0;  // directories matched by --exclude-dir
    long long links = 0;         // links not followed
    long long others = 0;        // devices, pipes, sockets
};

struct Input {
    std::string path;  // as named, or reached in a walk; "-" for standard input
    std::string name;  // what -H and diagnostics show
    bool standardInput = false;
    unsigned long long inode = 0;  // when a walk knows it (readdir's d_ino), else 0
    // From a walk: its directory, open while the walk is in it or an input
    // of it is held (`held`), and its name there, for openat.
    int directory = -1;
    std::string leaf;
    bool inWalk = false;  // found by a walk (else named)
    std::string refusal;  // not to be searched, and why (a usage error)
    std::shared_ptr<DIR> held;
    // From a walk: where its path below the directory named begins.
    std::size_t below = 0;
};

// Walks the inputs one at a time, keeping only the directories on the way
// to the current one (and their sorted entries) in memory, whatever the
// number of inputs. Inside a walk only regular files count, of the names
// that WalkFilter takes; links met there are not followed (as grep -r
// does, unless -R), so a link loop ends nothing.
class InputWalker {
public:
    // `report(path, errno)` is told of a directory that cannot be read; the
    // walk goes on.
    // After the operands, the names read from `namesFile` (each ended by a 0
    // byte), when it is not null.
    using Report = std::function<void(const std::string& path, int error)>;
    // `namesFromStandardInput`: the names come from standard input, where
    // "-" cannot name it again.
    InputWalker(const std::vector<std::string>& operands, const WalkFilter& filter, Report report,
                std::FILE* namesFile = nullptr, bool namesFromStandardInput = false);
    void SetReport(Report report) { report_ = std::move(report); }
    ~InputWalker();
    InputWalker(const InputWalker&) = delete;
    InputWalker& operator=(const InputWalker&) = delete;

    // The next input; false when there are no more.
    bool Next(Input& input);
    // True when an operand was a directory (grep then shows names).
    bool WalksDirectories() const { return walksDirectories_; }
    // What the walks left out so far.
    const WalkTally& Tally() const { return tally_; }
    // errno of a failed read of the names file, else 0.
    int NamesError() const { return namesError_; }
    // The operand "." is named bare: its files as "a.html", not "./a.html".
    void NameCurrentDirectoryBare() { bareCurrentDirectory_ = true; }
    // A directory whose read fails part way is reported and none of its
    // entries taken: a listing names the directory itself, and the search of
    // the list walks it again (and tells the failure there).
    void TakeWholeDirectoriesOnly() { wholeDirectoriesOnly_ = true; }

private:
    struct Entry {
        std::string name;
        unsigned char type;  // readdir's d_type (DT_UNKNOWN: ask lstat; DT_LNK with -R)
        unsigned long long inode;
        bool operator<(const Entry& other) const { return name < other.name; }
    };
    struct Level {
        std::string path;            // the directory, ending in '/'
        std::shared_ptr<DIR> dir;    // open while it is walked, and its inputs held
        std::vector<Entry> entries;  // those that may be inputs or lead to some, sorted
        std::size_t next = 0;
        dev_t dev = 0;  // for -R: a link back to a directory above is a loop
        ino_t ino = 0;
    };
    void Leave();  // the deepest directory
    void LeftOut(const char* base);  // a file the filter did not take, tallied
    bool Descend(const std::string& directory);

    bool NextOperand(std::string& operand);

    std::vector<std::string> operands_;
    std::size_t nextOperand_ = 0;
    std::FILE* namesFile_;
    char* name_ = nullptr;  // getdelim's buffer
    std::size_t nameSize_ = 0;
    std::vector<Level> levels_;
    WalkFilter filter_;
    bool namesFromStandardInput_;
    bool walksDirectories_ = false;
    int namesError_ = 0;
    bool fromList_ = false;              // the last operand was read from the names file
    bool bareCurrentDirectory_ = false;  // "." names its files bare
    bool wholeDirectoriesOnly_ = false;
    WalkTally tally_;
    Report report_;
};

// The inputs of a walk, opened in order. With `ahead`, a thread of its own
// walks and opens up to a few dozen files ahead of the search (and closes
// those searched), so that finding, opening and closing files overlaps the
// search and its reads; without, each is opened when it is asked for.
// (Reading ahead there as well was measured slower: the thread then has the
// larger share of the work, and the search waits for it.)
class InputOpener {
public:
    struct Opened {
        Input input;
        int fd = -1;    // -1 when it could not be opened
        int error = 0;  // errno of the open, or of a directory of the walk
        bool skipped = false;  // a file of a walk that is no longer a regular file there
        struct stat st {};     // of the open file
        bool unopened = false;  // left for OpenNow
    };
    // `ahead`: a thread of its own opens the inputs ahead of the search.
    // `leaveWalks`: the files of a walk are left for OpenNow, on the
    // searching threads (which then open at once).
    InputOpener(InputWalker& walker, bool ahead, bool followLinks, bool leaveWalks = false);
    ~InputOpener();
    InputOpener(const InputOpener&) = delete;
    InputOpener& operator=(const InputOpener&) = delete;

    // The next input or error, in the walk's order; false at the end.
    bool Next(Opened& opened);
    // Hands back what Next gave: its descriptor is closed (not standard
    // input's). Any thread may.
    void Done(Opened& opened);
    // Opens and checks an input that Next left unopened (Opened() below);
    // any thread may.
    void OpenNow(Opened& opened) const;
    // True when Next left `opened` for OpenNow.
    static bool Unopened(const Opened& opened) { return opened.unopened; }

private:
    struct Shared;
    static void Open(Opened& opened, bool followLinks);
    static bool MayWaitToOpen(const Input& input);
    static void Check(Opened& opened);
    void OpenAhead();
    static void Run(Shared* shared, InputWalker* walker, bool followLinks);
    InputWalker& walker_;
    bool followLinks_;
    bool leaveWalks_;
    std::unique_ptr<Shared> shared_;  // with a thread of its own
    std::deque<Opened> pending_;      // without: the walk's errors, then the next input
    bool walked_ = false;
};

// How many inputs the operands give (a walk of their directories, without
// reports), for the progress line.
long long CountInputs(const std::vector<std::string>& operands, const WalkFilter& filter);

#endif
