#include "host/progress.h"

#include <time.h>

#include <cstdio>

namespace {

double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// 1234567 as "1,234,567".
std::string Grouped(long long n) {
    std::string digits = std::to_string(n < 0 ? -n : n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return n < 0 ? "-" + out : out;
}

std::string Megabytes(long long bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

}  // namespace

Progress::Progress(bool enabled, long long total) : enabled_(enabled), total_(total), start_(Now()), next_(start_ + 1.0) {}

double Progress::Elapsed() const { return Now() - start_; }

void Progress::Update(const RunCounts& counts, long long bytes) {
    if (!enabled_) return;
    double now = Now();
    if (now < next_) return;
    next_ = now + 0.25;
    long long all = counts.bytes + bytes;
    std::string done = Grouped(counts.searched + counts.failed) + (total_ >= 0 ? " of " + Grouped(total_) : "");
    std::fprintf(stderr, "\rtalveron: %s inputs, %s, %s records, %.0f MB/s\033[K", done.c_str(), Megabytes(all).c_str(),
                 Grouped(counts.records).c_str(), static_cast<double>(all) / 1e6 / (now - start_));
    std::fflush(stderr);
    shown_ = true;
}

void Progress::End() {
    if (shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
    enabled_ = false;
}

void PrintSummary(const RunCounts& counts, const std::vector<std::string>& keywords, double seconds) {
    std::fprintf(stderr, "talveron: inputs searched        %s\n", Grouped(counts.searched).c_str());
    std::fprintf(stderr, "talveron: inputs failed          %s\n", Grouped(counts.failed).c_str());
    std::fprintf(stderr, "talveron: bytes                  %s\n", Grouped(counts.bytes).c_str());
    std::fprintf(stderr, "talveron: records written        %s\n", Grouped(counts.records).c_str());
    for (std::size_t slot = 0; slot < 6; ++slot) {
        if (slot < keywords.size() && !keywords[slot].empty())
            std::fprintf(stderr, "talveron: excluded by keyword %zu  %s (%s)\n", slot + 1,
                         Grouped(counts.excluded[slot]).c_str(), keywords[slot].c_str());
    }
    std::fprintf(stderr, "talveron: dropped as too long    %s\n", Grouped(counts.tooLong).c_str());
    std::fprintf(stderr, "talveron: dropped as unfinished  %s\n", Grouped(counts.unfinished).c_str());
    std::fprintf(stderr, "talveron: elapsed                %.3f s\n", seconds);
    std::fprintf(stderr, "talveron: throughput             %.1f MB/s\n",
                 seconds > 0 ? static_cast<double>(counts.bytes) / 1e6 / seconds : 0.0);
}
