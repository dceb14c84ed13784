// A Windows host program of the tests, run under Wine. It loads TALVERON.dll
// as a legacy host does (LoadLibrary, GetProcAddress of _BEGIN_SEARCH_ADD@16),
// builds the argument strings with msvcrt's malloc, and intercepts the
// module's MessageBoxA (and, on demand, msvcrt's _write) in its import address
// table, so that no display is needed.
//
//   winhost DLL batch CASES      one search per line of CASES:
//                                DIR INPUT KEYWORDLINE-HEX [long-writes-fail=N] [lock-out]
//                                writes DIR/result.txt; OUT.TXT lands in DIR
//   winhost DLL lifecycle N      load, N searches of page.html, unload
//   winhost DLL threads          load, start and end a thread, unload
//   winhost DLL detach-unattached  a process detach sent to a module never attached
//   winhost DLL identity         the version resource as Windows reads it, and
//                                the section that holds the description text
//   winhost DLL alloc-failures KEYWORDLINE-HEX
//                                searches of page.html by a freshly loaded
//                                module: a clean one, then one for each of its
//                                mallocs failing in turn (the module's malloc
//                                import fails that call)
//   winhost DLL turns            two threads, each searching page0.html or
//                                page1.html 100 times; at each start message
//                                OUT.TXT must be one whole result of either
//   winhost DLL reenter          a search of page.html during which, from its
//                                start message, the host calls the export again
//
// result.txt: "result R", "released A B" (1 when the call released its
// reference of the input path / keyword line), then one line per message box:
// "message OWNER STYLE CAPTION-HEX TEXT-HEX".
#include <windows.h>

#include "tests/hex.h"
#include "tests/wine/host_kit.h"
#include "tests/wine/pe_imports.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

typedef int(__stdcall* SearchFn)(char*, char*, int, int);
typedef int(__cdecl* WriteFn)(int, const void*, unsigned int);

struct Recorded {
    unsigned long owner;
    unsigned int style;
    std::string caption, text;
};
std::vector<Recorded> g_messages;
int g_answers = 0;    // message boxes answered so far, over the whole run
unsigned int g_longWritesFail = 0;  // when not 0, writes of more bytes fail (disk full)
WriteFn g_realWrite = nullptr;
// Called with the text of every message box, before it is recorded.
void (*g_onMessage)(const char* text) = nullptr;

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    if (g_onMessage) g_onMessage(text);
    g_messages.push_back({static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(owner)), style,
                          caption ? caption : "", text ? text : ""});
    return ++g_answers % 2 ? IDYES : IDNO;  // Yes and No in turn
}

int __cdecl FailingWrite(int fd, const void* buffer, unsigned int count) {
    if (g_longWritesFail != 0 && count > g_longWritesFail) {
        errno = ENOSPC;
        return -1;
    }
    return g_realWrite(fd, buffer, count);
}

// A string in the boundary form, holding `refs` references.
char* MakeString(const std::string& text, int refs) {
    auto* block = static_cast<int*>(std::malloc(12 + text.size() + 1));
    block[0] = refs;
    block[1] = static_cast<int>(text.size());
    block[2] = static_cast<int>(text.size());
    char* data = reinterpret_cast<char*>(block + 3);
    std::memcpy(data, text.data(), text.size());
    data[text.size()] = '\0';
    return data;
}
int Refs(char* data) { return reinterpret_cast<int*>(data)[-3]; }
void FreeString(char* data) { std::free(reinterpret_cast<int*>(data) - 3); }

