// The module's internal operations in a Windows program of the tests, built
// from the same sources with the Windows runtime backend and run under Wine:
// the settings file and the help launcher, which nothing exports.
//
//   wintests settings CASES   one case per line: DIR OP V1..V7 (values in hex,
//                             "-" for empty); OP is load, save or save-load.
//                             Writes DIR/result.txt. When DIR holds a file
//                             LOCK, the settings file is held open without
//                             write sharing meanwhile, so that it cannot be
//                             opened for writing (Wine run as root would open
//                             a read-only file).
//   wintests settings-alloc   in an empty folder: a load and a save of the
//                             settings file, clean and then with each of
//                             their mallocs failing in turn (the program's
//                             malloc import fails that call); one line each:
//                             "load|save N ok" or "... bad WHAT".
//   wintests help             RunViewer on the help viewer; prints the result,
//                             the messages shown and the milliseconds it took.
//
// result.txt: "status HEX", "value HEX" for the six slots and the extra value,
// then one line per message box: "message OWNER STYLE CAPTION-HEX TEXT-HEX".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "help/help.h"
#include "lifecycle/module_state.h"
#include "settings/settings.h"
#include "tests/hex.h"
#include "tests/wine/host_kit.h"
#include "tests/wine/pe_imports.h"

namespace {

std::string g_messages;
int g_answers = 0;

std::string HexOf(const CString& s) { return Hex(std::string(s, static_cast<std::size_t>(s.GetLength()))); }

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    char head[64];
    std::snprintf(head, sizeof head, "message %lu %u ", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(owner)), style);
    g_messages += head + Hex(caption) + " " + Hex(text) + "\n";
    return ++g_answers % 2 ? IDYES : IDNO;
}

void WriteAll(const char* path, const std::string& bytes) {
    std::FILE* file = std::fopen(path, "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

int SettingsAlloc() {
    g_realMalloc = reinterpret_cast<MallocFn>(
        PatchImport(GetModuleHandleA(nullptr), "msvcrt.dll", "malloc", reinterpret_cast<void*>(FailingMalloc)));
    if (!g_realMalloc) return 3;
    const char kFile[] = "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\nseven\r\n";
    const char* const kLines[] = {"one", "two", "three", "four", "five", "six", "seven"};
    for (bool save : {false, true}) {
        const char* op = save ? "save" : "load";
        LONG calls = 0;
        for (LONG n = 0; n == 0 || n <= calls; ++n) {
            // As just after load: the strings hold no block of their own.
            ResetModuleState();
            for (int i = 0; i < 7; ++i) {
                CString& value = i < 6 ? static_cast<CString&>(g_strKeyword[i]) : static_cast<CString&>(g_strIniExtra);
                value = CString();
                value = save ? kLines[i] : "old";
            }
            g_strStatus = CString();
            WriteAll(SETTINGS_FILE_NAME, save ? "kept\r\n" : kFile);
            int lowest = NextDescriptor(SETTINGS_FILE_NAME);
            g_mallocCalls = 0;
            g_mallocFailAt = n;
            save ? SaveSettings() : LoadSettings();
            g_mallocFailAt = 0;
            if (n == 0) calls = g_mallocCalls;
            std::string bad;
            if (NextDescriptor(SETTINGS_FILE_NAME) != lowest) bad += " leaked";
            std::string file = ReadAll(SETTINGS_FILE_NAME);
            // The file is replaced whole or not at all (a failure may also
            // come after it is written, in this program's message box).
            if (save && file != kFile && (n == 0 || file != "kept\r\n")) bad += " file";
            if (!save) {
                // The lines before the failure are loaded, later ones not.
                bool loaded = true;
                for (int i = 0; i < 7; ++i) {
                    const CString& value = i < 6 ? g_strKeyword[i] : g_strIniExtra;
                    if (!loaded && value != "old") bad += " line" + std::to_string(i + 1);
                    if (value != kLines[i]) loaded = false;
                }
                if (n == 0 && !loaded) bad += " clean";
            }
            std::printf("%s %ld %s%s\n", op, n, bad.empty() ? "ok" : "bad", bad.c_str());
        }
    }
    return 0;
}

int Settings(const char* casesPath) {
    std::FILE* cases = std::fopen(casesPath, "r");
    if (!cases) return 3;
    char root[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, root);
    char buffer[8192];
    while (std::fgets(buffer, sizeof buffer, cases)) {
        std::vector<std::string> words;
        for (char* w = std::strtok(buffer, " \r\n"); w; w = std::strtok(nullptr, " \r\n")) words.push_back(w);
        if (words.size() != 9) continue;
        SetCurrentDirectoryA(words[0].c_str());
        ResetModuleState();
        for (int i = 0; i < 7; ++i) {
            std::string value = Unhex(words[2 + i]);
            CString& slot = i < 6 ? static_cast<CString&>(g_strKeyword[i]) : static_cast<CString&>(g_strIniExtra);
            slot = CString(value.data(), static_cast<int>(value.size()));
        }
        g_messages.clear();
        HANDLE lock = GetFileAttributesA("LOCK") == INVALID_FILE_ATTRIBUTES
                          ? INVALID_HANDLE_VALUE
                          : CreateFileA(SETTINGS_FILE_NAME, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (words[1] == "save" || words[1] == "save-load") SaveSettings();
        if (words[1] == "save-load") {
            for (int i = 0; i < 6; ++i) g_strKeyword[i] = "old";
            g_strIniExtra = "old";
        }
        if (words[1] == "load" || words[1] == "save-load") LoadSettings();
        if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
        std::string report = "status " + HexOf(g_strStatus) + "\n";
        for (int i = 0; i < 6; ++i) report += "value " + HexOf(g_strKeyword[i]) + "\n";
        report += "value " + HexOf(g_strIniExtra) + "\n" + g_messages;
        std::FILE* out = std::fopen("result.txt", "wb");
        std::fwrite(report.data(), 1, report.size(), out);
        std::fclose(out);
        SetCurrentDirectoryA(root);
    }
    std::fclose(cases);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!PatchImport(GetModuleHandleA(nullptr), "USER32.dll", "MessageBoxA", reinterpret_cast<void*>(RecordMessageBox))) {
        std::fprintf(stderr, "wintests: no MessageBoxA import\n");
        return 3;
    }
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "settings" && argc > 2) return Settings(argv[2]);
    if (command == "settings-alloc") return SettingsAlloc();
    if (command == "help") {
        DWORD start = GetTickCount();
        int result = RunViewer(HELP_VIEWER_PATH, HELP_ARGUMENT);
        DWORD elapsed = GetTickCount() - start;
        std::printf("result %d\nelapsed %lu\n%s", result, static_cast<unsigned long>(elapsed), g_messages.c_str());
        return 0;
    }
    std::fprintf(stderr, "usage: wintests settings CASES | help\n");
    return 2;
}
