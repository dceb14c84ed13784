// A run's failures: each is said, counted and marked in one call, so that
// the exit status cannot drift from what was said.
#ifndef TALVERON_HOST_TROUBLE_H
#define TALVERON_HOST_TROUBLE_H

#include <atomic>
#include <string>

#include "progress.h"

class Trouble {
public:
    explicit Trouble(RunCounts& counts) : counts_(counts) {}

    // An input that could not be searched whole: "talveron: SAID", counted
    // among the inputs failed.
    void InputFailed(const std::string& said);
    // An input that could not be opened or read: "talveron: NAME: reason"
    // (hidden by -s), counted among the inputs failed.
    void InputUnreadable(const std::string& name, int error);
    // An input whose failures were said as they came (an archive's broken
    // records): counted among the inputs failed.
    void InputFailedAsSaid();
    // A failure of the run itself (a list of names that cannot be read, a
    // walk that found nothing, a write): said, not counted as an input.
    void RunFailed(const std::string& said);
    void RunFailed(const std::string& what, int error);
    // What the run could not have (memory, a thread) outside the search of
    // one input: it ended there. Said taking no memory, and counted as an
    // input not searched, so that --all-or-nothing leaves its files.
    void RunExhausted(const char* what);
    // A failure that its own code has said (a write that failed).
    void RunFailedAsSaid() { seen_ = true; }

    // Whether anything went wrong: the run then exits 2.
    bool Seen() const { return seen_; }

private:
    RunCounts& counts_;
    std::atomic<bool> seen_{false};
};

#endif
