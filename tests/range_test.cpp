// A file searched in parts, each part's search beginning where the part
// before says: the joined records and dropped addresses are those of one
// search, wherever the cuts fall (inside an address, behind a '<' that
// opened nothing, in a run of '<'), and talveron_cut's places need no
// second search.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "search/searcher.h"
#include "talveron.h"
#include "tests/fake_files.h"
#include "tests/random_pages.h"
#include "tests/scan_model.h"
#include "tests/search_fixture.h"

namespace {

struct Reports {
    std::string records;
    std::string rejected;  // "reason keyword offset address\n" each
    long long httpsPassedOver = 0;
};

int OnRecords(void* context, const char* bytes, size_t length) {
    static_cast<Reports*>(context)->records.append(bytes, length);
    return 0;
}

void OnRejected(void* context, int reason, int keyword, long long offset, const char* address, size_t length) {
    static_cast<Reports*>(context)->rejected += std::to_string(reason) + " " + std::to_string(keyword) + " " +
                                                std::to_string(offset) + " " + std::string(address, length) + "\n";
}

// A page in a file of its own.
class PageFile {
public:
    explicit PageFile(const std::string& page) : file_(std::tmpfile()) {
        std::fwrite(page.data(), 1, page.size(), file_);
        std::fflush(file_);
    }
    ~PageFile() { std::fclose(file_); }
    int fd() const { return fileno(file_); }

private:
    std::FILE* file_;
};

talveron_sink SinkFor(Reports& reports) {
    talveron_sink sink = {};
    sink.context = &reports;
    sink.records = OnRecords;
    sink.rejected = OnRejected;
    sink.https = TALVERON_HTTPS_COUNTED;  // every one, so that parts add up
    return sink;
}

// The parts [cuts[k], cuts[k+1]), the last one to the end; a part whose
// start is behind where the part before ended is searched again from there,
// as the callers of talveron_harvest_range do. Returns how many were.
int SearchInParts(int fd, const std::vector<long long>& cuts, long long size, const char* keywords,
                  Reports& reports) {
    int again = 0;
    long long next = 0;
    for (std::size_t k = 0; k < cuts.size(); ++k) {
        long long start = cuts[k], end = k + 1 < cuts.size() ? cuts[k + 1] : size + 1;
        Reports part;
        talveron_sink sink = SinkFor(part);
        talveron_result result;
        EXPECT_EQ(talveron_harvest_range(fd, start, end, keywords, &sink, &result), 0);
        if (next != start) {
            ++again;
            part = Reports();
            EXPECT_EQ(talveron_harvest_range(fd, next, end, keywords, &sink, &result), 0);
        }
        EXPECT_GE(result.next, end);
        next = result.next;
        reports.records += part.records;
        reports.rejected += part.rejected;
        reports.httpsPassedOver += result.https_passed_over;
    }
    return again;
}

Reports Whole(int fd, const char* keywords) {
    Reports reports;
    talveron_sink sink = SinkFor(reports);
    lseek(fd, 0, SEEK_SET);
    talveron_result result;
    EXPECT_EQ(talveron_harvest(fd, keywords, &sink, &result), 0);
    reports.httpsPassedOver = result.https_passed_over;
    return reports;
}

TEST(RangeSearch, TwoPartsAtEveryCutAreOneSearch) {
    std::mt19937 rng(15);
    int again = 0;
    for (int round = 0; round < 300; ++round) {
        std::string page = RandomPage(rng, 1 + static_cast<int>(rng() % 40));
        std::string keywords = RandomKeywords(rng);
        PageFile file(page);
        Reports whole = Whole(file.fd(), keywords.c_str());
        // The records are the byte-at-a-time search's.
        ModelRun model = ModelSearch(page, keywords);
        ASSERT_EQ(whole.records, model.out);
        ASSERT_EQ(whole.httpsPassedOver, static_cast<long long>(model.httpsPassedOver.size()));
        long long size = static_cast<long long>(page.size());
        for (long long cut = 0; cut <= size; ++cut) {
            Reports parts;
            again += SearchInParts(file.fd(), {0, cut}, size, keywords.c_str(), parts);
            ASSERT_EQ(parts.records, whole.records) << "cut " << cut << " page " << ::testing::PrintToString(page);
            ASSERT_EQ(parts.rejected, whole.rejected) << "cut " << cut << " page " << ::testing::PrintToString(page);
            ASSERT_EQ(parts.httpsPassedOver, whole.httpsPassedOver) << "cut " << cut;
        }
    }
    EXPECT_GT(again, 0);  // cuts that fell inside an anchor were met
}

// The searcher itself, its blocks small, so that block ends fall on and
// around every cut.
TEST(RangeSearch, BlockEndsAroundEveryCut) {
    std::mt19937 rng(49);
    for (int round = 0; round < 60; ++round) {
        std::string page = RandomPage(rng, 1 + static_cast<int>(rng() % 30));
        std::string keywords = RandomKeywords(rng);
        std::string expected = ModelSearch(page, keywords).out;
        PageFile file(page);
        long long size = static_cast<long long>(page.size());
        for (unsigned int block : {1u, 7u, 16u, 17u, 49u, 64u, 257u}) {
            for (long long cut = 0; cut <= size; ++cut) {
                GatheredRecords sink;
                long long next;
                {
                    Searcher first(sink, keywords.c_str(), false);
                    first.SetBlockSize(block);
                    first.SearchRange(file.fd(), 0, cut);
                    next = first.Next();
                }
                Searcher second(sink, keywords.c_str(), false);
                second.SetBlockSize(block);
                second.SearchRange(file.fd(), next, size + 1);
                ASSERT_EQ(sink.records, expected) << "block " << block << " cut " << cut << " page "
                                                  << ::testing::PrintToString(page);
            }
        }
    }
}

// A read that fails ends the parts where it ends one search: the parts
// before it whole, the failing one up to the read and with the message, none
// after it.
struct Told : GatheredRecords {
    std::vector<ModelMessage> messages;
    void Message(const char* text, const char* caption) override { messages.push_back({text, caption}); }
};

TEST(RangeSearch, AFailedReadEndsThePartsAsItEndsOneSearch) {
    std::mt19937 rng(17);
    for (int round = 0; round < 150; ++round) {
        std::string page = RandomPage(rng, 5 + static_cast<int>(rng() % 30));
        std::size_t unreadable = rng() % page.size();
        ModelRun expected = ModelSearch(page, "", unreadable);
        FakeFiles fs;
        fs.files["page.html"].data = page;
        fs.files["page.html"].unreadableFrom = unreadable;
        int fd = rt::_open("page.html", _O_BINARY, 0);
        long long size = static_cast<long long>(page.size());
        for (long long cut = 0; cut <= size; cut += 1 + static_cast<long long>(rng() % 5)) {
            Told sink;
            long long next = 0;
            bool failed = false;
            for (long long end : {cut, size + 1}) {
                if (failed) break;
                if (next >= end) continue;  // the part before ran past this one
                Searcher part(sink, "", false);
                part.SetBlockSize(1 + static_cast<unsigned>(rng() % 64));
                part.SearchRange(fd, next, end);
                failed = part.ReadFailed();
                next = part.Next();
            }
            ASSERT_EQ(sink.records, expected.out) << "cut " << cut << " unreadable " << unreadable;
            ASSERT_EQ(sink.messages, expected.messages) << "cut " << cut << " unreadable " << unreadable;
        }
        rt::_close(fd);
    }
}

TEST(RangeSearch, ManyPartsOfRandomSizes) {
    std::mt19937 rng(1207);
    for (int round = 0; round < 400; ++round) {
        std::string page = RandomPage(rng, 20 + static_cast<int>(rng() % 200));
        std::string keywords = RandomKeywords(rng);
        PageFile file(page);
        Reports whole = Whole(file.fd(), keywords.c_str());
        std::vector<long long> cuts = {0};
        while (cuts.back() < static_cast<long long>(page.size())) cuts.push_back(cuts.back() + 1 + rng() % 40);
        cuts.pop_back();
        Reports parts;
        SearchInParts(file.fd(), cuts, static_cast<long long>(page.size()), keywords.c_str(), parts);
        ASSERT_EQ(parts.records, whole.records) << ::testing::PrintToString(page);
        ASSERT_EQ(parts.rejected, whole.rejected);
    }
}

TEST(RangeSearch, CutsNeedNoSecondSearch) {
    // Pages dense with anchors, runs of '<' and long addresses: wherever
    // talveron_cut puts a cut, the part before ends exactly there.
    std::mt19937 rng(4);
    int cutsMade = 0;
    for (int round = 0; round < 200; ++round) {
        std::string page = RandomPage(rng, 50 + static_cast<int>(rng() % 200));
        PageFile file(page);
        long long size = static_cast<long long>(page.size());
        std::vector<long long> cuts = {0};
        for (long long near = 1; near < size; near += 1 + rng() % 64) {
            long long cut = talveron_cut(file.fd(), near, 64);
            if (cut == -1) continue;
            ASSERT_GE(cut, near);
            ASSERT_LT(cut, size);
            if (cut > cuts.back()) cuts.push_back(cut);
        }
        cutsMade += static_cast<int>(cuts.size()) - 1;
        Reports parts;
        ASSERT_EQ(SearchInParts(file.fd(), cuts, size, "", parts), 0) << ::testing::PrintToString(page);
        ASSERT_EQ(parts.records, Whole(file.fd(), "").records);
    }
    EXPECT_GT(cutsMade, 500);
}

TEST(RangeSearch, AnAddressRunningOnCarriesTheNextStartPastTheEnd) {
    const std::string page = "<a href=\"http://a.jp/" + std::string(1000, 'x') + "\"><a href=\"http://b.jp\">";
    PageFile file(page);
    Reports reports;
    talveron_sink sink = SinkFor(reports);
    talveron_result result;
    ASSERT_EQ(talveron_harvest_range(file.fd(), 0, 10, "", &sink, &result), 0);
    EXPECT_EQ(result.next, static_cast<long long>(page.find("\"><a")) + 1);  // behind the closing quote
    EXPECT_EQ(reports.records, "");
    EXPECT_NE(reports.rejected.find("2 0 0 http://a.jp/xxx"), std::string::npos);  // too long, told once
    // A range that the one before has run past is empty.
    ASSERT_EQ(talveron_harvest_range(file.fd(), result.next + 5, 20, "", &sink, &result), 0);
    EXPECT_EQ(reports.records, "");
}

TEST(RangeSearch, BadArgumentsAreTold) {
    PageFile file("<a href=\"http://a.jp\">");
    Reports reports;
    talveron_sink sink = SinkFor(reports);
    talveron_result result;
    // A negative start or end, an empty range's included: nothing is searched.
    const struct {
        long long start, end;
    } bad[] = {{-1, 5}, {0, -1}, {5, -1}};
    for (const auto& range : bad) {
        result.status = TALVERON_COMPLETED;
        EXPECT_EQ(talveron_harvest_range(file.fd(), range.start, range.end, "", &sink, &result), -1) << range.start;
        EXPECT_EQ(result.status, TALVERON_BAD_ARGUMENTS) << range.start << " " << range.end;
    }
    EXPECT_EQ(reports.records, "");
    EXPECT_EQ(talveron_harvest_range(file.fd(), 0, 5, "", nullptr, &result), -1);
    EXPECT_EQ(result.status, TALVERON_BAD_ARGUMENTS);
    EXPECT_EQ(talveron_cut(file.fd(), -1, 10), -1);
}

TEST(RangeSearch, ACutIsLookedForWithinItsWindowOnly) {
    // The first place fit for a cut is behind the quote, 1002 bytes in.
    PageFile file("<" + std::string(1000, ' ') + "\"" + std::string(100, ' '));
    EXPECT_EQ(talveron_cut(file.fd(), 5, 2000), 1002);
    EXPECT_EQ(talveron_cut(file.fd(), 5, 998), 1002);
    EXPECT_EQ(talveron_cut(file.fd(), 5, 997), -1);
    EXPECT_EQ(talveron_cut(file.fd(), 5, 1), -1);
    EXPECT_EQ(talveron_cut(file.fd(), 5, 0), -1);
    // A window that runs past the largest offset ends there.
    EXPECT_EQ(talveron_cut(file.fd(), 5, LLONG_MAX), 1002);
    EXPECT_EQ(talveron_cut(file.fd(), LLONG_MAX, LLONG_MAX), -1);
    EXPECT_EQ(talveron_cut(file.fd(), LLONG_MAX - 1, 1), -1);
}

// A search in parts tells its start once: with the range from 0, empty or
// not, and with no other.
TEST(RangeSearch, OnlyTheRangeFromZeroTellsTheStart) {
    PageFile file("<a href=\"http://a.jp\"> <a href=\"http://b.jp\">");
    const struct {
        long long start, end;
        int messages;
    } ranges[] = {{0, 10, 1}, {0, 0, 1}, {10, 100, 0}, {3, 3, 0}, {7, 2, 0}};
    for (const auto& range : ranges) {
        int messages = 0;
        talveron_sink sink = {};
        sink.context = &messages;
        sink.records = [](void*, const char*, size_t) { return 0; };
        sink.message = [](void* context, int, const char*) { ++*static_cast<int*>(context); };
        EXPECT_EQ(talveron_harvest_range(file.fd(), range.start, range.end, "", &sink, nullptr), 0);
        EXPECT_EQ(messages, range.messages) << range.start << " " << range.end;
    }
}

TEST(RangeSearch, AnEmptyFileSearchedFromZeroTellsTheStart) {
    PageFile file("");
    std::vector<std::string> messages;
    talveron_sink sink = {};
    sink.context = &messages;
    sink.records = [](void*, const char*, size_t) { return 0; };
    sink.message = [](void* context, int level, const char* text) {
        static_cast<std::vector<std::string>*>(context)->push_back(std::to_string(level) + text);
    };
    ASSERT_EQ(talveron_harvest_range(file.fd(), 0, 0, "", &sink, nullptr), 0);
    ASSERT_EQ(talveron_harvest(file.fd(), "", &sink, nullptr), 0);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], messages[1]);
}

}  // namespace
