// Searches run at once on worker threads, their reports told in the order
// the searches were given, as if they had run one after the other.
//
// The workers (the caller's thread among them) take the next job from the
// source as soon as they are free. A job's reports (records, dropped
// addresses, messages) are delivered at once while it is the first job not
// yet finished; the reports of the jobs behind it are kept until it is
// their turn. What is kept stays within a budget of bytes: past it, a job
// that is not first waits, and the first one never does, so the run always
// moves on. Deliveries and each job's finish run one at a time, in order:
// they may write to the run's output without locks of their own. With one
// thread the jobs run on the caller's thread, one after the other, and
// nothing is kept.
#ifndef TALVERON_HOST_JOBS_H
#define TALVERON_HOST_JOBS_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class Jobs {
public:
    struct Job;

    // What a job's work reports through.
    class Reporter {
    public:
        // True once the job is first: from then on its reports are
        // delivered at once by the work itself (no other job delivers
        // meanwhile), unless Dropping().
        bool Direct() const;
        bool Dropping() const;
        // A report to deliver when the job's turn comes (or now, when it has
        // come meanwhile): `bytes` is what keeping it costs.
        void Keep(std::function<void()> deliver, std::size_t bytes);

    private:
        friend class Jobs;
        Reporter(Jobs& jobs, Job& job) : jobs_(jobs), job_(job) {}
        Jobs& jobs_;
        Job& job_;
    };

    struct Steps {
        // On a worker thread.
        std::function<void(Reporter&)> work;
        // When the job's turn comes, before what it kept is delivered: false
        // drops what it kept and will report (its finish then does what it
        // must itself).
        std::function<bool()> admit;
        // After the job's work and its deliveries, in order.
        std::function<void()> finish;
        // What keeping `finish` costs, when a batch keeps it behind the
        // job's own reports.
        std::size_t finishCost = 0;
    };

    // Fills in the next job; false when there are no more. Called by one
    // worker at a time.
    using Source = std::function<bool(Steps&)>;

    // `threads` workers in all; `budget` bytes kept at most.
    Jobs(int threads, std::size_t budget);
    int Threads() const { return threads_; }

    // Runs every job of `source` and returns when all have finished. What
    // a job, its finish or the source throws ends the run: the jobs not
    // finished are let go, and Run throws it when the workers have stopped.
    void Run(const Source& source);

private:
    void Work(const Source& source);
    void WorkOn(const Source& source);
    void Turn();

    int threads_;
    std::size_t budget_;
    std::mutex sourceMutex_;  // one worker at a time takes from the source
    bool sourceEnded_ = false;
    std::mutex mutex_;        // the rest
    std::condition_variable changed_;
    std::size_t kept_ = 0;    // bytes kept by all jobs
    int waiting_ = 0;         // workers waiting on changed_
    std::deque<std::shared_ptr<Job>> jobs_;  // taken and not yet finished, in order
    std::exception_ptr failure_;             // what ended the run early
};

#endif