HMODULE LoadModule(const char* path, SearchFn* search) {
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        std::fprintf(stderr, "winhost: cannot load %s (error %lu)\n", path, GetLastError());
        std::exit(3);
    }
    *search = reinterpret_cast<SearchFn>(reinterpret_cast<void*>(GetProcAddress(module, "_BEGIN_SEARCH_ADD@16")));
    if (!*search) {
        std::fprintf(stderr, "winhost: no _BEGIN_SEARCH_ADD@16 in %s\n", path);
        std::exit(3);
    }
    if (!PatchImport(module, "USER32.dll", "MessageBoxA", reinterpret_cast<void*>(RecordMessageBox))) {
        std::fprintf(stderr, "winhost: the module imports no MessageBoxA\n");
        std::exit(3);
    }
    g_realWrite = reinterpret_cast<WriteFn>(
        PatchImport(module, "msvcrt.dll", "_write", reinterpret_cast<void*>(FailingWrite)));
    if (!g_realWrite) {
        std::fprintf(stderr, "winhost: the module imports no _write\n");
        std::exit(3);
    }
    g_realMalloc = reinterpret_cast<MallocFn>(
        PatchImport(module, "msvcrt.dll", "malloc", reinterpret_cast<void*>(FailingMalloc)));
    if (!g_realMalloc) {
        std::fprintf(stderr, "winhost: the module imports no malloc\n");
        std::exit(3);
    }
    return module;
}

// A search of page.html by a freshly loaded module whose `failAt`th malloc
// fails; returns the count of its mallocs.
LONG SearchFresh(const char* dll, const std::string& keywords, LONG failAt, int* result, bool* released) {
    SearchFn search;
    HMODULE module = LoadModule(dll, &search);
    g_messages.clear();
    char* path = MakeString("page.html", 2);
    char* line = MakeString(keywords, 2);
    g_mallocCalls = 0;
    g_mallocFailAt = failAt;
    *result = search(path, line, 0, 0);
    g_mallocFailAt = 0;
    *released = Refs(path) == 1 && Refs(line) == 1;
    FreeString(path);
    FreeString(line);
    FreeLibrary(module);
    return g_mallocCalls;
}

// clean RESULT MALLOCS OUT-BYTES, then for each malloc failing:
// fail N result R released 0/1 whole 0/1 leaked 0/1 messages M
int AllocFailures(const char* dll, const std::string& keywords) {
    int result;
    bool released;
    LONG calls = SearchFresh(dll, keywords, 0, &result, &released);
    std::string full = ReadAll("OUT.TXT");
    std::printf("clean %d %ld %u\n", result, calls, static_cast<unsigned>(full.size()));
    int lowest = NextDescriptor("page.html");
    for (LONG n = 1; n <= calls; ++n) {
        SearchFresh(dll, keywords, n, &result, &released);
        std::string out = ReadAll("OUT.TXT");
        bool whole = full.compare(0, out.size(), out) == 0 && (out.empty() || out.compare(out.size() - 2, 2, "\r\n") == 0);
        std::printf("fail %ld result %d released %d whole %d leaked %d messages %u\n", n, result, released, whole,
                    NextDescriptor("page.html") != lowest, static_cast<unsigned>(g_messages.size()));
    }
    return 0;
}

// Two threads' searches: at each start message OUT.TXT is what the call
// before left, which must be one whole result.
const char kStartMessage[] = "\x83\x41\x83\x68\x83\x8c\x83\x58\x82\xcc\x8e\xe6\x93\xbe\x82\xf0\x8a\x4a"
                             "\x8e\x6e\x82\xb5\x82\xdc\x82\xb7\x81\x42";
std::string g_expected[2];
int g_starts = 0, g_torn = 0;
SearchFn g_search = nullptr;

void CheckOutAtStart(const char* text) {
    if (std::strcmp(text, kStartMessage) != 0) return;
    ++g_starts;
    std::string out = ReadAll("OUT.TXT");
    if (out != g_expected[0] && out != g_expected[1]) ++g_torn;
}

DWORD WINAPI SearchLoop(LPVOID page) {
    DWORD failed = 0;
    for (int round = 0; round < 100; ++round) {
        char* path = MakeString(static_cast<const char*>(page), 1);
        char* line = MakeString("s1", 1);
        failed += g_search(path, line, 0, 0) != 0;
    }
    return failed;
}

