// Micro-benchmark of the whole search on pages held in memory: the runtime
// layer's file calls are served from memory and the records are discarded,
// so only the scan, the capture and the records' making are timed.
#include <benchmark/benchmark.h>
#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/cstring.h"
#include "api/export.h"
#include "runtime/runtime.h"

namespace {

const std::string* g_page = nullptr;
std::size_t g_pos = 0;
constexpr int kInput = 3, kOutput = 4;

int MemOpen(const char* path, int, int) {
    if (std::strcmp(path, "OUT.TXT") == 0) return kOutput;
    g_pos = 0;
    return kInput;
}
int MemRead(int, void* buffer, unsigned int count) {
    std::size_t n = std::min<std::size_t>(count, g_page->size() - g_pos);
    std::memcpy(buffer, g_page->data() + g_pos, n);
    g_pos += n;
    return static_cast<int>(n);
}
int MemWrite(int, const void*, unsigned int count) { return static_cast<int>(count); }
int MemReadAt(int, void* buffer, unsigned int count, long long offset) {
    std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(offset), g_page->size());
    std::size_t n = std::min<std::size_t>(count, g_page->size() - at);
    std::memcpy(buffer, g_page->data() + at, n);
    return static_cast<int>(n);
}
int MemEof(int) { return g_pos >= g_page->size() ? 1 : 0; }
int MemClose(int) { return 0; }
bool MemSameFile(const char*, const char*) { return false; }
const rt::Backend kMemory = {MemOpen, MemRead, MemWrite, MemReadAt, MemEof, MemClose, MemSameFile};

void Harvest(benchmark::State& state, const std::string& page) {
    g_page = &page;
    rt::SetBackend(&kMemory);
    for (auto _ : state) {
        int result = BEGIN_SEARCH_ADD(CString("page.html").Detach(), CString("").Detach(), 0, 0);
        benchmark::DoNotOptimize(result);
    }
    rt::SetBackend(nullptr);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(page.size()));
}

std::string Repeat(const std::string& piece, std::size_t size) {
    std::string page;
    while (page.size() < size) page += piece;
    return page;
}

// The .html pages of the folder named by TALVERON_PAGES_DIR, one after the
// other; without them, a megabyte of plain paragraphs.
std::string RealPages() {
    std::string all;
    std::vector<std::string> names;
    const char* folder = std::getenv("TALVERON_PAGES_DIR");
    if (DIR* dir = folder && *folder ? opendir(folder) : nullptr) {
        while (dirent* e = readdir(dir))
            if (std::strstr(e->d_name, ".html")) names.push_back(e->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::ifstream file(std::string(folder) + "/" + name, std::ios::binary);
        std::stringstream s;
        s << file.rdbuf();
        all += s.str();
    }
    return all.empty() ? Repeat("<p>no pages</p>", 1 << 20) : all;
}

void BM_RealPages(benchmark::State& state) {
    static const std::string page = RealPages();
    Harvest(state, page);
}
void BM_DenseAnchors(benchmark::State& state) {
    static const std::string page =
        Repeat("some text <a href=\"http://www.example.com/news/1.html\">news</a> <p>more</p><br>", 16 << 20);
    Harvest(state, page);
}
void BM_NearMissesOnly(benchmark::State& state) {
    static const std::string page = Repeat(
        "<a href='http://x.jp/'>text text <a href=\"https://x.jp/\"> more <abbr>words and <a  href=\"http://x/\">", 16 << 20);
    Harvest(state, page);
}
void BM_NoTags(benchmark::State& state) {
    static const std::string page = Repeat("plain text without any tag at all, line after line.\r\n", 16 << 20);
    Harvest(state, page);
}

BENCHMARK(BM_RealPages)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DenseAnchors)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NearMissesOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NoTags)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
