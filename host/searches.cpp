#include "searches.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "messages.h"
#include "talveron.h"

namespace {

// Where the parts of a regular file of `size` bytes begin: about equal
// parts, each cut where a search of the whole file begins a skip (none
// where there is no such place near).
std::vector<long long> Cuts(int fd, long long size, int parts) {
    std::vector<long long> cuts = {0};
    constexpr long long kWindow = 1 << 20;
    for (int k = 1; k < parts; ++k) {
        long long cut = talveron_cut(fd, size / parts * k, kWindow);
        if (cut > cuts.back() && cut < size) cuts.push_back(cut);
    }
    cuts.push_back(size);
    return cuts;
}

}  // namespace

void Searches::Run(const std::function<bool(InputOpener::Opened&)>& next) {
    bool ended = false;
    auto more = [&] {
        InputOpener::Opened opened;
        if (ended || !next(opened)) return !(ended = true);
        Add(std::move(opened));
        return true;
    };
    jobs_.Run([&](Jobs::Steps& steps) {
        while (pending_.empty())
            if (!more()) return false;
        Pending first = std::move(pending_.front());
        pending_.pop_front();
        if (!first.batched) {
            steps = std::move(first.steps);
            return true;
        }
        // Small files of a walk go to a thread a few at a time: the threads
        // then take turns less often than they open files.
        auto batch = std::make_shared<std::vector<Jobs::Steps>>();
        batch->push_back(std::move(first.steps));
        while (batch->size() < kBatch) {
            if (pending_.empty()) {
                if (more()) continue;  // an input passed over adds nothing
                break;
            }
            if (!pending_.front().batched) break;
            batch->push_back(std::move(pending_.front().steps));
            pending_.pop_front();
        }
        // Each input's end is told right behind its own reports, as one
        // input after the other tells it.
        steps.work = [batch](Jobs::Reporter& reporter) {
            for (Jobs::Steps& one : *batch) {
                one.work(reporter);
                if (!reporter.Direct())
                    reporter.Keep(one.finish, one.finishCost);
                else if (!reporter.Dropping())
                    one.finish();
            }
        };
        return true;
    });
}

Verdict Searches::Judge(const InputOpener::Opened& opened, std::string& diagnostic) const {
    const Input& input = opened.input;
    // Not a page any more, or the run's own temporary file met by a walk:
    // not an input at all.
    if (opened.skipped || (opened.error == 0 && input.refusal.empty() && run_.where->IsTemporary(opened.st)))
        return Verdict::kPassOver;
    if (!input.refusal.empty()) {
        diagnostic = input.refusal;
        return Verdict::kFail;
    }
    if (opened.error != 0) return Verdict::kFail;  // its error is told
    if (run_.where->Is(opened.st)) {
        diagnostic = ShownName(NameOf(input, *run_.options)) + ": input file is also the output";
        return Verdict::kIsOutput;
    }
    return Verdict::kSearch;
}

// An input that is not searched, in its turn.
void Searches::Failed(const InputOpener::Opened& opened, Verdict verdict, const std::string& diagnostic) {
    if (verdict == Verdict::kPassOver) return;
    ++run_.attempted;
    if (verdict == Verdict::kIsOutput) {
        run_.inputIsOutput = true;
        FileIdentity input;
        input.exists = input.regular = true;
        input.dev = opened.st.st_dev;
        input.ino = opened.st.st_ino;
        run_.inputsWritten.push_back(input);
    }
    if (!diagnostic.empty())
        run_.trouble->InputFailed(diagnostic);
    else if (opened.error > 0)
        run_.trouble->InputUnreadable(NameOf(opened.input, *run_.options), opened.error);
    else
        run_.trouble->InputFailedAsSaid();
}

// How many parts a large regular file is searched in at once: only when
// its records come out whole (not when one record tells all, and not when
// the dropped addresses go through the records' stream, whose places among
// the records follow the reads of one search), and only a page as it stands.
int Searches::PartsOf(const InputSearch& search) {
    const struct stat& st = search.opened.st;
    // A page read by the HTML standard is read whole: where its parts would
    // begin, the tokenizer's state is not known ahead.
    // Standard input redirected from a regular file is a file like any
    // other when it stands at its start (as `talveron - < page.html`).
    // With --unique a part would be a page of its own, whose addresses
    // the parts before may have given already.
    if (jobs_.Threads() < 2 || run_.options->html || run_.options->unique || !S_ISREG(st.st_mode) ||
        (search.opened.input.standardInput && ::lseek(search.opened.fd, 0, SEEK_CUR) != 0) ||
        run_.printer->OneRecordTellsAll() || run_.rejectedThrough || st.st_size < 2 * kPartMin ||
        talveron_input_is_plain(search.opened.fd, TALVERON_DECOMPRESS) == 0)
        return 1;
    return static_cast<int>(std::min<long long>(jobs_.Threads(), st.st_size / kPartMin));
}

