// The searches of a run: each input opened is searched on the run's threads
// (a large regular file in parts at once), and what each tells (records,
// dropped addresses, messages, its count or name, its diagnostics) comes
// out in the order of the inputs, exactly as one search after the other
// gives it.
#ifndef TALVERON_HOST_SEARCHES_H
#define TALVERON_HOST_SEARCHES_H

#include <atomic>
#include <cstddef>
#include <memory>
#include <deque>
#include <functional>
#include <string>

#include "inputs.h"
#include "jobs.h"
#include "options.h"
#include "output.h"
#include "progress.h"
#include "rejected.h"
#include "replaced_file.h"

// What the searches of a run write to and count.
struct RunState {
    const Options* options;
    Output* output;
    RejectedFile* rejected;
    RunCounts* counts;
    Progress* progress;
    InputOpener* opener;
    const Destination* where;    // the files the run writes
    bool withName = false;       // records and counts after the input's name
    bool rejectedThrough = false;  // --rejected goes through the records' stream
    // Told when the inputs' turns have come (read from any thread).
    std::atomic<bool> found{false};
    bool trouble = false;
    long long attempted = 0;      // inputs searched or failed
    bool inputIsOutput = false;   // an input was a file the run writes
};

struct InputSearch;

class Searches {
public:
    // Bytes of reports kept for inputs whose turn has not come yet, at most.
    static constexpr std::size_t kKeptBudget = 64u << 20;
    // A regular file is searched in parts when each part has this much.
    static constexpr long long kPartMin = 4ll << 20;

    Searches(RunState& run, int threads) : run_(run), jobs_(threads, kKeptBudget) {}

    // Searches every input that `next` gives (false at the end; called by
    // one thread at a time), and returns when each has had its turn. Each
    // input's descriptor is handed back to the opener when it is done.
    void Run(const std::function<bool(InputOpener::Opened&)>& next);

    // What becomes of an input opened.
    enum class Verdict {
        kSearch,
        kPassOver,  // no longer a page, or the run's own temporary file
        kFail,      // cannot be searched: said in its turn
        kIsOutput,  // a file the run writes
    };

private:
    void Add(InputOpener::Opened opened);
    Verdict Judge(const InputOpener::Opened& opened, std::string& diagnostic) const;
    void Failed(const InputOpener::Opened& opened, Verdict verdict, const std::string& diagnostic);
    std::shared_ptr<InputSearch> Begin(InputOpener::Opened opened);

    // Files of a walk searched by one thread in a row, at most.
    static constexpr std::size_t kBatch = 16;

    RunState& run_;
    Jobs jobs_;
    struct Pending {
        bool batched;  // a file of a walk, which may go with the next ones
        Jobs::Steps steps;
    };
    std::deque<Pending> pending_;  // jobs made, not yet taken
};

#endif
