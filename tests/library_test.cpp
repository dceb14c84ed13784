// talveron_harvest as a program that links the library calls it: what it
// reports, from where it counts, a descriptor that is not always ready,
// and the export's message handler left as the caller set it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <iconv.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <random>
#include <set>
#include <vector>
#include <cstdlib>
#include <string>
#include <thread>

#include "api/record_rewriter.h"
#include "messages/levels.h"
#include "runtime/runtime.h"
#include "search/json_text.h"
#include "search/searcher.h"
#include "talveron.h"
#include "talveron_legacy.h"
#include "tests/random_pages.h"
#include "tests/scan_model.h"

namespace {

struct Collected {
    std::string records;
    std::string rejected;  // "offset:address;" each
    std::vector<std::pair<int, std::string>> messages;
};

int Records(void* context, const char* bytes, size_t length) {
    static_cast<Collected*>(context)->records.append(bytes, length);
    return 0;
}

void Rejected(void* context, int, int, long long offset, const char* address, size_t length) {
    static_cast<Collected*>(context)->rejected += std::to_string(offset) + ":" + std::string(address, length) + ";";
}

void Message(void* context, int level, const char* text) {
    static_cast<Collected*>(context)->messages.emplace_back(level, text);
}

// Shift_JIS bytes as iconv reads code page 932, in UTF-8.
std::string FromCp932(const char* text) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "(no CP932 converter)";
    char buffer[256];
    char* in = const_cast<char*>(text);
    char* out = buffer;
    size_t left = std::strlen(text), room = sizeof buffer;
    size_t rc = iconv(cd, &in, &left, &out, &room);
    iconv_close(cd);
    return rc == static_cast<size_t>(-1) ? "(not CP932)" : std::string(buffer, out);
}

talveron_sink SinkFor(Collected& collected) {
    talveron_sink sink = {};
    sink.context = &collected;
    sink.records = Records;
    sink.rejected = Rejected;
    sink.lf_line_ends = 1;
    return sink;
}

std::string s_exportMessage;
void ExportHandler(const char* text, const char*) { s_exportMessage = text; }

// The string a caller adds to a record is the records' own, written only
// where it fits with its 0 byte.
TEST(LibraryJsonString, IsTheRecordsStringWrittenOnlyWithRoom) {
    const std::string text("page \"\\\n\xff\xe3\x81\x82\0name", 17);
    std::string want;
    AppendJsonText(want, text);
    ASSERT_EQ(talveron_json_string(text.data(), text.size(), nullptr, 0), static_cast<long long>(want.size()));
    std::string buffer(want.size(), '#');
    EXPECT_EQ(talveron_json_string(text.data(), text.size(), &buffer[0], buffer.size()),
              static_cast<long long>(want.size()));
    EXPECT_EQ(buffer, std::string(want.size(), '#'));
    buffer.assign(want.size() + 1, '#');
    talveron_json_string(text.data(), text.size(), &buffer[0], buffer.size());
    EXPECT_EQ(buffer, want + '\0');
    EXPECT_EQ(talveron_json_string(nullptr, 0, &buffer[0], buffer.size()), 2);
    EXPECT_STREQ(buffer.c_str(), "\"\"");
}

TEST(LibraryHarvest, OffsetsAndBytesCountFromWhereTheDescriptorStood) {
    char path[] = "/tmp/talveron-library-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_NE(fd, -1);
    const std::string page = "skipped...<a href=\"http://ads.jp\"> <a href=\"http://ok.jp\">";
    ASSERT_EQ(write(fd, page.data(), page.size()), static_cast<ssize_t>(page.size()));
    ASSERT_EQ(lseek(fd, 10, SEEK_SET), 10);
    Collected collected;
    talveron_sink sink = SinkFor(collected);
    talveron_result result;
    EXPECT_EQ(talveron_harvest(fd, "ads", &sink, &result), 0);
    EXPECT_EQ(collected.records, "http://ok.jp/\n");
    EXPECT_EQ(collected.rejected, "0:http://ads.jp/;");
    EXPECT_EQ(result.bytes, static_cast<long long>(page.size()) - 10);
    close(fd);
    unlink(path);
}