// A file of a walk, opened by the thread that searches it, so that the
// threads open at once: it is judged there too, and searched whole.
Jobs::Steps Searches::WalkedFileJob(std::shared_ptr<Part> part) {
    std::size_t cost = KeptCost(*part->input);
    return {[this, part](Jobs::Reporter& reporter) {
                InputSearch& search = *part->input;
                run_.opener->OpenNow(search.opened);
                search.verdict = Judge(search.opened, search.diagnostic);
                if (search.verdict == Verdict::kSearch) {
                    part->reporter = &reporter;
                    SearchPart(*part);
                }
                run_.opener->Done(search.opened);
            },
            nullptr,
            [this, part] {
                InputSearch& search = *part->input;
                if (search.verdict != Verdict::kSearch)
                    return Failed(search.opened, search.verdict, search.diagnostic);
                ++run_.attempted;
                search.outcome = part->result;
                search.bytes = part->result.bytes;
                FinishInput(search);
            },
            cost};
}

Jobs::Steps Searches::FailedInputJob(std::shared_ptr<InputOpener::Opened> opened, Verdict verdict,
                                     const std::string& diagnostic) {
    return {nullptr, nullptr, [this, opened, verdict, diagnostic] {
                Failed(*opened, verdict, diagnostic);
                run_.opener->Done(*opened);
            }};
}

Jobs::Steps Searches::WholeInputJob(std::shared_ptr<Part> part) {
    return {[part](Jobs::Reporter& reporter) {
                part->reporter = &reporter;
                SearchPart(*part);
                // Closed now: a search done may wait long for its turn.
                part->input->run->opener->Done(part->input->opened);
            },
            nullptr,
            [this, part] {
                InputSearch& search = *part->input;
                ++run_.attempted;
                search.outcome = part->result;
                search.bytes = part->result.bytes;
                FinishInput(search);
            }};
}

// A range of a large file. Its turn comes when the part before ended
// where it began and no part before failed; else it is searched again from
// where the part before ended, its reports told at once.
Jobs::Steps Searches::RangeJob(std::shared_ptr<Part> part, bool first, bool last) {
    return {[part](Jobs::Reporter& reporter) {
                part->reporter = &reporter;
                SearchPart(*part);
            },
            [part] {
                const InputSearch& search = *part->input;
                return search.outcome.status == TALVERON_COMPLETED && search.next == part->start;
            },
            [this, part, first, last] {
                InputSearch& search = *part->input;
                if (first) ++run_.attempted;
                if (search.outcome.status == TALVERON_COMPLETED) {
                    if (search.next != part->start) {
                        part->reporter = nullptr;
                        part->start = search.next;
                        SearchPart(*part);
                    }
                    search.outcome.status = part->result.status;
                    search.outcome.read_errno = part->result.read_errno;
                    search.next = part->result.next;
                    search.bytes += std::min(part->result.bytes, part->end - part->start);
                }
                if (last) {
                    // The parts read at offsets: standard input is left at
                    // its end, as a search of it as a stream leaves it.
                    if (search.opened.input.standardInput) ::lseek(search.opened.fd, 0, SEEK_END);
                    FinishInput(search);
                }
            }};
}

void Searches::Add(InputOpener::Opened opened) {
    if (InputOpener::Unopened(opened)) {
        auto part = std::make_shared<Part>();
        part->input = BeginInput(run_, std::move(opened));
        pending_.push_back({true, WalkedFileJob(part)});
        return;
    }
    std::string diagnostic;
    Verdict verdict = Judge(opened, diagnostic);
    if (verdict == Verdict::kPassOver) {
        run_.opener->Done(opened);
        return;
    }
    if (verdict != Verdict::kSearch) {
        auto failed = std::make_shared<InputOpener::Opened>(std::move(opened));
        pending_.push_back({false, FailedInputJob(failed, verdict, diagnostic)});
        return;
    }
    auto search = BeginInput(run_, std::move(opened));
    int parts = PartsOf(*search);
    if (parts == 1) {
        auto part = std::make_shared<Part>();
        part->input = search;
        pending_.push_back({false, WholeInputJob(part)});
        return;
    }
    std::vector<long long> cuts = Cuts(search->opened.fd, search->opened.st.st_size, parts);
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
        auto part = std::make_shared<Part>();
        part->input = search;
        part->start = cuts[k];
        part->end = cuts[k + 1];
        pending_.push_back({false, RangeJob(part, k == 0, k + 2 == cuts.size())});
    }
}
