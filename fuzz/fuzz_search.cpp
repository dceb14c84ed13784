// libFuzzer target: the whole search on a page in memory, against the
// byte-at-a-time model. An input is an options byte, a keyword line up to the
// first LF, and the page after it. The options choose the read block size,
// the scan kernel and whether the page's second half cannot be read. The
// page is also searched in two parts, cut where its length puts the cut,
// the second part beginning where the first says.
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/cstring.h"
#include "api/export.h"
#include "lifecycle/module_state.h"
#include "runtime/runtime.h"
#include "search/searcher.h"
#include "search/scan_kernels.h"
#include "tests/fake_files.h"
#include "tests/scan_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    unsigned options = data[0];
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::size_t lf = rest.find('\n');
    std::string keywords = lf == std::string::npos ? rest : rest.substr(0, lf);
    std::string page = lf == std::string::npos ? std::string() : rest.substr(lf + 1);
    std::size_t unreadable = (options & 0x80) && !page.empty() ? page.size() / 2 : kReadable;

    static const unsigned int kBlocks[] = {1, 2, 3, 7, 15, 16, 17, 49, 64, 100, 257, 4096, 65536, Searcher::kBlockSize};
    SetInputBlockSize(kBlocks[options % (sizeof kBlocks / sizeof *kBlocks)]);
    static const ScanKernel kKernels[] = {ScanKernel::kAvx2, ScanKernel::kSse2, ScanKernel::kPlain};
    if (!SelectScanKernel(kKernels[(options >> 4) % 3])) SelectScanKernel(ScanKernel::kPlain);

    ModelRun expected = ModelSearch(page, keywords, unreadable);
    ResetModuleState();
    FakeFiles fs;
    fs.files["page.html"].data = page;
    fs.files["page.html"].unreadableFrom = unreadable;
    int result = BEGIN_SEARCH_ADD(CString("page.html").Detach(),
                                  CString(keywords.data(), static_cast<int>(keywords.size())).Detach(), 0, 0);

    bool same = result == 0 && fs.files["OUT.TXT"].data == expected.out &&
                fs.messages.size() == expected.messages.size() + 1 &&
                std::string(g_strStatus, g_strStatus.GetLength()) == expected.status && fs.OpenDescriptors() == 0;
    for (std::size_t i = 0; same && i < expected.messages.size(); ++i)
        same = fs.messages[i + 1].text == expected.messages[i].text &&
               fs.messages[i + 1].caption == expected.messages[i].caption;
    for (int slot = 0; same && slot < 6; ++slot)
        same = std::string(g_strKeyword[slot], g_strKeyword[slot].GetLength()) == expected.keywords[slot];
    if (!same) __builtin_trap();

    if (unreadable == kReadable) {
        struct Gathered : SearchSink {
            std::string records;
            bool Records(const char* bytes, std::size_t length) override {
                records.append(bytes, length);
                return true;
            }
        } parts;
        long long size = static_cast<long long>(page.size());
        long long cut = static_cast<long long>((page.size() * 2654435761u + options) % (page.size() + 1));
        int fd = rt::_open("page.html", _O_BINARY, 0);
        long long next;
        {
            Searcher first(parts, keywords.c_str(), false);
            first.SetBlockSize(InputBlockSize());
            first.SearchRange(fd, 0, cut);
            next = first.Next();
        }
        Searcher second(parts, keywords.c_str(), false);
        second.SetBlockSize(InputBlockSize());
        second.SearchRange(fd, next, size + 1);
        rt::_close(fd);
        if (next < cut || parts.records != expected.out) __builtin_trap();
    }
    return 0;
}
