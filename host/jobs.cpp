#include "jobs.h"

#include <atomic>
#include <thread>
#include <vector>

struct Jobs::Job {
    Steps steps;
    std::vector<std::function<void()>> kept;
    std::size_t keptBytes = 0;
    std::atomic<bool> first{false};  // its turn has come
    bool dropping = false;           // what it reports is dropped
    bool done = false;               // its work has ended
};

namespace {
// Jobs taken and not yet finished, at most: each holds its names and
// results while it waits for its turn.
constexpr std::size_t kMostTaken = 4096;
}  // namespace

bool Jobs::Reporter::Direct() const { return job_.first.load(std::memory_order_acquire); }
bool Jobs::Reporter::Dropping() const { return job_.dropping; }

void Jobs::Reporter::Keep(std::function<void()> deliver, std::size_t bytes) {
    std::unique_lock<std::mutex> lock(jobs_.mutex_);
    // Within the budget, unless nothing at all is kept (one report larger
    // than the budget must still move on).
    auto room = [&] {
        return job_.first.load(std::memory_order_relaxed) || jobs_.kept_ + bytes <= jobs_.budget_ ||
               jobs_.kept_ == 0 || jobs_.failure_;
    };
    if (!room()) {
        ++jobs_.waiting_;
        jobs_.changed_.wait(lock, room);
        --jobs_.waiting_;
    }
    if (jobs_.failure_) return;  // the run is ending
    if (job_.first.load(std::memory_order_relaxed)) {
        if (!job_.dropping) deliver();
        return;
    }
    job_.kept.push_back(std::move(deliver));
    job_.keptBytes += bytes;
    jobs_.kept_ += bytes;
}

Jobs::Jobs(int threads, std::size_t budget) : threads_(threads < 1 ? 1 : threads), budget_(budget) {}

void Jobs::Run(const Source& source) {
    sourceEnded_ = false;
    failure_ = nullptr;
    std::vector<std::thread> others;
    // A worker that cannot be started is done without: the others take its
    // jobs.
    try {
        others.reserve(static_cast<std::size_t>(threads_));
        for (int i = 1; i < threads_; ++i) others.emplace_back([this, &source] { Work(source); });
    } catch (const std::exception&) {
    }
    Work(source);
    for (std::thread& other : others) other.join();
    if (failure_) std::rethrow_exception(failure_);
}

void Jobs::Work(const Source& source) {
    try {
        WorkOn(source);
    } catch (...) {
        // Something the run needs could not be had (memory, most often):
        // the jobs not finished are let go, and the caller hears of it.
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failure_) failure_ = std::current_exception();
        changed_.notify_all();
    }
}

// The first job's turn: what it kept is delivered, then it delivers at once;
// a first job that has ended is finished, and the next one's turn comes.
// Called with mutex_ held.
void Jobs::Turn() {
    bool changed = false;
    while (!jobs_.empty() && !failure_) {
        Job& job = *jobs_.front();
        if (!job.first.load(std::memory_order_relaxed)) {
            job.dropping = job.steps.admit && !job.steps.admit();
            for (auto& deliver : job.kept)
                if (!job.dropping) deliver();
            job.kept.clear();
            kept_ -= job.keptBytes;
            changed |= job.keptBytes > 0;
            job.keptBytes = 0;
            job.first.store(true, std::memory_order_release);
        }
        if (!job.done) break;
        if (job.steps.finish) job.steps.finish();
        jobs_.pop_front();
        changed = true;
    }
    if (changed && waiting_ > 0) changed_.notify_all();
}

void Jobs::WorkOn(const Source& source) {
    for (;;) {
        auto job = std::make_shared<Job>();
        {
            std::lock_guard<std::mutex> sourceLock(sourceMutex_);
            {
                // Not too many ahead of the first.
                std::unique_lock<std::mutex> lock(mutex_);
                if (jobs_.size() >= kMostTaken) {
                    ++waiting_;
                    changed_.wait(lock, [&] { return jobs_.size() < kMostTaken || failure_; });
                    --waiting_;
                }
                if (failure_) return;
            }
            if (sourceEnded_ || !source(job->steps)) {
                sourceEnded_ = true;
                return;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(job);
            if (jobs_.size() == 1) Turn();
        }
        Reporter reporter(*this, *job);
        if (job->steps.work) job->steps.work(reporter);
        std::lock_guard<std::mutex> lock(mutex_);
        job->done = true;
        if (jobs_.front() == job) Turn();
    }
}
