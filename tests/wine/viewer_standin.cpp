// Stands in for c:\windows\winhelp.exe in the tests: records its command line
// in VIEWER.TXT in its current directory, lingers, notes that it ended, and
// exits with status 42.
#include <windows.h>

#include <cstdio>

int main() {
    std::FILE* log = std::fopen("VIEWER.TXT", "wb");
    if (!log) return 1;
    std::fprintf(log, "%s\n", GetCommandLineA());
    std::fflush(log);
    Sleep(400);
    std::fprintf(log, "ended\n");
    std::fclose(log);
    return 42;
}
