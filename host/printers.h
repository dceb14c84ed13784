// What a run prints of its inputs, chosen once from the options: the
// records themselves (after the input's name with -H, as NAME<TAB>ADDRESS
// with --tsv, as JSON objects named by their page with --json), a count per input (-c), the names of inputs with or without
// a record (-l, -L), or nothing (-q); and beside them, the addresses that
// became no record (--rejected, and the counts of --stats).
#ifndef TALVERON_HOST_PRINTERS_H
#define TALVERON_HOST_PRINTERS_H

#include <cstddef>
#include <memory>
#include <string>

#include "options.h"
#include "output.h"
#include "progress.h"
#include "rejected.h"

// How an input goes by: as named (or --label), as diagnostics show it,
// as -l, -L and -c list it, and in front of its records.
struct InputNames {
    std::string name;
    std::string shown;
    std::string sayAs;     // in front of its diagnostics (a record's: behind its archive's name)
    std::string listed;
    std::string prefix;    // "NAME:" with -H, "NAME<TAB>" with --tsv, {"page":NAME, with --json
    std::size_t skip = 0;  // bytes of each record left out behind the prefix (--json: its '{')
    bool named = false;    // its count comes after its name
};

// What the printers learn of an input, in its turn.
struct InputTold {
    long long records = 0;  // records told (1 for "some" where one tells all)
    bool completed = false; // searched to its end
    bool standardInput = false;
};

class Printer {
public:
    virtual ~Printer() = default;
    // The names of an input called `name`; `withName`: -H or several inputs.
    InputNames Names(const std::string& name, bool withName) const;
    // Records of an input, in its turn. False stops its search: one record
    // told all there is to tell, or the output failed.
    virtual bool Records(InputTold& input, const InputNames& names, const char* bytes, std::size_t length) = 0;
    // The input's end, in its turn: its count or its name.
    virtual void End(const InputTold& input, const InputNames& names) { (void)input, (void)names; }
    // Whether one record of an input tells all (-l, -L, -q): its search
    // then stops there, and it is never cut into parts.
    virtual bool OneRecordTellsAll() const { return false; }

    Printer(const Options& options, Output& output, RunCounts& counts)
        : options_(options), output_(output), counts_(counts) {}

protected:
    const Options& options_;
    Output& output_;
    RunCounts& counts_;
};

std::unique_ptr<Printer> MakePrinter(const Options& options, Output& output, RunCounts& counts);

// --rejected and the counts of --stats: each address that became no record.
class RejectedPrinter {
public:
    RejectedPrinter(const Options& options, RejectedFile& file, RunCounts& counts)
        : options_(options), file_(file), counts_(counts) {}
    // Whether the searches need to tell them at all.
    // (Pages read by the HTML standard say the links cut for their length.)
    bool Wanted() const { return Counted() || options_.html; }
    // Whether each is written or counted.
    bool Counted() const { return file_.IsOpen() || options_.stats; }
    void Rejected(const InputNames& names, int reason, int keyword, long long offset, const char* address,
                  std::size_t length);
    // At the end of each input: its lines written out.
    void Flush() { file_.Flush(); }

private:
    const Options& options_;
    RejectedFile& file_;
    RunCounts& counts_;
};

#endif
