#include "output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "messages.h"

Output::~Output() {
    if (!finished_) Finish(false);
    StopWriting();
}

void Output::Write() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || !full_.empty(); });
        if (full_.empty()) return;  // stopped, all written
        Buffer buffer = std::move(full_.front());
        full_.pop_front();
        ++writing_;
        lock.unlock();
        WriteOut(buffer.bytes.get(), buffer.used);
        lock.lock();
        --writing_;
        empty_.push_back(std::move(buffer));
        changed_.notify_all();
    }
}

void Output::StopWriting() {
    if (!writer_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }
    writer_.join();
}

bool Output::Open(const std::string& file, bool countRecords, Destination& where) {
    countRecords_ = countRecords;
    name_ = file;
    for (std::size_t i = 0; i < kBuffers; ++i) empty_.push_back({std::unique_ptr<char[]>(new char[kBufferSize]), 0});
    current_ = std::move(empty_.back());
    empty_.pop_back();
    buffer_ = current_.bytes.get();
    writer_ = std::thread(&Output::Write, this);
    if (file.empty()) {
        fd_ = 1;
        struct stat st;
        if (::fstat(1, &st) == 0) where.Take(st);
        return true;
    }
    fd_ = file_.Open(file, where);
    if (fd_ == -1) {
        Diagnose(ShownName(file), errno);
        return false;
    }
    return true;
}

void Output::Fail(int error) {
    if (failed_.exchange(true)) return;
    Diagnose(name_.empty() ? "write error" : ShownName(name_), error);
}

void Output::WriteOut(const char* bytes, std::size_t length) {
    std::size_t done = 0;
    while (done < length && !failed_) {
        ssize_t n = ::write(fd_, bytes + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Fail(n < 0 ? errno : EIO);
            break;
        }
        done += static_cast<std::size_t>(n);
    }
}

void Output::Flush() {
    if (used_ == 0) return;
    current_.used = used_;
    std::unique_lock<std::mutex> lock(mutex_);
    full_.push_back(std::move(current_));
    changed_.notify_all();
    changed_.wait(lock, [&] { return !empty_.empty(); });
    current_ = std::move(empty_.back());
    empty_.pop_back();
    buffer_ = current_.bytes.get();
    used_ = 0;
}

void Output::Sync() {
    if (!writer_.joinable() || std::this_thread::get_id() == writer_.get_id()) return;
    Flush();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return full_.empty() && writing_ == 0; });
}

void Output::Put(const char* bytes, std::size_t length) {
    while (length > 0) {
        if (used_ == kBufferSize) Flush();
        std::size_t n = length < kBufferSize - used_ ? length : kBufferSize - used_;
        std::memcpy(buffer_ + used_, bytes, n);
        used_ += n;
        bytes += n;
        length -= n;
    }
}

bool Output::Records(const char* bytes, std::size_t length, const std::string& prefix, std::size_t skip) {
    if (failed_) return false;
    const char* end = bytes + length;
    if (prefix.empty()) {
        if (countRecords_)
            for (const char* p = bytes; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))); ++p) ++records_;
        Put(bytes, length);
    } else {
        // Record by record, each after the prefix.
        while (bytes < end) {
            const char* lf = static_cast<const char*>(std::memchr(bytes, '\n', end - bytes));
            if (!lf) break;
            std::size_t whole = static_cast<std::size_t>(lf + 1 - bytes);
            std::size_t cut = skip < whole ? skip : 0;
            const char* from = bytes + cut;
            std::size_t record = whole - cut;
            if (prefix.size() + record <= kBufferSize - used_) {
                std::memcpy(buffer_ + used_, prefix.data(), prefix.size());
                std::memcpy(buffer_ + used_ + prefix.size(), from, record);
                used_ += prefix.size() + record;
            } else {
                Put(prefix.data(), prefix.size());
                Put(from, record);
            }
            ++records_;
            bytes = lf + 1;
        }
    }
    if (used_ >= kBufferSize / 2) Flush();
    return !failed_;
}

bool Output::Finish(bool commit) {
    if (finished_) return !failed_;
    finished_ = true;
    Flush();
    StopWriting();
    if (name_.empty()) return !failed_;
    if (commit && !failed_) {
        if (!file_.Commit()) Fail(errno);
    } else {
        file_.Discard();
    }
    return !failed_;
}