TEST(LibraryHarvest, AReadErrorIsAFailure) {
    int fd = open("/tmp", O_RDONLY | O_DIRECTORY);
    ASSERT_NE(fd, -1);
    Collected collected;
    talveron_sink sink = SinkFor(collected);
    talveron_result result;
    EXPECT_EQ(talveron_harvest(fd, "", &sink, &result), -1);
    EXPECT_EQ(result.read_errno, EISDIR);
    close(fd);
}

// The start is information and the failed read an error, told in UTF-8.
TEST(LibraryHarvest, MessagesComeInUtf8WithTheirLevels) {
    int fd = open("/tmp", O_RDONLY | O_DIRECTORY);
    ASSERT_NE(fd, -1);
    Collected collected;
    talveron_sink sink = SinkFor(collected);
    sink.message = Message;
    EXPECT_EQ(talveron_harvest(fd, "", &sink, nullptr), -1);
    close(fd);
    const std::vector<std::pair<int, std::string>> expected = {
        {TALVERON_INFORMATION, FromCp932(MSG_SEARCH_START)}, {TALVERON_ERROR, FromCp932(MSG_FILE_ERROR)}};
    EXPECT_EQ(collected.messages, expected);
}

// Each message's UTF-8 text is its Shift_JIS text, and tells it apart.
TEST(LibraryHarvest, EveryMessageReadsInUtf8AsItsShiftJisBytes) {
    for (const MessageForms& forms : kMessageForms) {
        EXPECT_EQ(forms.utf8, FromCp932(forms.text));
        EXPECT_EQ(FormsOfTold(forms.level, forms.utf8), &forms) << forms.utf8;
    }
}

