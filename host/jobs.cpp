#include "jobs.h"

#include <atomic>

struct Jobs::Job {
    Steps steps;
    std::vector<std::function<void()>> kept;
    std::size_t keptBytes = 0;
    std::atomic<bool> first{false};  // its turn has come
    bool dropping = false;           // what it reports is dropped
    bool done = false;               // its work has ended
};

namespace {
// Jobs queued per thread beyond those running: enough to keep every thread
// busy, few enough to hold few descriptors open.
constexpr std::size_t kQueuedPerThread = 4;
}  // namespace

bool Jobs::Reporter::Direct() const { return job_.first.load(std::memory_order_acquire); }
bool Jobs::Reporter::Dropping() const { return job_.dropping; }

void Jobs::Reporter::Keep(std::function<void()> deliver, std::size_t bytes) {
    std::unique_lock<std::mutex> lock(jobs_.mutex_);
    // Within the budget, unless nothing at all is kept (one report larger
    // than the budget must still move on).
    jobs_.changed_.wait(lock, [&] {
        return job_.first.load(std::memory_order_relaxed) || jobs_.kept_ + bytes <= jobs_.budget_ || jobs_.kept_ == 0;
    });
    if (job_.first.load(std::memory_order_relaxed)) {
        if (!job_.dropping) deliver();
        return;
    }
    job_.kept.push_back(std::move(deliver));
    job_.keptBytes += bytes;
    jobs_.kept_ += bytes;
}

Jobs::Jobs(int threads, std::size_t budget) : threads_(threads < 1 ? 1 : threads), budget_(budget) {
    if (threads_ > 1)
        for (int i = 0; i < threads_; ++i) workers_.emplace_back([this] { Work(); });
}

Jobs::~Jobs() {
    Wait();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void Jobs::Add(Steps steps) {
    auto job = std::make_shared<Job>();
    job->steps = std::move(steps);
    if (threads_ == 1) {
        job->dropping = job->steps.admit && !job->steps.admit();
        job->first = true;
        Reporter reporter(*this, *job);
        if (job->steps.work) job->steps.work(reporter);
        if (job->steps.finish) job->steps.finish();
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return jobs_.size() < static_cast<std::size_t>(threads_) * (kQueuedPerThread + 1); });
    jobs_.push_back(job);
    if (jobs_.size() == 1) Turn(lock);
    changed_.notify_all();
}

void Jobs::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return jobs_.empty(); });
}

// The first job's turn: what it kept is delivered, then it delivers at once;
// a first job that has ended is finished, and the next one's turn comes.
void Jobs::Turn(std::unique_lock<std::mutex>&) {
    while (!jobs_.empty()) {
        Job& job = *jobs_.front();
        if (!job.first.load(std::memory_order_relaxed)) {
            job.dropping = job.steps.admit && !job.steps.admit();
            for (auto& deliver : job.kept)
                if (!job.dropping) deliver();
            job.kept.clear();
            kept_ -= job.keptBytes;
            job.keptBytes = 0;
            job.first.store(true, std::memory_order_release);
            changed_.notify_all();
        }
        if (!job.done) return;
        if (job.steps.finish) job.steps.finish();
        jobs_.pop_front();
        --started_;
        changed_.notify_all();
    }
}

void Jobs::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || started_ < jobs_.size(); });
        if (started_ >= jobs_.size()) return;  // stopped
        std::shared_ptr<Job> job = jobs_[started_++];
        lock.unlock();
        Reporter reporter(*this, *job);
        if (job->steps.work) job->steps.work(reporter);
        lock.lock();
        job->done = true;
        if (job.get() == jobs_.front().get()) Turn(lock);
    }
}
