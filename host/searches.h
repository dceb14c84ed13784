// The searches of a run: each input opened is searched on the run's threads
// (a large regular file in parts at once), and what each tells (records,
// dropped addresses, messages, its count or name, its diagnostics) comes
// out in the order of the inputs, exactly as one search after the other
// gives it.
#ifndef TALVERON_HOST_SEARCHES_H
#define TALVERON_HOST_SEARCHES_H

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>

#include "inputs.h"
#include "jobs.h"
#include "options.h"
#include "output.h"
#include "progress.h"
#include "rejected.h"

// What the searches of a run write to and count.
struct RunState {
    const Options* options;
    Output* output;
    RejectedFile* rejected;
    RunCounts* counts;
    Progress* progress;
    InputOpener* opener;
    bool withName = false;       // records and counts after the input's name
    bool rejectedThrough = false;  // --rejected goes through the records' stream
    // Told when the inputs' turns have come (read from any thread).
    std::atomic<bool> found{false};
    bool trouble = false;
};

// An input to search, or one that is not searched.
struct NextInput {
    InputOpener::Opened opened;
    // Not searched: said in its turn (empty: its error is told).
    bool fails = false;
    std::string diagnostic;
};

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
    void Run(const std::function<bool(NextInput&)>& next);

private:
    void Add(NextInput input);

    RunState& run_;
    Jobs jobs_;
    std::deque<Jobs::Steps> pending_;  // jobs made, not yet taken
};

#endif
