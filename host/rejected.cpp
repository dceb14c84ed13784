#include "rejected.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "messages.h"
#include "output.h"
#include "talveron.h"

namespace {
constexpr std::size_t kPendingLimit = 64 * 1024;
}

RejectedFile::~RejectedFile() { Close(false); }

bool RejectedFile::Open(const std::string& path, Destination& where) {
    path_ = path;
    fd_ = replaced_.Open(path, where);
    if (fd_ == -1) Diagnose(ShownName(path), errno);
    open_ = fd_ != -1;
    return open_;
}

void RejectedFile::OpenThrough(const std::string& path, Output* output) {
    path_ = path;
    through_ = output;
    open_ = true;
}

bool RejectedFile::WriteOut() {
    if (pending_.empty() || failed_) {
        pending_.clear();
        return !failed_;
    }
    if (through_) {
        failed_ = !through_->Lines(pending_.data(), pending_.size());
        pending_.clear();
        return !failed_;
    }
    if (fd_ == 2) EraseStatus();
    std::size_t done = 0;
    while (done < pending_.size()) {
        ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            Diagnose(ShownName(path_), n < 0 ? errno : EIO);
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    pending_.clear();
    return !failed_;
}

void RejectedFile::Add(const std::string& input, int reason, int keyword, long long offset, const char* address,
                       std::size_t length, const std::vector<std::string>& keywords, std::size_t tooLong) {
    if (!open_ || failed_) return;
    pending_ += input;
    pending_ += ":" + std::to_string(offset) + ": ";
    if (reason == TALVERON_EXCLUDED) {
        pending_ += "excluded by keyword " + std::to_string(keyword) + " (";
        if (keyword >= 1 && static_cast<std::size_t>(keyword) <= keywords.size())
            AppendEscaped(pending_, keywords[keyword - 1].data(), keywords[keyword - 1].size());
        pending_ += "): ";
    } else if (reason == TALVERON_TOO_LONG) {
        pending_ += "longer than " + std::to_string(tooLong) + " bytes: ";
    } else if (reason == TALVERON_ADDRESS_TOO_LONG) {
        pending_ += "address longer than " + std::to_string(tooLong) + " bytes: ";
    } else if (reason == TALVERON_OTHER_SCHEME) {
        pending_ += "not http or https: ";
    } else if (reason == TALVERON_NOT_AN_ADDRESS) {
        pending_ += "not an address: ";
    } else {
        pending_ += "unfinished at end of input: ";
    }
    AppendEscaped(pending_, address, length);
    pending_ += '\n';
    // Through the records' stream each line goes out at once: the records
    // come a read at a time, so a line comes before those of its own read.
    if (through_ || pending_.size() >= kPendingLimit) WriteOut();
}

bool RejectedFile::Close(bool commit) {
    if (!open_) return true;
    open_ = false;
    bool ok = WriteOut();
    if (through_) return ok;
    if (ok && commit) {
        if (!replaced_.Commit()) {
            ok = false;
            Diagnose(ShownName(path_), errno ? errno : EIO);
        }
    } else {
        replaced_.Discard();
    }
    return ok;
}
