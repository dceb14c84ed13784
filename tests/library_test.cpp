// talveron_harvest as a program that links the library calls it: what it
// reports, from where it counts, a descriptor that is not always ready,
// and the export's message handler left as the caller set it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "talveron.h"
#include "runtime/runtime.h"

namespace {

struct Collected {
    std::string records;
    std::string rejected;  // "offset:address;" each
};

int Records(void* context, const char* bytes, size_t length) {
    static_cast<Collected*>(context)->records.append(bytes, length);
    return 0;
}

void Rejected(void* context, int, int, long long offset, const char* address, size_t length) {
    static_cast<Collected*>(context)->rejected += std::to_string(offset) + ":" + std::string(address, length) + ";";
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