TEST(LibraryHarvest, ANonBlockingDescriptorIsWaitedFor) {
    // An anchor cut in two by a pause of the writer: the reader meets
    // EAGAIN between its halves.
    int pipes[2];
    ASSERT_EQ(pipe(pipes), 0);
    fcntl(pipes[0], F_SETFL, fcntl(pipes[0], F_GETFL) | O_NONBLOCK);
    std::thread writer([&] {
        const char first[] = "<a hr", second[] = "ef=\"http://a.jp\">";
        ssize_t ignored = write(pipes[1], first, sizeof first - 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ignored = write(pipes[1], second, sizeof second - 1);
        (void)ignored;
        close(pipes[1]);
    });
    Collected collected;
    talveron_sink sink = SinkFor(collected);
    talveron_result result;
    EXPECT_EQ(talveron_harvest(pipes[0], "", &sink, &result), 0);
    writer.join();
    EXPECT_EQ(collected.records, "http://a.jp/\n");
    EXPECT_EQ(result.read_errno, 0);
    close(pipes[0]);
}

TEST(LibraryHarvest, TwoThreadsEachGetTheirOwnRecords) {
    // Both searches run at once, each fed a piece at a time, so that one's
    // reads come while the other's are waiting.
    std::string records[2];
    std::thread threads[2];
    for (int t = 0; t < 2; ++t) {
        threads[t] = std::thread([t, &records] {
            int pipes[2];
            if (pipe(pipes) != 0) return;
            std::thread writer([&] {
                for (int i = 0; i < 200; ++i) {
                    std::string piece = "<a href=\"http://t" + std::to_string(t) + "-" + std::to_string(i) + ".jp\">";
                    ssize_t ignored = write(pipes[1], piece.data(), piece.size());
                    (void)ignored;
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                close(pipes[1]);
            });
            Collected collected;
            talveron_sink sink = SinkFor(collected);
            talveron_harvest(pipes[0], "", &sink, nullptr);
            writer.join();
            close(pipes[0]);
            records[t] = collected.records;
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 2; ++t) {
        std::string expected;
        for (int i = 0; i < 200; ++i) expected += "http://t" + std::to_string(t) + "-" + std::to_string(i) + ".jp/\n";
        EXPECT_EQ(records[t], expected) << t;
    }
}

// A page in a file of its own, read from its start.
struct PageFile {
    explicit PageFile(const std::string& page) : file(std::tmpfile()) {
        std::fwrite(page.data(), 1, page.size(), file);
        std::fflush(file);
        lseek(fileno(file), 0, SEEK_SET);
    }
    ~PageFile() { std::fclose(file); }
    int fd() const { return fileno(file); }
    std::FILE* file;
};

int StopAtOnce(void*, const char*, size_t) { return 1; }

TEST(LibraryHarvest, TheStatusTellsHowTheSearchEnded) {
    const std::string page = ManyAnchors(20000);  // records fill the buffer many times over
    PageFile file(page);
    Collected collected;
    talveron_sink sink = SinkFor(collected);
    talveron_result result;

    EXPECT_EQ(talveron_harvest(file.fd(), "", &sink, &result), 0);
    EXPECT_EQ(result.status, TALVERON_COMPLETED);
    EXPECT_EQ(result.bytes, static_cast<long long>(page.size()));

    lseek(file.fd(), 0, SEEK_SET);
    sink.records = StopAtOnce;
    EXPECT_EQ(talveron_harvest(file.fd(), "", &sink, &result), -1);
    EXPECT_EQ(result.status, TALVERON_STOPPED);
    EXPECT_LT(result.bytes, static_cast<long long>(page.size()));  // no read after the stop

    int directory = open("/tmp", O_RDONLY | O_DIRECTORY);
    sink.records = Records;
    EXPECT_EQ(talveron_harvest(directory, "", &sink, &result), -1);
    EXPECT_EQ(result.status, TALVERON_READ_FAILED);
    EXPECT_EQ(result.read_errno, EISDIR);
    close(directory);

    sink.records = nullptr;
    EXPECT_EQ(talveron_harvest(file.fd(), "", &sink, &result), -1);
    EXPECT_EQ(result.status, TALVERON_BAD_ARGUMENTS);
    EXPECT_EQ(talveron_harvest(file.fd(), "", nullptr, &result), -1);
    EXPECT_EQ(result.status, TALVERON_BAD_ARGUMENTS);
}

TEST(LibraryHarvest, HttpsAnchorsAreAFlagOfTheCall) {
    PageFile file("<a href=\"https://s.jp\"> <a href=\"http://h.jp\">");
    Collected collected[2];
    for (int https = 0; https < 2; ++https) {
        lseek(file.fd(), 0, SEEK_SET);
        talveron_sink sink = SinkFor(collected[https]);
        sink.https = https;
        ASSERT_EQ(talveron_harvest(file.fd(), "", &sink, nullptr), 0);
    }
    EXPECT_EQ(collected[0].records, "http://h.jp/\n");
    EXPECT_EQ(collected[1].records, "https://s.jp/\nhttp://h.jp/\n");
}

TEST(LibraryHarvest, LineEndsAndProgress) {
    const std::string page = ManyAnchors(30000);
    PageFile file(page);
    struct Seen {
        std::string records;
        std::vector<long long> progress;
    } seen[2];
    for (int lf = 0; lf < 2; ++lf) {
        lseek(file.fd(), 0, SEEK_SET);
        talveron_sink sink = {};
        sink.context = &seen[lf];
        sink.records = [](void* context, const char* bytes, size_t length) {
            static_cast<Seen*>(context)->records.append(bytes, length);
            return 0;
        };
        sink.progress = [](void* context, long long bytes) { static_cast<Seen*>(context)->progress.push_back(bytes); };
        sink.lf_line_ends = lf;
        ASSERT_EQ(talveron_harvest(file.fd(), "", &sink, nullptr), 0);
    }
    std::string lfOnly = seen[0].records;
    lfOnly.erase(std::remove(lfOnly.begin(), lfOnly.end(), '\r'), lfOnly.end());  // records hold no CR
    EXPECT_EQ(seen[1].records, lfOnly);
    EXPECT_EQ(std::count(seen[0].records.begin(), seen[0].records.end(), '\n'), 60000);
    // Every read is told once, growing to the whole input.
    ASSERT_GT(seen[1].progress.size(), 2u);
    EXPECT_TRUE(std::is_sorted(seen[1].progress.begin(), seen[1].progress.end()));
    EXPECT_EQ(seen[1].progress.back(), static_cast<long long>(page.size()));
}

// A null keyword line is no keywords, in every call that takes one.
TEST(LibraryHarvest, ANullKeywordLineIsNone) {
    PageFile file("<a href=\"http://a.jp/\"> <a href=x.html>");
    Collected none, empty;
    talveron_sink sink = SinkFor(none);
    ASSERT_EQ(talveron_harvest(file.fd(), nullptr, &sink, nullptr), 0);
    EXPECT_EQ(talveron_harvest_range(file.fd(), 0, 40, nullptr, &sink, nullptr), 0);
    talveron_input_sink input = {};
    input.search = sink;
    lseek(file.fd(), 0, SEEK_SET);
    EXPECT_EQ(talveron_harvest_input(file.fd(), -1, "p", 0, nullptr, &input, nullptr), 0);
    lseek(file.fd(), 0, SEEK_SET);
    EXPECT_EQ(talveron_harvest_links(file.fd(), -1, "p", "http://b.jp/d/", 0, nullptr, &input, nullptr), 0);
    sink = SinkFor(empty);
    lseek(file.fd(), 0, SEEK_SET);
    ASSERT_EQ(talveron_harvest(file.fd(), "", &sink, nullptr), 0);
    EXPECT_EQ(none.records, empty.records + "http://a.jp/\nhttp://a.jp/\nhttp://a.jp/\nhttp://b.jp/d/x.html\n");
}

TEST(LibraryHarvest, ASinkMayStartASearchOfItsOwn) {
    PageFile outer("<a href=\"http://outer.jp\"> <a href=\"http://ads.outer.jp\">");
    PageFile inner("<a href=\"http://inner.jp\"> <a href=\"http://ads.inner.jp\">");
    struct Nested {
        int innerFd;
        std::string outer, inner;
    } nested = {inner.fd(), "", ""};
    talveron_sink sink = {};
    sink.context = &nested;
    sink.lf_line_ends = 1;
    sink.records = [](void* context, const char* bytes, size_t length) {
        Nested& n = *static_cast<Nested*>(context);
        n.outer.append(bytes, length);
        talveron_sink inner = {};
        inner.context = &n.inner;
        inner.lf_line_ends = 1;
        inner.records = [](void* c, const char* b, size_t l) {
            static_cast<std::string*>(c)->append(b, l);
            return 0;
        };
        // Its own keywords: the outer search's do not reach it.
        return talveron_harvest(n.innerFd, "none", &inner, nullptr);
    };
    talveron_result result;
    EXPECT_EQ(talveron_harvest(outer.fd(), "ads", &sink, &result), 0);
    EXPECT_EQ(nested.outer, "http://outer.jp/\n");
    EXPECT_EQ(nested.inner, "http://inner.jp/\nhttp://ads.inner.jp/\n");
}

TEST(LibraryHarvest, TwoThreadsAtOnceGiveWhatOneAfterTheOtherGives) {
    std::mt19937 rng(2);
    std::string pages[2], keywords[2] = {"s1 t2", "s2 t1"};
    for (std::string& page : pages)
        for (int i = 0; i < 300; ++i) page += RandomPage(rng, 30) + ManyAnchors(50);
    PageFile files[2] = {PageFile(pages[0]), PageFile(pages[1])};
    Collected alone[2], together[2];
    for (int t = 0; t < 2; ++t) {
        talveron_sink sink = SinkFor(alone[t]);
        ASSERT_EQ(talveron_harvest(files[t].fd(), keywords[t].c_str(), &sink, nullptr), 0);
        lseek(files[t].fd(), 0, SEEK_SET);
    }
    std::thread threads[2];
    for (int t = 0; t < 2; ++t)
        threads[t] = std::thread([&, t] {
            talveron_sink sink = SinkFor(together[t]);
            talveron_harvest(files[t].fd(), keywords[t].c_str(), &sink, nullptr);
        });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 2; ++t) {
        EXPECT_FALSE(alone[t].rejected.empty());
        EXPECT_EQ(together[t].records, alone[t].records) << t;
        EXPECT_EQ(together[t].rejected, alone[t].rejected) << t;
    }
}

// Strings from the builder, passed to the export as a C program passes
// them: the search writes OUT.TXT, and the call drops the reference it was
// handed (of two, one is left; of one, none: LeakSanitizer sees the rest).
TEST(LibraryLegacy, TheBuildersStringsCarryASearch) {
    EXPECT_EQ(talveron_legacy_string(nullptr), nullptr);
    talveron_legacy_string_free(nullptr);
    char dir[] = "/tmp/talveron-legacy-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string page = std::string(dir) + "/page.html", out = std::string(dir) + "/OUT.TXT";
    FILE* file = std::fopen(page.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("<a href=\"http://ads.jp\"> <a href=\"http://ok.jp\">", file);
    std::fclose(file);

    char* path = talveron_legacy_string(page.c_str());
    char* keywords = talveron_legacy_string("ads");
    ASSERT_TRUE(path && keywords);
    std::int32_t* header = reinterpret_cast<std::int32_t*>(path) - 3;
    EXPECT_EQ(header[0], 1);
    EXPECT_EQ(header[1], static_cast<std::int32_t>(page.size()));
    EXPECT_GE(header[2], header[1]);
    EXPECT_STREQ(path, page.c_str());
    header[0] = 2;  // a reference of our own
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir), 0);
    int status = BEGIN_SEARCH_ADD(path, keywords, 0, 0);
    ASSERT_EQ(chdir(here), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(header[0], 1);
    talveron_legacy_string_free(path);

    std::string written;
    file = std::fopen(out.c_str(), "rb");
    for (int c; file && (c = std::fgetc(file)) != EOF;) written += static_cast<char>(c);
    if (file) std::fclose(file);
    EXPECT_EQ(written, "http://ok.jp/\r\n");
    unlink(out.c_str());
    unlink(page.c_str());
    rmdir(dir);
}

TEST(LibraryHarvest, AMessageHandlerSetWhileAnotherThreadHarvestsStays) {
    int pipes[2];
    ASSERT_EQ(pipe(pipes), 0);
    Collected collected;
    talveron_sink sink = SinkFor(collected);
    std::thread harvest([&] { talveron_harvest(pipes[0], "", &sink, nullptr); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the harvest waits for its input
    talveron_set_message_handler(ExportHandler);
    close(pipes[1]);
    harvest.join();
    close(pipes[0]);
    s_exportMessage.clear();
    rt::MessageBoxA(nullptr, "still here", "ERROR", 4);
    EXPECT_EQ(s_exportMessage, "still here");
    talveron_set_message_handler(nullptr);
}

}  // namespace

// Bytes handed over by a function in reads of any length give what the
// byte-at-a-time search gives; a failure ends the search as a read error.
TEST(LibraryHarvest, AReadFunctionGivesWhatTheModelGives) {
    struct Source {
        std::string page;
        std::size_t at = 0, failAt = kReadable;
        std::mt19937 rng;
        static int Read(void* context, char* buffer, size_t size) {
            Source& s = *static_cast<Source*>(context);
            if (s.at >= s.failAt) return errno = EIO, -1;
            std::size_t n = std::min<std::size_t>({size, s.page.size() - s.at, 1 + s.rng() % 300});
            std::memcpy(buffer, s.page.data() + s.at, n);
            s.at += n;
            return static_cast<int>(n);
        }
    };
    std::mt19937 rng(77);
    for (int round = 0; round < 200; ++round) {
        Source source;
        source.page = RandomPage(rng, 1 + round % 40);
        source.rng.seed(round);
        const bool fails = round % 5 == 0;
        if (fails) source.failAt = source.page.size() / 2;
        std::string keywords = RandomKeywords(rng);
        // https anchors taken, passed over and counted to the first record,
        // or passed over and all counted.
        const int https = round % 3 == 0 ? 0 : round % 3 == 1 ? 1 : TALVERON_HTTPS_COUNTED;
        ModelRun model = ModelSearch(source.page, keywords, kReadable, https == 1);
        Collected collected;
        talveron_sink sink = SinkFor(collected);
        sink.lf_line_ends = 0;
        sink.https = https;
        talveron_result result;
        talveron_harvest_read(Source::Read, &source, keywords.c_str(), &sink, &result);
        if (fails) {
            EXPECT_EQ(result.status, TALVERON_READ_FAILED);
            EXPECT_EQ(result.read_errno, EIO);
            EXPECT_EQ(model.out.compare(0, collected.records.size(), collected.records), 0) << round;
        } else {
            EXPECT_EQ(result.status, TALVERON_COMPLETED);
            EXPECT_EQ(collected.records, model.out) << round;
            std::size_t passed = https == 1 ? 0 : https == 0 ? model.httpsBeforeFirstRecord : model.httpsPassedOver.size();
            EXPECT_EQ(result.https_passed_over, static_cast<long long>(passed)) << round;
            EXPECT_EQ(result.bytes, static_cast<long long>(source.page.size()));
        }
    }
}

namespace {

// A read function that hands over a page, then tells of more bytes than it
// was asked for.
struct Overcounting {
    std::string page;
    bool told = false;
    long long extra;
    static int Read(void* context, char* buffer, size_t size) {
        Overcounting& o = *static_cast<Overcounting*>(context);
        if (o.told) return static_cast<int>(std::min<long long>(size + o.extra, INT_MAX));
        o.told = true;
        std::memcpy(buffer, o.page.data(), o.page.size());
        return static_cast<int>(o.page.size());
    }
};

TEST(LibraryHarvest, ACountAboveWhatWasAskedForIsAFailedRead) {
    for (long long extra : {1ll, 100000ll, static_cast<long long>(INT_MAX)}) {
        Overcounting source;
        source.page = "<a href=\"http://a.jp/\">";
        source.extra = extra;
        Collected collected;
        talveron_sink sink = SinkFor(collected);
        talveron_result result;
        EXPECT_EQ(talveron_harvest_read(Overcounting::Read, &source, "", &sink, &result), -1) << extra;
        EXPECT_EQ(result.status, TALVERON_READ_FAILED) << extra;
        EXPECT_EQ(result.read_errno, EINVAL) << extra;
        EXPECT_EQ(result.bytes, static_cast<long long>(source.page.size())) << extra;
        EXPECT_EQ(collected.records, "http://a.jp/\n") << extra;
    }
}

}  // namespace

namespace {

// The end of a read function's input is asked once, however the page ends:
// in an address, an anchor's opening or nowhere special.
TEST(LibraryHarvest, AReadFunctionIsNotAskedAgainAfterItsEnd) {
    struct Once {
        std::string page;
        std::size_t at = 0;
        bool ended = false;
        int after = 0;  // calls after the one that gave the end
        static int Read(void* context, char* buffer, size_t size) {
            Once& o = *static_cast<Once*>(context);
            if (o.ended) return ++o.after, 0;
            std::size_t n = std::min(size, o.page.size() - o.at);
            std::memcpy(buffer, o.page.data() + o.at, n);
            o.at += n;
            o.ended = n == 0;
            return static_cast<int>(n);
        }
    };
    for (const char* page : {"<a href=\"http://a.jp", "<a hr", "<", "", "<a href=\"http://a.jp\">"}) {
        Once source{page};
        Collected collected;
        talveron_sink sink = SinkFor(collected);
        talveron_result result;
        EXPECT_EQ(talveron_harvest_read(Once::Read, &source, "", &sink, &result), 0) << page;
        EXPECT_EQ(source.after, 0) << page;
        EXPECT_EQ(result.bytes, static_cast<long long>(source.page.size())) << page;
    }
}

// Run in a process of its own: `fd` harvested with no more address space
// than is mapped now and `room` bytes (the search's buffers are mapped on their
// own, not cut from the heap). Its exit code: the status times 10, plus 4
// when the call returned 0, 2 when bytes were read, 1 when records came.
int HarvestWithin(int fd, unsigned long long room) {
    mallopt(M_MMAP_THRESHOLD, 4096);
    malloc_trim(0);
    char statm[64] = {};  // the pages mapped, read without allocating
    int proc = open("/proc/self/statm", O_RDONLY);
    ssize_t ignored = read(proc, statm, sizeof statm - 1);
    (void)ignored;
    close(proc);
    const rlimit limit = {std::strtoull(statm, nullptr, 10) * sysconf(_SC_PAGESIZE) + room, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    static bool records = false;
    talveron_sink sink = {};
    sink.records = [](void*, const char*, size_t) { return records = true, 0; };
    talveron_result result;
    int rc = talveron_harvest(fd, "", &sink, &result);
    return result.status * 10 + (rc == 0 ? 4 : 0) + (result.bytes > 0 ? 2 : 0) + (records ? 1 : 0);
}

// Buffers that cannot be had, the first or the second: the call tells it,
// having read nothing and handed over nothing, and throws nothing.
TEST(LibraryMemory, BuffersThatCannotBeHadAreTold) {
#ifdef TALVERON_SANITIZED
    GTEST_SKIP() << "the sanitizers' allocator ends the process when memory runs out";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a new process: its heap as at start
    PageFile file("<a href=\"http://a.jp\">");
    EXPECT_EXIT(_exit(HarvestWithin(file.fd(), 0)), ::testing::ExitedWithCode(TALVERON_OUT_OF_MEMORY * 10), "");
    EXPECT_EXIT(_exit(HarvestWithin(file.fd(), Searcher::kBlockSize + 16 * 1024)),
                ::testing::ExitedWithCode(TALVERON_OUT_OF_MEMORY * 10), "");
    EXPECT_EXIT(_exit(HarvestWithin(file.fd(), 4 << 20)), ::testing::ExitedWithCode(4 + 2 + 1), "");
}

}  // namespace

namespace {

// Records as a search hands them over.
struct Gathered final : SearchSink {
    std::string records;
    bool Records(const char* bytes, std::size_t length) override {
        records.append(bytes, length);
        return true;
    }
};

// Python's json (strict) reads each JSON record back: one object whose only
// key is "url", the address with its bytes that are not UTF-8 as %XX.
const char kJsonRecordsCheck[] = R"(
import codecs, json, sys
codecs.register_error('pct', lambda e: (''.join('%%%02X' % b for b in e.object[e.start:e.end]), e.end))
raw, made = open(sys.argv[1], 'rb').read().split(b'\0')
raw, made = raw.split(b'\n')[:-1], made.split(b'\n')[:-1]
bad = [(a, m) for a, m in zip(raw, made)
       if list(json.loads(m.decode('utf-8'))) != ['url'] or json.loads(m)['url'] != a.decode('utf-8', 'pct')]
print(len(raw), len(made), bad[:3])
)";

TEST(LibraryRecords, JsonRecordsReadBackByPythonAsTheirAddresses) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    std::vector<std::string> addresses = {
        "http://a.jp/\x83\x41\x82\xa0", "http://a.jp/\xc3(",          "http://a.jp/\xed\xa0\x80x",
        "http://a.jp/\xf4\x90\x80\x80", "http://a.jp/\xe3\x81",       "http://a.jp/\xc3\xa9\xf0\x9f\x98\x80",
        "http://a.jp/\\q\"\x01\x1f\x7f\t\b\f", "http://a.jp/\xff\xfe\xc0\xaf\xf8"};
    std::mt19937 rng(9);
    for (int i = 0; i < 300; ++i) {
        std::string address = "http://r.jp/";
        for (int n = rng() % 40; n > 0; --n) address += static_cast<char>(rng() % 2 ? 0x80 + rng() % 128 : rng() % 128);
        address.erase(std::remove(address.begin(), address.end(), '\n'), address.end());
        address.erase(std::remove(address.begin(), address.end(), '\0'), address.end());
        addresses.push_back(address);
    }
    std::string raw;
    for (const std::string& address : addresses) raw += address + "\n";
    talveron_sink sink = {};
    sink.format = TALVERON_FORMAT_JSON;
    sink.lf_line_ends = 1;
    Gathered made;
    RecordRewriter rewriter(made, sink);
    ASSERT_TRUE(rewriter.Records(raw.data(), raw.size()));
    char path[] = "/tmp/talveron-json-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string both = raw + '\0' + made.records;
    ASSERT_EQ(write(fd, both.data(), both.size()), static_cast<ssize_t>(both.size()));
    close(fd);
    std::string command = "/usr/bin/python3 -c \"$TALVERON_JSON_CHECK\" " + std::string(path);
    setenv("TALVERON_JSON_CHECK", kJsonRecordsCheck, 1);
    std::FILE* python = popen(command.c_str(), "r");
    ASSERT_NE(python, nullptr);
    char said[4096] = {};
    std::size_t got = std::fread(said, 1, sizeof said - 1, python);
    pclose(python);
    unlink(path);
    std::string count = std::to_string(addresses.size());
    EXPECT_EQ(std::string(said, got), count + " " + count + " []\n");
}

// Each part of a file searched by talveron_harvest_range is a page of its
// own: its addresses once each, cut at their '#', as its own records make them.
TEST(LibraryRecords, UniqueAndNoFragmentHoldForEachRangeOnItsOwn) {
    std::string page;
    for (int i = 0; i < 4000; ++i)
        page += "<a href=\"http://h" + std::to_string(i % 37) + ".jp/" + std::to_string(i % 11) + "#f" +
                std::to_string(i % 3) + "\">" + std::string(i % 50, 'x');
    PageFile file(page);
    for (int unique : {0, 1})
        for (int noFragment : {0, 1}) {
            long long start = 0;
            for (int part = 1; start < static_cast<long long>(page.size()); ++part) {
                long long end = part == 5 ? page.size() : talveron_cut(file.fd(), page.size() * part / 5, 4096);
                Collected plain, made;
                talveron_sink sink = SinkFor(plain);
                talveron_result result;
                ASSERT_EQ(talveron_harvest_range(file.fd(), start, end, "", &sink, &result), 0);
                sink = SinkFor(made);
                sink.unique = unique;
                sink.no_fragment = noFragment;
                ASSERT_EQ(talveron_harvest_range(file.fd(), start, end, "", &sink, &result), 0);
                std::string expected;
                std::set<std::string> seen;
                for (std::size_t at = 0, lf; (lf = plain.records.find('\n', at)) != std::string::npos; at = lf + 1) {
                    std::string address = plain.records.substr(at, lf - at);
                    if (noFragment) address = address.substr(0, address.find('#'));
                    if (!unique || seen.insert(address).second) expected += address + "\n";
                }
                EXPECT_EQ(made.records, expected) << unique << noFragment << " part " << part;
                start = result.next;
            }
        }
}

// The link function by the module's rules: each record's address alone, as
// written to the records (no JSON, no fragment), before the record; a
// result other than 0 stops the search there.
TEST(LibraryRecords, TheLinkFunctionGetsEachAddressAloneAndMayStop) {
    struct Links {
        std::string records, told;
        int calls = 0;
    } links;
    talveron_sink sink = {};
    sink.context = &links;
    sink.records = [](void* c, const char* bytes, size_t length) {
        static_cast<Links*>(c)->records.append(bytes, length);
        return 0;
    };
    sink.link = [](void* c, const talveron_link* link) {
        Links& l = *static_cast<Links*>(c);
        bool none = !link->href && !link->element && !link->attribute && !link->text && !link->rel && link->offset == -1;
        l.told += std::string(link->url, link->url_length) + (none ? "\n" : " with fields\n");
        return ++l.calls == 3 ? 1 : 0;
    };
    sink.format = TALVERON_FORMAT_JSON;
    sink.no_fragment = 1;
    PageFile file("<a href=\"http://a.jp/1#x\"><a href=\"http://b.jp/\\x/\"><a href=\"http://c.jp/\"><a href=\"http://d.jp/\">");
    talveron_result result;
    EXPECT_EQ(talveron_harvest(file.fd(), "", &sink, &result), -1);
    EXPECT_EQ(result.status, TALVERON_STOPPED);
    EXPECT_EQ(links.told, "http://a.jp/1\nhttp://b.jp/\\x/\nhttp://c.jp/\n");
    EXPECT_EQ(links.records, "{\"url\":\"http://a.jp/1\"}\r\n{\"url\":\"http://b.jp/\\\\x/\"}\r\n");
}

}  // namespace