int Turns(SearchFn search) {
    g_search = search;
    for (int i = 0; i < 2; ++i) {
        search(MakeString("page" + std::to_string(i) + ".html", 1), MakeString("s1", 1), 0, 0);
        g_expected[i] = ReadAll("OUT.TXT");
    }
    g_onMessage = CheckOutAtStart;
    HANDLE threads[2];
    static char pages[2][16] = {"page0.html", "page1.html"};
    for (int i = 0; i < 2; ++i) threads[i] = CreateThread(nullptr, 0, SearchLoop, pages[i], 0, nullptr);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    DWORD failed = 0;
    for (HANDLE thread : threads) {
        DWORD code;
        GetExitCodeThread(thread, &code);
        failed += code;
        CloseHandle(thread);
    }
    g_onMessage = nullptr;
    std::printf("starts %d torn %d failed %lu\n", g_starts, g_torn, static_cast<unsigned long>(failed));
    return 0;
}

// From the outer call's start message, a call of other.html.
void CallAgain(const char* text) {
    if (std::strcmp(text, kStartMessage) != 0) return;
    g_onMessage = nullptr;
    std::string before = ReadAll("OUT.TXT");
    char* path = MakeString("other.html", 2);
    char* line = MakeString("jp", 2);
    int result = g_search(path, line, 0, 0);
    std::printf("nested %d released %d out-unchanged %d\n", result, Refs(path) == 1 && Refs(line) == 1,
                ReadAll("OUT.TXT") == before);
    FreeString(path);
    FreeString(line);
}

// One search; the result and messages go to `report`.
void RunSearch(SearchFn search, const std::string& input, const std::string& keywords, std::FILE* report) {
    g_messages.clear();
    char* path = MakeString(input, 2);
    char* line = MakeString(keywords, 2);
    int result = search(path, line, 0x5A5A5A5A, -1);
    std::fprintf(report, "result %d\nreleased %d %d\n", result, Refs(path) == 1, Refs(line) == 1);
    for (const Recorded& m : g_messages)
        std::fprintf(report, "message %lu %u %s %s\n", m.owner, m.style, Hex(m.caption).c_str(), Hex(m.text).c_str());
    FreeString(path);
    FreeString(line);
}

int Batch(SearchFn search, const char* casesPath) {
    std::FILE* cases = std::fopen(casesPath, "r");
    if (!cases) return 3;
    char root[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, root);
    char buffer[8192];
    while (std::fgets(buffer, sizeof buffer, cases)) {
        std::vector<std::string> words;
        for (char* w = std::strtok(buffer, " \r\n"); w; w = std::strtok(nullptr, " \r\n")) words.push_back(w);
        if (words.size() < 3) continue;
        g_longWritesFail = 0;
        bool lockOut = false;
        for (std::size_t i = 3; i < words.size(); ++i) {
            if (words[i].rfind("long-writes-fail=", 0) == 0)
                g_longWritesFail = static_cast<unsigned int>(std::atoi(words[i].c_str() + 17));
            if (words[i] == "lock-out") lockOut = true;
        }
        SetCurrentDirectoryA(words[0].c_str());
        // Another program holding OUT.TXT open without sharing it for writing.
        HANDLE lock = lockOut ? CreateFileA("OUT.TXT", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                              : INVALID_HANDLE_VALUE;
        std::FILE* report = std::fopen("result.txt", "wb");
        RunSearch(search, words[1], Unhex(words[2]), report);
        std::fclose(report);
        if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
        SetCurrentDirectoryA(root);
    }
    std::fclose(cases);
    return 0;
}

DWORD WINAPI IdleThread(LPVOID) { return 0; }

BOOL CALLBACK PrintLanguage(HMODULE, LPCSTR, LPCSTR name, WORD language, LONG_PTR) {
    std::printf("resource %u %u\n", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name)), language);
    return TRUE;
}
BOOL CALLBACK PrintVersionLanguages(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR) {
    EnumResourceLanguagesA(module, type, name, PrintLanguage, 0);
    return TRUE;
}

