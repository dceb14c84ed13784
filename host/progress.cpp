#include "progress.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "messages.h"

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
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.0f MB/s", static_cast<double>(all) / 1e6 / (now - start_));
    ShowStatus("talveron: " + done + " inputs, " + Megabytes(all) + ", " + Grouped(counts.records) + " records, " +
               rate);
}

void Progress::End() {
    EraseStatus();
    enabled_ = false;
}

void PrintSummary(const RunCounts& counts, const std::vector<std::string>& keywords, double seconds) {
    auto line = [](const char* label, const std::string& value) { Say(std::string(label) + value); };
    line("inputs searched        ", Grouped(counts.searched));
    line("inputs failed          ", Grouped(counts.failed));
    line("bytes                  ", Grouped(counts.bytes));
    line("records written        ", Grouped(counts.records));
    if (counts.ArchivesRead()) {
        line("archives searched      ", Grouped(counts.archives));
        line("records searched       ", Grouped(counts.archiveRecords));
    }
    for (std::size_t slot = 0; slot < static_cast<std::size_t>(TALVERON_KEYWORD_SLOTS); ++slot) {
        if (slot >= keywords.size() || keywords[slot].empty()) continue;
        std::string word;  // escaped as --rejected shows it
        AppendEscaped(word, keywords[slot].data(), keywords[slot].size());
        Say("excluded by keyword " + std::to_string(slot + 1) + "  " + Grouped(counts.excluded[slot]) + " (" + word + ")");
    }
    line("dropped as too long    ", Grouped(counts.tooLong));
    line("dropped as unfinished  ", Grouped(counts.unfinished));
    if (counts.httpsPassedOver > 0)
        line("https passed over      ", Grouped(counts.httpsPassedOver) + " (--https takes them)");
    for (const auto& type : counts.passedOver)
        Say("records passed over    " + Grouped(type.second) + " (" + type.first + ")");
    for (const auto& kind : counts.linksPassedOver)
        Say("links passed over      " + Grouped(kind.second) + " (" + kind.first + ")");
    for (const auto& status : counts.statusesPassedOver)
        Say("responses passed over  " + Grouped(status.second) + " (status " + std::to_string(status.first) + ")");
    char figure[64];
    std::snprintf(figure, sizeof figure, "%.3f s", seconds);
    line("elapsed                ", figure);
    std::snprintf(figure, sizeof figure, "%.1f MB/s", seconds > 0 ? static_cast<double>(counts.bytes) / 1e6 / seconds : 0.0);
    line("throughput             ", figure);
}

namespace {

// Seconds to the millisecond, "12.345": by integers, whatever the locale.
std::string JsonSeconds(double seconds) {
    long long ms = seconds > 0 ? static_cast<long long>(seconds * 1000 + 0.5) : 0;
    std::string fraction = std::to_string(ms % 1000);
    return std::to_string(ms / 1000) + "." + std::string(3 - fraction.size(), '0') + fraction;
}

}  // namespace

namespace {

void CountKind(std::map<std::string, long long>& counts, std::string shown) {
    if (counts.size() >= RunCounts::kPassedTypes && !counts.count(shown)) shown = "other";
    ++counts[shown];
}

// A kind read from the input, as --rejected shows keywords: a hostile one
// stays one short line.
std::string Escaped(const std::string& kind) {
    std::string shown;
    AppendEscaped(shown, kind.data(), std::min<std::size_t>(kind.size(), 64));
    return shown;
}

}  // namespace

void RunCounts::PassedOver(const std::string& type) { CountKind(passedOver, Escaped(type)); }
void RunCounts::LinkPassedOver(const std::string& kind) { CountKind(linksPassedOver, Escaped(kind)); }
void RunCounts::LinkNotAnAddress() { CountKind(linksPassedOver, "not an address"); }

std::string SummaryJson(const RunCounts& counts, const std::vector<std::string>& keywords, double seconds) {
    auto number = [](const char* key, long long n) { return std::string("\"") + key + "\":" + std::to_string(n); };
    std::string excluded;
    for (std::size_t slot = 0; slot < static_cast<std::size_t>(TALVERON_KEYWORD_SLOTS); ++slot) {
        if (slot >= keywords.size() || keywords[slot].empty()) continue;
        std::string word;
        AppendEscaped(word, keywords[slot].data(), keywords[slot].size());
        excluded += std::string(excluded.empty() ? "" : ",") + "{" + number("slot", static_cast<long long>(slot) + 1) +
                    ",\"keyword\":" + JsonName(word) + "," + number("count", counts.excluded[slot]) + "}";
    }
    std::string passed;
    for (const auto& type : counts.passedOver)
        passed += std::string(passed.empty() ? "" : ",") + "{\"type\":" + JsonName(type.first) + "," +
                  number("count", type.second) + "}";
    std::string links;
    for (const auto& kind : counts.linksPassedOver)
        links += std::string(links.empty() ? "" : ",") + "{\"kind\":" + JsonName(kind.first) + "," +
                 number("count", kind.second) + "}";
    std::string statuses;
    for (const auto& status : counts.statusesPassedOver)
        statuses += std::string(statuses.empty() ? "" : ",") + "{" + number("status", status.first) + "," +
                    number("count", status.second) + "}";
    std::string archives;
    if (counts.ArchivesRead())
        archives = "," + number("archives_searched", counts.archives) + "," +
                   number("records_searched", counts.archiveRecords);
    std::string https;
    if (counts.httpsPassedOver > 0) https = number("https_passed_over", counts.httpsPassedOver) + ",";
    return "{" + number("inputs_searched", counts.searched) + "," + number("inputs_failed", counts.failed) + "," +
           number("bytes", counts.bytes) + "," + number("records_written", counts.records) + archives +
           ",\"excluded_by_keyword\":[" + excluded + "]," + number("dropped_too_long", counts.tooLong) + "," +
           number("dropped_unfinished", counts.unfinished) + ",\"records_passed_over\":[" + passed +
           "]," + (counts.links ? "\"links_passed_over\":[" + links + "]," : std::string()) +
           (counts.statusFilter ? "\"statuses_passed_over\":[" + statuses + "]," : std::string()) + https +
           "\"elapsed_seconds\":" + JsonSeconds(seconds) + "}";
}

void PrintSummaryJson(const RunCounts& counts, const std::vector<std::string>& keywords, double seconds) {
    // Not through Say: the line is the object alone, without "talveron: ".
    // The run is over: the progress line is erased and the records are out.
    std::string line = SummaryJson(counts, keywords, seconds) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

bool ProgressWanted() {
    if (!::isatty(2)) return false;
    if (!::isatty(1)) return true;
    struct stat out, err;
    return ::fstat(1, &out) == 0 && ::fstat(2, &err) == 0 && out.st_rdev != err.st_rdev;
}
