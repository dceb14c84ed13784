// talveron_harvest_input and talveron_harvest_path as a C program calls
// them: each entry of an input (a page, an archive and its records) begun,
// searched as the byte-at-a-time model searches its page, and ended, in
// order; the first read of an input told apart however its bytes come.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unicode/uclean.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "talveron.h"
#include "tests/random_pages.h"
#include "tests/scan_model.h"
#include "tests/warc_records.h"

namespace {

// Every call of the sink, as a line; records as they come.
std::string Calls(int fd, long long size, int flags) {
    std::string calls;
    talveron_input_sink sink = {};
    sink.search.context = &calls;
    sink.search.records = [](void* c, const char* bytes, size_t length) {
        static_cast<std::string*>(c)->append(bytes, length);
        return 0;
    };
    sink.begin = [](void* c, int entry, const char* name) {
        *static_cast<std::string*>(c) += "begin " + std::to_string(entry) + " " + name + "\n";
        return 0;
    };
    sink.end = [](void* c, int entry, const talveron_result* result, const char* problem) {
        *static_cast<std::string*>(c) += "end " + std::to_string(entry) + " " + std::to_string(result->status) +
                                         (problem ? std::string(" ") + problem : "") + "\n";
    };
    sink.problem = [](void* c, const char* text) { *static_cast<std::string*>(c) += std::string(text) + "\n"; };
    talveron_result result;
    talveron_harvest_input(fd, size, "in", flags, "ads", &sink, &result);
    return calls + "result " + std::to_string(result.status) + "\n";
}

struct File {
    explicit File(const std::string& bytes) : file(std::tmpfile()) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fflush(file);
        lseek(fileno(file), 0, SEEK_SET);
    }
    ~File() { std::fclose(file); }
    std::FILE* file;
};

std::string Searched(const std::string& page) { return ModelSearch(page, "ads").out; }

TEST(HarvestInput, EachRecordOfACompressedArchiveIsAnEntryOfItsOwn) {
    std::mt19937 rng(5);
    std::string one = RandomPage(rng, 30), two = RandomPage(rng, 30);
    std::string archive = Record("warcinfo", "", "x\r\n") + Record("response", "http://a.jp/", Response("", one)) +
                          "noise\r\n\r\n" +
                          Record("response", "http://b.jp/", Response("Content-Encoding: gzip\r\n", Deflated(two))) +
                          Record("response", "http://c.jp/", Response("Content-Encoding: lzw\r\n", "x"));
    File file(Deflated(archive.substr(0, 500)) + Deflated(archive.substr(500)));
    EXPECT_EQ(Calls(fileno(file.file), -1, TALVERON_DECOMPRESS),
              "begin 1 in\nbegin 2 http://a.jp/\n" + Searched(one) + "end 2 0\n" +
                  "malformed WARC record at byte " + std::to_string(archive.find("noise")) +
                  " of the decompressed archive: it does not begin with a WARC version line\n" +
                  "begin 2 http://b.jp/\n" + Searched(two) + "end 2 0\n" +
                  "begin 2 http://c.jp/\nend 2 5 not searched: content coding lzw is not decoded\n"
                  "end 1 0\nresult 0\n");
}

TEST(HarvestInput, ARegularFileIsReadToItsEndWhateverItsSizeTells) {
    // A size of 0 (as /proc's files tell) and a page larger than one read.
    std::mt19937 rng(6);
    std::string page;
    while (page.size() < 300000) page += RandomPage(rng, 400);
    for (long long size : {-1ll, 0ll, static_cast<long long>(page.size())}) {
        File file(page);
        EXPECT_EQ(Calls(fileno(file.file), size, 0), "begin 0 in\n" + Searched(page) + "end 0 0\nresult 0\n")
            << "size " << size;
    }
}

