// The searches of a run, scheduled: each input opened is searched on the
// run's threads (a large regular file in parts at once, the small files of
// a walk a few to a thread), and what each tells comes out in the order of
// the inputs, exactly as one search after the other gives it.
#ifndef TALVERON_HOST_SEARCHES_H
#define TALVERON_HOST_SEARCHES_H

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "input_search.h"
#include "inputs.h"
#include "jobs.h"

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

private:
    void Add(InputOpener::Opened opened);
    Verdict Judge(const InputOpener::Opened& opened, std::string& diagnostic) const;
    void Failed(const InputOpener::Opened& opened, Verdict verdict, const std::string& diagnostic);
    int PartsOf(const InputSearch& search);

    // The jobs, one builder each.
    Jobs::Steps WalkedFileJob(std::shared_ptr<Part> part);
    Jobs::Steps FailedInputJob(std::shared_ptr<InputOpener::Opened> opened, Verdict verdict,
                               const std::string& diagnostic);
    Jobs::Steps WholeInputJob(std::shared_ptr<Part> part);
    Jobs::Steps RangeJob(std::shared_ptr<Part> part, bool first, bool last);

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