int Identity(const char* dll) {
    HMODULE module = LoadLibraryExA(dll, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return 3;
    EnumResourceNamesA(module, reinterpret_cast<LPCSTR>(RT_VERSION), PrintVersionLanguages, 0);
    FreeLibrary(module);

    DWORD ignored;
    DWORD size = GetFileVersionInfoSizeA(dll, &ignored);
    std::vector<char> info(size);
    if (!size || !GetFileVersionInfoA(dll, 0, size, info.data())) return 3;
    VS_FIXEDFILEINFO* fixed;
    UINT length;
    if (VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length))
        std::printf("fixed %lx %lx.%lx %lx.%lx %lx %lx %lx %lx %lx %lx %lx.%lx\n", fixed->dwSignature,
                    fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS,
                    fixed->dwProductVersionLS, fixed->dwStrucVersion, fixed->dwFileFlagsMask, fixed->dwFileFlags,
                    fixed->dwFileOS, fixed->dwFileType, fixed->dwFileSubtype, fixed->dwFileDateMS,
                    fixed->dwFileDateLS);
    for (const char* key : {"FileDescription", "FileVersion", "InternalName", "OriginalFilename", "ProductName",
                            "ProductVersion", "CompanyName", "LegalCopyright"}) {
        char* value;
        std::string query = std::string("\\StringFileInfo\\040904B0\\") + key;
        if (VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            std::printf("string %s=%s\n", key, value);
    }
    WORD* translation;
    if (VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length))
        for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2)
            std::printf("translation %04x %u\n", translation[i], translation[i + 1]);

    // The section of the loaded image that holds the description text.
    module = LoadLibraryA(dll);
    if (!module) return 3;
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    const char text[] = "TALVERON Windows Dynamic Link Library";
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        BYTE* start = base + section->VirtualAddress;
        DWORD span = section->Misc.VirtualSize;
        for (DWORD at = 0; at + sizeof text <= span; ++at)
            if (std::memcmp(start + at, text, sizeof text) == 0)
                std::printf("description %.8s %s\n", reinterpret_cast<char*>(section->Name),
                            section->Characteristics & IMAGE_SCN_MEM_WRITE ? "writable" : "read-only");
    }
    FreeLibrary(module);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: winhost DLL batch CASES | lifecycle N | threads | detach-unattached\n");
        return 2;
    }
    const char* dll = argv[1];
    std::string command = argv[2];
    if (command == "detach-unattached") {
        // Mapped without running its entry point: the module is not attached.
        HMODULE module = LoadLibraryExA(dll, nullptr, DONT_RESOLVE_DLL_REFERENCES);
        if (!module) return 3;
        auto* base = reinterpret_cast<BYTE*>(module);
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        auto entry = reinterpret_cast<BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID)>(base + nt->OptionalHeader.AddressOfEntryPoint);
        std::printf("detach %d\n", entry(module, DLL_PROCESS_DETACH, nullptr));
        return 0;
    }
    if (command == "identity") return Identity(dll);
    SearchFn search;
    HMODULE module = LoadModule(dll, &search);
    int status = 0;
    if (command == "batch" && argc > 3) {
        status = Batch(search, argv[3]);
    } else if (command == "lifecycle" && argc > 3) {
        for (int i = std::atoi(argv[3]); i > 0; --i) RunSearch(search, "page.html", "", stdout);
    } else if (command == "alloc-failures" && argc > 3) {
        FreeLibrary(module);
        return AllocFailures(dll, Unhex(argv[3]));
    } else if (command == "turns") {
        status = Turns(search);
    } else if (command == "reenter") {
        g_search = search;
        g_onMessage = CallAgain;
        RunSearch(search, "page.html", "", stdout);
    } else if (command == "threads") {
        HANDLE thread = CreateThread(nullptr, 0, IdleThread, nullptr, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    } else {
        status = 2;
    }
    FreeLibrary(module);
    return status;
}
