// One input's search, and what it tells in its turn: the input is read by
// the library as it is (a page, a compressed page, a web archive whose
// records are inputs of their own), or a large page in parts; its reports
// go to the run's printers at once when its turn has come, else are kept
// until it comes.
#ifndef TALVERON_HOST_INPUT_SEARCH_H
#define TALVERON_HOST_INPUT_SEARCH_H

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "inputs.h"
#include "jobs.h"
#include "options.h"
#include "output.h"
#include "printers.h"
#include "progress.h"
#include "replaced_file.h"
#include "talveron.h"
#include "trouble.h"

// What the searches of a run write to and count.
struct RunState {
    const Options* options;
    Output* output;
    Printer* printer;
    RejectedPrinter* rejected;
    RunCounts* counts;
    Trouble* trouble;
    Progress* progress;
    InputOpener* opener;
    const Destination* where;    // the files the run writes
    bool withName = false;       // records and counts after the input's name
    bool rejectedThrough = false;  // --rejected goes through the records' stream
    // Told when the inputs' turns have come (read from any thread).
    std::atomic<bool> found{false};
    long long attempted = 0;      // inputs searched or failed
    bool inputIsOutput = false;   // an input was a file the run writes
    std::vector<FileIdentity> inputsWritten;  // which (device and inode)
};

// What becomes of an input opened.
enum class Verdict {
    kSearch,
    kPassOver,  // no longer a page, or the run's own temporary file
    kFail,      // cannot be searched: said in its turn
    kIsOutput,  // a file the run writes
};

// One input, or one record of an archive, and what its search told.
struct InputSearch {
    RunState* run = nullptr;
    InputOpener::Opened opened;
    InputNames names;
    InputTold told;
    // Of its parts, in their turns: where the next part begins, and the
    // outcome so far.
    long long next = 0;
    talveron_result outcome = {TALVERON_COMPLETED, 0, 0, 0, 0};
    long long bytes = 0;
    // An input opened by the thread that searches it: what it was judged.
    Verdict verdict = Verdict::kSearch;
    std::string diagnostic;
    // What was wrong with its bytes (a corrupt compressed stream, a broken
    // HTTP body): said in its turn.
    std::string problem;
    // A web archive: its records are the inputs, told one by one; what is
    // left for the archive itself is the count of records that broke the
    // rules, and what went wrong with the file.
    bool archive = false;
    int malformed = 0;
    bool record = false;  // a record of an archive
};

// One job's share of an input: the whole input, or a range of a regular file.
struct Part {
    std::shared_ptr<InputSearch> input;
    std::shared_ptr<InputSearch> entry;  // being searched: the input, or a record of it
    long long start = 0, end = -1;       // end -1: the whole input, as it stands
    Jobs::Reporter* reporter = nullptr;  // null: delivers at once
    talveron_result result = {TALVERON_COMPLETED, 0, 0, 0, 0};
    long long httpsPassedOver = 0;  // of the records of an archive searched whole
};

// What keeping an input's end until its turn costs, in bytes: the report
// and the search it holds, names and all (a record's name may be long).
std::size_t KeptCost(const InputSearch& search);

// An input's name as the run names it: --label for standard input.
const std::string& NameOf(const Input& input, const Options& options);

// A new input's search, named as the run names it.
std::shared_ptr<InputSearch> BeginInput(RunState& run, InputOpener::Opened opened);
// Searches the part: the input whole as the library reads it, or a range.
void SearchPart(Part& part);
// The input's end, in its turn: its descriptor handed back, its count or
// name told, its failure said.
void FinishInput(InputSearch& search);

#endif
