// Two searches of one large page through the library, one after the other
// and then on two threads at once: the library's calls share nothing, so
// on two cores the pair at once should take little more than one.
//
//   harvest_threads PAGE [ROUNDS]
//
// Prints the best wall time of each way and their ratio, with the goal.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "talveron.h"

namespace {

constexpr double kGoal = 1.6;

int CountRecords(void* context, const char*, size_t length) {
    *static_cast<long long*>(context) += static_cast<long long>(length);
    return 0;
}

long long HarvestOnce(const char* path) {
    int fd = open(path, O_RDONLY);
    if (fd == -1) {
        std::perror(path);
        std::exit(2);
    }
    long long records = 0;
    talveron_sink sink = {};
    sink.context = &records;
    sink.records = CountRecords;
    sink.lf_line_ends = 1;
    talveron_result result;
    if (talveron_harvest(fd, "", &sink, &result) != 0) {
        std::fprintf(stderr, "%s: the search ended with status %d\n", path, result.status);
        std::exit(2);
    }
    close(fd);
    return records;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: harvest_threads PAGE [ROUNDS]\n");
        return 2;
    }
    const char* page = argv[1];
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    HarvestOnce(page);  // the page into the cache
    double inTurn = 1e9, atOnce = 1e9;
    for (int round = 0; round < rounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        long long first = HarvestOnce(page), second = HarvestOnce(page);
        double t = Seconds(start);
        if (t < inTurn) inTurn = t;
        start = std::chrono::steady_clock::now();
        long long a = 0, b = 0;
        std::thread other([&] { a = HarvestOnce(page); });
        b = HarvestOnce(page);
        other.join();
        t = Seconds(start);
        if (t < atOnce) atOnce = t;
        if (a != first || b != second) {
            std::fprintf(stderr, "the searches at once gave other records than in turn\n");
            return 1;
        }
    }
    double ratio = inTurn / atOnce;
    std::printf("| two searches of %s | in turn %.3f s | at once %.3f s | %.2fx | goal >= %.1fx: %s |\n", page, inTurn,
                atOnce, ratio, kGoal, ratio >= kGoal ? "met" : "missed");
    return 0;
}
