// talveron_harvest_input and talveron_harvest_path as a C program calls
// them: each entry of an input (a page, an archive and its records) begun,
// searched as the byte-at-a-time model searches its page, and ended, in
// order; the first read of an input told apart however its bytes come.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unicode/uclean.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

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
namespace {

// Each entry's begin and end with its status and bytes, records as they
// come, problems; the records function stops the input at its `stopAt`th
// call (0: never).
struct Entries {
    std::string calls;
    int recordCalls = 0, stopAt = 0;
};

// The bytes of a descriptor in pieces of 1 to 5000 bytes, as a caller's
// read function gives them.
struct Pieces {
    int fd;
    std::mt19937 rng{3};
    static int Read(void* context, char* buffer, size_t size) {
        Pieces& p = *static_cast<Pieces*>(context);
        return static_cast<int>(read(p.fd, buffer, std::min<size_t>(size, 1 + p.rng() % 5000)));
    }
};

// `stream`: the descriptor's bytes searched by talveron_harvest_stream.
std::string EntriesOf(int fd, long long size, int flags, int stopAt = 0, bool stream = false) {
    Entries told;
    told.stopAt = stopAt;
    talveron_input_sink sink = {};
    sink.search.context = &told;
    sink.search.records = [](void* c, const char* bytes, size_t length) {
        Entries& t = *static_cast<Entries*>(c);
        t.calls.append(bytes, length);
        return ++t.recordCalls == t.stopAt ? 1 : 0;
    };
    sink.begin = [](void* c, int entry, const char* name) {
        static_cast<Entries*>(c)->calls += "begin " + std::to_string(entry) + " " + name + "\n";
        return 0;
    };
    sink.end = [](void* c, int entry, const talveron_result* result, const char* problem) {
        static_cast<Entries*>(c)->calls += "end " + std::to_string(entry) + " " + std::to_string(result->status) +
                                           " bytes " + std::to_string(result->bytes) +
                                           (problem ? std::string(" ") + problem : "") + "\n";
    };
    sink.problem = [](void* c, const char* text) { static_cast<Entries*>(c)->calls += std::string(text) + "\n"; };
    talveron_result result;
    Pieces pieces{fd};
    const char* address = flags & TALVERON_HTML ? "http://p.jp/" : nullptr;
    int rc = stream ? talveron_harvest_stream(Pieces::Read, &pieces, "in", address, flags, "", &sink, &result)
             : (flags & TALVERON_HTML) ? talveron_harvest_links(fd, size, "in", address, flags, "", &sink, &result)
                                       : talveron_harvest_input(fd, size, "in", flags, "", &sink, &result);
    return told.calls + "result " + std::to_string(rc) + " " + std::to_string(result.status) + " bytes " +
           std::to_string(result.bytes) + "\n";
}

const int kReadings[] = {TALVERON_DECOMPRESS, TALVERON_DECOMPRESS | TALVERON_HTML};

TEST(HarvestInput, ARecordsFunctionThatStopsEndsTheWholeArchive) {
    std::string archive;
    for (const char* host : {"a", "b", "c"})
        archive += Record("resource", std::string("http://") + host + ".jp/",
                          std::string("<a href=\"http://") + host + ".jp/r/\">");
    for (bool compressed : {false, true})
        for (int flags : kReadings) {
            File file(compressed ? Deflated(archive) : archive);
            std::string calls = EntriesOf(fileno(file.file), -1, flags, 1);
            // One record's records, handed over once; nothing of the records behind it.
            EXPECT_EQ(calls.substr(0, calls.find("end")), "begin 1 in\nbegin 2 http://a.jp/\nhttp://a.jp/r/\r\n")
                << compressed << flags;
            EXPECT_EQ(calls.substr(calls.find("end")).find("begin"), std::string::npos) << calls;
            EXPECT_NE(calls.find("\nend 1 2 "), std::string::npos) << calls;
            EXPECT_NE(calls.find("\nresult -1 2 "), std::string::npos) << calls;
        }
}

// The same bytes from a read function: plain, compressed, an archive, by
// either reading (against the page's address with TALVERON_HTML).
TEST(HarvestStream, GivesWhatHarvestInputGivesOnTheSameBytes) {
    std::mt19937 rng(8);
    std::string page = "<a href=x.html>";
    while (page.size() < 300000) page += RandomPage(rng, 400);
    std::string archive = Record("response", "http://a.jp/", Response("Content-Encoding: gzip\r\n", Deflated(page))) +
                          "noise\r\n\r\n" + Record("resource", "http://b.jp/", page.substr(0, 5000));
    for (const std::string& bytes : {page, Deflated(page), archive, Deflated(archive.substr(0, 999)) + Deflated(archive.substr(999))})
        for (int flags : {0, TALVERON_DECOMPRESS, TALVERON_DECOMPRESS | TALVERON_HTML}) {
            File file(bytes);
            std::string input = EntriesOf(fileno(file.file), -1, flags);
            lseek(fileno(file.file), 0, SEEK_SET);
            EXPECT_EQ(EntriesOf(fileno(file.file), -1, flags, 0, true), input) << bytes.size() << " " << flags;
            if (flags) {
                EXPECT_NE(input.find(flags & TALVERON_HTML ? "/x.html\r\n" : "\r\n"), std::string::npos);
            }
        }
}

// Everything a sink is told, as lines: entries, records, links' fields,
// statuses (a status of 404 or 500 passed over), what is passed.
std::string Told(const std::string& archive, int flags, int links, int format = TALVERON_FORMAT_LINES) {
    File file(archive);
    std::string told;
    talveron_input_sink sink = {};
    sink.search.context = &told;
    sink.search.records = [](void* c, const char* bytes, size_t length) {
        static_cast<std::string*>(c)->append(bytes, length);
        return 0;
    };
    sink.search.links = links;
    sink.search.format = format;
    sink.search.link = [](void* c, const talveron_link* l) {
        *static_cast<std::string*>(c) += std::string("link ") + (l->element ? l->element : "-") + " " +
                                         (l->attribute ? l->attribute : "-") + " " + std::to_string(l->offset) + " " +
                                         std::string(l->url, l->url_length) + "\n";
        return 0;
    };
    sink.begin = [](void* c, int, const char* name) {
        *static_cast<std::string*>(c) += std::string("begin ") + name + "\n";
        return 0;
    };
    sink.passed = [](void* c, const char* type) { *static_cast<std::string*>(c) += std::string("passed ") + type + "\n"; };
    sink.status = [](void* c, int status) {
        *static_cast<std::string*>(c) += "status " + std::to_string(status) + "\n";
        return status == 404 || status == 500 ? 0 : 1;
    };
    talveron_result result;
    EXPECT_EQ(talveron_harvest_input(fileno(file.file), -1, "in", flags, "", &sink, &result), 0);
    return told;
}

// The status function hears each HTTP response before it is begun, and
// passes those it returns 0 for over, unheard of; others have no status.
TEST(HarvestInput, TheStatusFunctionPassesResponsesOverByTheirCode) {
    std::string archive = Record("response", "http://a.jp/", Response("", "<a href=\"http://a.jp/r\">")) +
                          Record("response", "http://b.jp/", "HTTP/1.1 404 No\r\n\r\n<a href=\"http://b.jp/r/\">") +
                          Record("resource", "http://c.jp/", "<a href=\"http://c.jp/r/\">") +
                          Record("response", "http://d.jp/", "HTTP/1.1 500 X\r\nContent-Encoding: lzw\r\n\r\nx") +
                          Record("response", "http://e.jp/", "HTTP/1.1 302 F\r\nLocation: /l\r\n\r\n<a href=\"http://e.jp/r/\">");
    EXPECT_EQ(Told(archive, 0, 0), "begin in\nstatus 200\nbegin http://a.jp/\nlink - - -1 http://a.jp/r/\nhttp://a.jp/r/\r\n"
                                   "status 404\nbegin http://c.jp/\nlink - - -1 http://c.jp/r/\nhttp://c.jp/r/\r\n"
                                   "status 500\nstatus 302\nbegin http://e.jp/\nlink - - -1 http://e.jp/r/\nhttp://e.jp/r/\r\n");
}

// With TALVERON_HTML, a 3xx response's Location and any Refresh header are
// records of their own, first of their record's, when redirects are asked
// for; a redirect that is no page is searched for its header alone then.
// (Passes once the standards search makes header links: the html branch.
// The header's record is handed over before the body's first read.)
TEST(HarvestLinks, AnArchivesRedirectsAreRecordsWhenAsked) {
    std::string archive =
        Record("response", "http://a.jp/", "HTTP/1.1 301 M\r\nLocation: /moved\r\n\r\n<a href=/body>") +
        Record("response", "http://b.jp/", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nRefresh: 0; url=/next\r\n\r\n<a href=/page>") +
        Record("response", "http://c.jp/", "HTTP/1.1 302 F\r\nContent-Type: image/png\r\nLocation: http://x.jp/\r\n\r\n<a href=/no>");
    EXPECT_EQ(Told(archive, TALVERON_HTML, TALVERON_LINK_A),
              "begin in\nstatus 301\nbegin http://a.jp/\nlink a href 0 http://a.jp/body\nhttp://a.jp/body\r\n"
              "status 200\nbegin http://b.jp/\nlink a href 0 http://b.jp/page\nhttp://b.jp/page\r\n"
              "passed image/png\n");
    EXPECT_EQ(Told(archive, TALVERON_HTML, TALVERON_LINK_A | TALVERON_LINK_REDIRECT),
              "begin in\nstatus 301\nbegin http://a.jp/\nlink http location -1 http://a.jp/moved\nhttp://a.jp/moved\r\n"
              "link a href 0 http://a.jp/body\nhttp://a.jp/body\r\n"
              "status 200\nbegin http://b.jp/\nlink http refresh -1 http://b.jp/next\nhttp://b.jp/next\r\n"
              "link a href 0 http://b.jp/page\nhttp://b.jp/page\r\n"
              "status 302\nbegin http://c.jp/\nlink http location -1 http://x.jp/\nhttp://x.jp/\r\n");
}

// The sink's format, links, unique and no_fragment reach the standards
// search. (Passes once the html branch is merged.)
TEST(HarvestLinks, TheSinksFieldsReachTheStandardsSearch) {
    std::string page = "<a href=\"http://x.jp/#a\">t</a><a href=\"http://x.jp/#b\"><iframe src=\"http://f.jp/\">";
    File file(page);
    std::string told;
    talveron_input_sink sink = {};
    sink.search.context = &told;
    sink.search.records = [](void* c, const char* bytes, size_t length) {
        static_cast<std::string*>(c)->append(bytes, length);
        return 0;
    };
    sink.search.format = TALVERON_FORMAT_JSON;
    sink.search.links = TALVERON_LINK_A | TALVERON_LINK_FRAME;
    sink.search.unique = 1;
    sink.search.no_fragment = 1;
    sink.search.lf_line_ends = 1;
    sink.search.link = [](void* c, const talveron_link* l) {
        *static_cast<std::string*>(c) += std::string(l->element) + " " + l->attribute + " " + std::to_string(l->offset) +
                                         " " + std::string(l->href, l->href_length) + "\n";
        return 0;
    };
    EXPECT_EQ(talveron_harvest_links(fileno(file.file), -1, "in", "", 0, "", &sink, nullptr), 0);
    ASSERT_NE(told.find('{'), std::string::npos) << told;
    EXPECT_EQ(told.substr(0, told.find('{')), "a href 0 http://x.jp/#a\niframe src " +
                                                  std::to_string(page.find("<iframe")) + " http://f.jp/\n");
    EXPECT_EQ(told.substr(told.find('{')).find("{\"url\":\"http://x.jp/\",\"href\":"), 0u) << told;
    EXPECT_NE(told.find("\n{\"url\":\"http://f.jp/\",\"href\":"), std::string::npos) << told;
}

TEST(HarvestInput, NothingBehindTheSizeGivenIsRead) {
    // Each input cut where `size` ends reads as the bytes in front of it alone.
    std::mt19937 rng(7);
    std::string noise(1600 * 1024, '\0');  // beyond compression: a gzip file large enough to be read in segments
    for (char& c : noise) c = static_cast<char>(rng() % 64 + ' ');
    const std::string page = "<a href=\"http://a.jp/\">", behind = "<a href=\"http://b.jp/\">";
    const std::string archive = Record("resource", "http://a.jp/", page);
    const std::string gzipBehind = Deflated(behind), archiveBehind = Record("resource", "http://b.jp/", behind);
    const std::pair<std::string, std::size_t> inputs[] = {  // an input, and the size given
        {page + behind, page.size()},
        {Deflated(page) + gzipBehind, Deflated(page).size()},
        {Deflated(page) + gzipBehind, Deflated(page).size() + 10},  // a member cut by the size
        {Zstd(page) + Zstd(behind), Zstd(page).size()},
        {Deflated(noise + page) + gzipBehind, Deflated(noise + page).size() + 10},
        {archive + archiveBehind, archive.size()},
        {archive + archiveBehind, archive.size() + 50},  // a record's header cut by the size
        {Deflated(archive) + Deflated(archiveBehind), Deflated(archive).size()},
    };
    for (const auto& input : inputs)
        for (int flags : kReadings) {
            File alone(input.first.substr(0, input.second)), whole(input.first);
            EXPECT_EQ(EntriesOf(fileno(whole.file), static_cast<long long>(input.second), flags),
                      EntriesOf(fileno(alone.file), -1, flags))
                << &input - inputs << " " << flags;
        }
}

}  // namespace

namespace {

// The bytes that each entry's result gives, as "entry:bytes" in order, and the input's last.
std::string BytesOf(int fd, int flags) {
    std::string told;
    talveron_input_sink sink = {};
    sink.search.context = &told;
    sink.search.records = [](void*, const char*, size_t) { return 0; };
    sink.end = [](void* c, int entry, const talveron_result* result, const char*) {
        *static_cast<std::string*>(c) += std::to_string(entry) + ":" + std::to_string(result->bytes) + " ";
    };
    talveron_result result;
    if (flags & TALVERON_HTML)
        talveron_harvest_links(fd, -1, "in", "http://p.jp/", flags, "", &sink, &result);
    else
        talveron_harvest_input(fd, -1, "in", flags, "", &sink, &result);
    return told + std::to_string(result.bytes);
}

TEST(HarvestInput, EachEntryGivesTheBytesItRead) {
    // A page's are its own (decompressed); a record's its page's (the body
    // decoded); an archive's all of its own, read by both readings alike.
    const std::string page = LinkPage(300);
    const std::string archive =
        Record("response", "http://a.jp/", Response("Transfer-Encoding: chunked\r\nContent-Encoding: gzip\r\n",
                                                    Chunked(Deflated(page), 1000))) +
        Record("resource", "http://b.jp/", page.substr(0, 1234)) + Record("metadata", "http://c.jp/", page);
    const std::string pageBytes = std::to_string(page.size()), archiveBytes = std::to_string(archive.size());
    const struct {
        std::string input, expected;
    } cases[] = {
        {page, "0:" + pageBytes + " " + pageBytes},
        {Deflated(page), "0:" + pageBytes + " " + pageBytes},
        {archive, "2:" + pageBytes + " 2:1234 1:" + archiveBytes + " " + archiveBytes},
        {Zstd(archive), "2:" + pageBytes + " 2:1234 1:" + archiveBytes + " " + archiveBytes},
    };
    for (const auto& c : cases)
        for (int flags : kReadings) {
            File file(c.input);
            EXPECT_EQ(BytesOf(fileno(file.file), flags), c.expected) << &c - cases << " " << flags;
        }
}

}  // namespace

namespace {

// The records of an archive, each from its own page, as either reading gives
// them: the standards read a record whose media type is HTML's or XHTML's
// (or none) and pass over the others by the type; the module's rules read
// every response's and resource's page whatever it says it is.
TEST(HarvestLinks, OnlyHtmlAndXhtmlRecordsAreReadByTheStandardsAndAllByTheModulesRules) {
    const struct {
        const char* type;  // WARC-Type
        std::string head;  // the resource's WARC Content-Type, or the response's HTTP header block
        const char* passedAs;  // by the standards; null: searched
    } cases[] = {
        {"response", "HTTP/1.1 200 OK\r\nContent-Type: application/xhtml+xml\r\n\r\n", nullptr},
        {"response", "HTTP/1.1 200 OK\r\nContent-Type:Application/XHTML+XML ; charset=utf-8\r\n\r\n", nullptr},
        {"response", "HTTP/1.1 200 OK\r\ncontent-type:  TEXT/html\r\n\r\n", nullptr},
        {"response", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\n", nullptr},
        {"response", "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n", "text/xml"},
        {"response", "HTTP/1.1 200 OK\r\nContent-Type: application/xhtml\r\n\r\n", "application/xhtml"},
        {"response", "HTTP/1.1 200 OK\r\nContent-Type: text/html-sandboxed\r\n\r\n", "text/html-sandboxed"},
        {"response", "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n\r\n", "image/png"},
        // The final response's type counts, not an interim one's.
        {"response", "HTTP/1.1 103 Early\r\nContent-Type: text/css\r\n\r\nHTTP/1.1 200 OK\r\nContent-Type: "
                     "application/xhtml+xml\r\n\r\n", nullptr},
        {"response", "HTTP/1.1 103 Early\r\nContent-Type: text/html\r\n\r\nHTTP/1.1 200 OK\r\nContent-Type: "
                     "text/plain\r\n\r\n", "text/plain"},
        {"resource", "application/xhtml+xml", nullptr},
        {"resource", "", nullptr},
        {"resource", "text/plain; charset=utf-8", "text/plain"},
    };
    std::string archive;
    for (const auto& c : cases) {
        std::string host = "http://r" + std::to_string(&c - cases) + ".jp/";
        std::string page = "<a href=\"" + host + "\">";
        bool resource = std::string(c.type) == "resource";
        std::string block = resource ? page : c.head + page;
        archive += "WARC/1.1\r\nWARC-Type: " + std::string(c.type) + "\r\nWARC-Target-URI: <" + host + ">\r\n" +
                   (resource && !c.head.empty() ? "Content-Type: " + c.head + "\r\n" : "") +
                   "Content-Length: " + std::to_string(block.size()) + "\r\n\r\n" + block + "\r\n\r\n";
    }
    File file(archive);
    for (int flags : {0, TALVERON_HTML}) {
        std::string expected, told;
        for (const auto& c : cases)
            expected += !(flags & TALVERON_HTML) || !c.passedAs ? "http://r" + std::to_string(&c - cases) + ".jp/\r\n"
                                                                : std::string("passed ") + c.passedAs + "\n";
        talveron_input_sink sink = {};
        sink.search.context = &told;
        sink.search.records = [](void* c, const char* bytes, size_t length) {
            static_cast<std::string*>(c)->append(bytes, length);
            return 0;
        };
        sink.passed = [](void* c, const char* type) { *static_cast<std::string*>(c) += std::string("passed ") + type + "\n"; };
        lseek(fileno(file.file), 0, SEEK_SET);
        EXPECT_EQ(talveron_harvest_input(fileno(file.file), -1, "in", flags, "", &sink, nullptr), 0);
        EXPECT_EQ(told, expected) << flags;
    }
}

}  // namespace

namespace {

// talveron_harvest_path closes what it opens, whatever the input and
// however its search ends: thousands of calls under a limit of a few
// descriptors more than are open all succeed (in a child, whose limit is
// its own).
struct PathInput {
    std::string name, bytes;
    int status;
};

[[noreturn]] void HarvestPathsUnderALowLimit(const std::string& dir, const std::vector<PathInput>& inputs) {
    long open = 0;
    for (int fd = 0; fd < 1024; ++fd) open += fcntl(fd, F_GETFD) != -1;
    rlimit low = {static_cast<rlim_t>(open + 8), static_cast<rlim_t>(open + 8)};
    if (setrlimit(RLIMIT_NOFILE, &low) != 0) _exit(3);
    talveron_input_sink sink = {};
    sink.search.records = [](void*, const char*, size_t) { return 0; };
    for (int round = 0; round < 1000; ++round)
        for (const PathInput& input : inputs) {
            talveron_result result;
            talveron_harvest_path((dir + "/" + input.name).c_str(), TALVERON_DECOMPRESS, "", &sink, &result);
            if (result.status != input.status) {
                std::fprintf(stderr, "%s: status %d, errno %d at round %d\n", input.name.c_str(), result.status,
                             result.read_errno, round);
                _exit(1);
            }
        }
    _exit(0);
}

TEST(HarvestPathDeathTest, ClosesEveryDescriptorOverThousandsOfCalls) {
    char dir[] = "/tmp/talveron-path-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string page = "<a href=\"http://a.jp/\">", archive = Record("resource", "http://r.jp/", page);
    const std::vector<PathInput> inputs = {{"p.html", page, TALVERON_COMPLETED},
                                           {"p.html.gz", Deflated(page), TALVERON_COMPLETED},
                                           {"a.warc", archive, TALVERON_COMPLETED},
                                           {"a.warc.zst", Zstd(archive), TALVERON_COMPLETED},
                                           {"cut.html.gz", Deflated(page).substr(0, 20), TALVERON_COMPLETED},
                                           {"d", "", TALVERON_READ_FAILED}};
    for (const PathInput& input : inputs) {
        std::string path = std::string(dir) + "/" + input.name;
        if (input.name == "d") {
            ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        } else {
            std::FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fwrite(input.bytes.data(), 1, input.bytes.size(), f);
            std::fclose(f);
        }
    }
    EXPECT_EXIT(HarvestPathsUnderALowLimit(dir, inputs), ::testing::ExitedWithCode(0), "");
    for (const PathInput& input : inputs) {
        std::string path = std::string(dir) + "/" + input.name;
        input.name == "d" ? rmdir(path.c_str()) : unlink(path.c_str());
    }
    rmdir(dir);
}

}  // namespace
