// libFuzzer target: the settings load on a settings file in memory, against a
// plain reading of the file format. The whole input is the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "messages/messages.h"
#include "lifecycle/module_state.h"
#include "settings/settings.h"
#include "tests/fake_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string file(reinterpret_cast<const char*>(data), size);

    // The expected values: lines end at LF, CR and 0 bytes are dropped, a
    // last line without LF counts, lines after the seventh change nothing.
    std::vector<std::string> values = {"k1", "k2", "k3", "k4", "k5", "k6", "extra"};
    std::string line;
    std::size_t number = 0;
    for (std::size_t i = 0; i < file.size(); ++i) {
        char c = file[i];
        if (c == '\n' || i + 1 == file.size()) {
            if (c != '\n' && c != '\r' && c != '\0') line += c;
            if (number < values.size()) values[number] = line;
            ++number;
            line.clear();
        } else if (c != '\r' && c != '\0') {
            line += c;
        }
    }

    ResetModuleState();
    for (int i = 0; i < 6; ++i) g_strKeyword[i] = ("k" + std::to_string(i + 1)).c_str();
    g_strIniExtra = "extra";
    FakeFiles fs;
    fs.files[SETTINGS_FILE_NAME].data = file;
    LoadSettings();

    bool same = fs.messages.size() == file.size() && g_strStatus == MSG_SETTINGS_LOADED && fs.OpenDescriptors() == 0;
    for (std::size_t i = 0; same && i < file.size(); ++i)
        same = fs.messages[i].text == (file[i] == '\0' ? std::string() : std::string(1, file[i]));
    for (int i = 0; same && i < 7; ++i) {
        const CString& got = i < 6 ? static_cast<const CString&>(g_strKeyword[i]) : g_strIniExtra;
        same = std::string(got, got.GetLength()) == values[i];
    }
    if (!same) __builtin_trap();
    return 0;
}
