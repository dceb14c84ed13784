// Saving the keyword slots and the extra value to the settings file.
#include <cstring>

#include "messages/messages.h"
#include "lifecycle/module_state.h"
#include "runtime/runtime.h"
#include "settings/settings.h"

namespace {

void Save() {
    // The seven records, built before the file is touched: each value up to
    // its first 0 byte, then CR LF.
    CString records[kSettingsLines];
    for (int i = 0; i < kSettingsLines; ++i) {
        records[i] = i < kKeywordSlots ? static_cast<const char*>(g_strKeyword[i])
                                        : static_cast<const char*>(g_strIniExtra);
        records[i] += "\r\n";
    }

    int file = rt::_open(SETTINGS_FILE_NAME, _O_BINARY | _O_TRUNC | _O_CREAT | _O_RDWR, _S_IWRITE);
    if (file == -1) {
        ShowMessage(MSG_SETTINGS_NOT_OPENED, CAPTION_ERROR);
        return;
    }
    struct Closer {
        int file;
        ~Closer() { rt::_close(file); }
    } closer{file};
    // A short write is followed by another for the rest: a record cut short
    // is a failure, not a success.
    int written = 0;
    while (written < kSettingsLines &&
           rt::WriteAll(file, records[written], static_cast<unsigned int>(records[written].GetLength())) != -1)
        ++written;
    if (written == kSettingsLines) ShowMessage(MSG_SETTINGS_SAVED, CAPTION_OK);
}

}  // namespace

void SaveSettings() {
    // Nothing is thrown out: a failure of the string type ends the save
    // before the file is touched (the records are built first), with no
    // message shown (one might need memory).
    try {
        Save();
    } catch (...) {
    }
}