TEST(HarvestInput, AnInputThatComesAByteAtATimeIsToldApartAlike) {
    // As a terminal gives it: the first bytes one by one; one left
    // non-blocking by a shell, and one whose size of 0 tells nothing.
    const std::string archive = Record("resource", "http://a.jp/", "<a href=\"http://r.jp/\">");
    const std::string page = "WARC/1x <a href=\"http://p.jp/\">";
    for (long long size : {-1ll, 0ll})
    for (bool isArchive : {true, false}) {
        const std::string& bytes = isArchive ? archive : page;
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        if (size == 0) fcntl(pair[0], F_SETFL, O_NONBLOCK);
        std::thread writer([&] {
            for (char c : bytes) {
                ASSERT_EQ(write(pair[1], &c, 1), 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            close(pair[1]);
        });
        std::string calls = Calls(pair[0], size, TALVERON_DECOMPRESS);
        writer.join();
        close(pair[0]);
        EXPECT_EQ(calls, isArchive
                             ? "begin 1 in\nbegin 2 http://a.jp/\nhttp://r.jp/\r\nend 2 0\nend 1 0\nresult 0\n"
                             : "begin 0 in\n" + Searched(page) + "end 0 0\nresult 0\n")
            << "size " << size;
    }
}

TEST(HarvestInput, AnArchiveWhoseLinesEndInLineFeedsAloneIsAnArchive) {
    File file("WARC/1.0\nWARC-Type: resource\nWARC-Target-URI: http://a.jp/\nContent-Length: 22\n\n"
              "<a href=\"http://r.jp\">\n\n");
    EXPECT_EQ(Calls(fileno(file.file), -1, 0),
              "begin 1 in\nbegin 2 http://a.jp/\nhttp://r.jp/\r\nend 2 0\nend 1 0\nresult 0\n");
}

TEST(HarvestInput, AnArchiveIsKnownBehindEmptyLinesAndByEveryVersionItsReaderReads) {
    const std::string page = "<a href=\"http://r.jp\">";
    const std::string coded = Response("Content-Encoding: gzip\r\n", Deflated(page));
    const std::string found = "begin 1 in\nbegin 2 http://a.jp/\nhttp://r.jp/\r\nend 2 0\nend 1 0\nresult 0\n";
    const struct {
        std::string front, version, expected;
    } cases[] = {
        {"\r\n\r\n", "WARC/1.1", found},
        {"\n", "WARC/1.0", found},
        {"", "WARC/0.18", found},
        {"", "WARC/1.2", found},
        {"\r\n", "WARC/2.0",
         "begin 1 in\nmalformed WARC record at byte 2: its version WARC/2.0 is not one read here (WARC/0.18, 1.0, "
         "1.1, 1.2)\nend 1 0\nresult 0\n"},
    };
    for (const auto& c : cases) {
        std::string archive = c.front + Record("response", "http://a.jp/", coded, c.version);
        for (bool compressed : {false, true}) {
            File file(compressed ? Deflated(archive) : archive);
            EXPECT_EQ(Calls(fileno(file.file), -1, TALVERON_DECOMPRESS), compressed && c.version == "WARC/2.0"
                          ? std::string("begin 1 in\nmalformed WARC record at byte 2 of the decompressed archive: its "
                                        "version WARC/2.0 is not one read here (WARC/0.18, 1.0, 1.1, 1.2)\nend 1 0\n"
                                        "result 0\n")
                          : c.expected)
                << c.version << (compressed ? " compressed" : "");
        }
    }
}

TEST(HarvestInput, APathThatCannotBeOpenedIsAFailedRead) {
    talveron_input_sink sink = {};
    sink.search.records = [](void*, const char*, size_t) { return 0; };
    talveron_result result;
    EXPECT_EQ(talveron_harvest_path("/nonexistent/page.html", 0, "", &sink, &result), -1);
    EXPECT_EQ(result.status, TALVERON_READ_FAILED);
    EXPECT_EQ(result.read_errno, ENOENT);
}

}  // namespace

// The standards mode through the library: an archive's records by their
// Content-Type, each resolved against its own address (then its base), the
// keywords on the resolved address, every link that is no record reported
// with its reason, and records ended as the sink asks.
TEST(HarvestLinks, ArchiveRecordsResolvedAgainstTheirOwnAddresses) {
    std::string page = "<a href=x.html><base href=/d/><a href='y?q#f'><a href=mailto:m>"
                       "<a href=//ads.jp/><a href='http://a b/'><a href=\"" + std::string(TALVERON_LINK_MAX + 1, 'z') +
                       "\">";
    std::string archive = Record("response", "http://a.jp/p/", Response("Content-Type: text/css\r\n", page)) +
                          Record("response", "http://b.jp/p/", Response("Content-Type: Text/HTML; charset=x\r\n", page)) +
                          Record("resource", "http://c.jp/", "<a href=r>");
    File file(archive);
    std::string calls;
    talveron_input_sink sink = {};
    sink.search.context = &calls;
    sink.search.records = [](void* c, const char* bytes, size_t length) {
        static_cast<std::string*>(c)->append(bytes, length);
        return 0;
    };
    sink.search.rejected = [](void* c, int reason, int keyword, long long offset, const char* address, size_t length) {
        *static_cast<std::string*>(c) += "rejected " + std::to_string(reason) + " " + std::to_string(keyword) + " " +
                                         std::to_string(offset) + " " + std::to_string(length) + " " +
                                         std::string(address, std::min<size_t>(length, 20)) + "\n";
    };
    sink.passed = [](void* c, const char* type) { *static_cast<std::string*>(c) += std::string("passed ") + type + "\n"; };
    talveron_result result;
    EXPECT_EQ(talveron_harvest_input(fileno(file.file), -1, "in", TALVERON_HTML, "ads", &sink, &result), 0);
    auto at = [&](const char* tag) { return std::to_string(page.find(tag)); };
    // The reasons come as they are met; the records, before the next read.
    EXPECT_EQ(calls, "passed text/css\n"
                     "rejected 4 0 " + at("<a href=m") + " 8 mailto:m\n"
                     "rejected 1 1 " + at("<a href=/") + " 14 http://ads.jp/\n"
                     "rejected 5 0 " + at("<a href='h") + " 11 http://a b/\n"
                     "http://b.jp/p/x.html\r\nhttp://b.jp/d/y?q#f\r\n"
                     "rejected 2 0 " + at("<a href=\"z") + " 500 zzzzzzzzzzzzzzzzzzzz\n"
                     "http://c.jp/r\r\n");
}

// ICU without memory (its allocations fail from the start, in a process of
// its own): the search ends out of memory, its international domain not
// passed over as no address.
TEST(HarvestLinksDeathTest, IcuWithoutMemoryIsOutOfMemory) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto run = [] {
        UErrorCode status = U_ZERO_ERROR;
        u_setMemoryFunctions(
            nullptr, [](const void*, size_t) -> void* { return nullptr; },
            [](const void*, void*, size_t) -> void* { return nullptr; }, [](const void*, void* p) { std::free(p); },
            &status);
        if (U_FAILURE(status)) std::_Exit(3);
        File file("<a href=http://a.jp/1><a href=http://m\xC3\xBCnchen.de/>");
        int rejected = 0;
        talveron_input_sink sink = {};
        sink.search.context = &rejected;
        sink.search.records = [](void*, const char*, size_t) { return 0; };
        sink.search.rejected = [](void* c, int, int, long long, const char*, size_t) { ++*static_cast<int*>(c); };
        talveron_result result;
        talveron_harvest_links(fileno(file.file), -1, "in", nullptr, 0, nullptr, &sink, &result);
        std::_Exit(result.status == TALVERON_OUT_OF_MEMORY && rejected == 0 ? 0 : 1);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}
