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
#include "module/module_state.h"
#include "settings/settings.h"
#include "tests/hex.h"
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
