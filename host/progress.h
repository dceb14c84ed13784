// What a run has done: the counts of --stats, and the progress line shown on
// a terminal while a long run goes on.
#ifndef TALVERON_HOST_PROGRESS_H
#define TALVERON_HOST_PROGRESS_H

#include <map>
#include <string>
#include <vector>

#include "talveron.h"

struct RunCounts {
    long long searched = 0, failed = 0;
    long long bytes = 0;        // of the inputs done
    long long records = 0;
    long long excluded[TALVERON_KEYWORD_SLOTS] = {};  // by keyword slot
    long long tooLong = 0, unfinished = 0;
    // Web archives searched, and the records of them searched (each also
    // an input searched).
    long long archives = 0, archiveRecords = 0;
    bool ArchivesRead() const { return archives > 0 || archiveRecords > 0; }
    // <a href="https:// anchors not taken (without --https).
    long long httpsPassedOver = 0;
    // Records of web archives passed over, by WARC-Type (the first
    // kPassedTypes types met; the rest as "other").
    static constexpr std::size_t kPassedTypes = 16;
    std::map<std::string, long long> passedOver;
    void PassedOver(const std::string& type);
    // Links of pages read by the HTML standard that became no record: by
    // scheme, or "not an address" (as many kinds as passedOver's).
    std::map<std::string, long long> linksPassedOver;
    bool links = false;  // the run reads pages by the HTML standard: their count is shown
    void LinkPassedOver(const std::string& scheme);
    void LinkNotAnAddress();
    // Of them, links that resolved to file: addresses (pages read without
    // --base are named by their file: URL).
    long long fileLinks = 0;
    // With --status: archives' responses not searched, by status.
    bool statusFilter = false;
    std::map<int, long long> statusesPassedOver;
};

class Progress {
public:
    // Shows a line when `enabled` (see ProgressWanted) once the run has
    // taken more than a second; `total` inputs (-1: not known).
    Progress(bool enabled, long long total);
    // While an input is searched: `bytes` of it read so far.
    void Update(const RunCounts& counts, long long bytes);
    // Erases the line.
    void End();
    double Elapsed() const;

private:
    bool enabled_;
    long long total_;
    double start_, next_;
};

// True when a progress line may be drawn: standard error is a terminal and
// standard output is not that terminal (the line would mix with records).
bool ProgressWanted();

// The --stats summary on standard error.
void PrintSummary(const RunCounts& counts, const std::vector<std::string>& keywords, double seconds);

// The --stats=json summary: one JSON object, without a line end, of the
// same counts ("elapsed_seconds" to the millisecond); a keyword as the
// human summary shows it (bytes outside '!'..'~', and the backslash, as
// \xNN), so that the text is ASCII whatever the keywords' bytes. Its
// strings are written as --json writes names (JsonName).
std::string SummaryJson(const RunCounts& counts, const std::vector<std::string>& keywords, double seconds);
// It on standard error, on a line of its own; the last thing a run says.
void PrintSummaryJson(const RunCounts& counts, const std::vector<std::string>& keywords, double seconds);

#endif
