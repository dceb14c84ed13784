// Loading the keyword slots and the extra value from the settings file.
#include "messages/messages.h"
#include "lifecycle/module_state.h"
#include "runtime/runtime.h"
#include "settings/settings.h"

namespace {

// Where line `number` (from 1) goes; lines after the seventh go nowhere.
CString* ValueOfLine(int number) {
    if (number >= 1 && number <= kKeywordSlots) return &g_strKeyword[number - 1];
    if (number == kSettingsLines) return &g_strIniExtra;
    return nullptr;
}

// The end-of-file test after a line: 0 while bytes remain, 1 at the end, -1
// on an error (a read that failed counts as one).
int SettingsEof() { return IniReadFailed() ? -1 : rt::_eof(g_nIniFile); }

// Closes the settings file on every way out of reading it.
struct IniFileCloser {
    ~IniFileCloser() { rt::_close(g_nIniFile); }
};

void ReadLines() {
    IniFileCloser closer;
    for (int number = 1;; ++number) {
        // One line: up to its LF, CR and 0 bytes dropped. It also ends where
        // the file does (or a read fails); a line of which no byte was read
        // is no line.
        CString line;
        bool anyByte = false;
        bool complete = false;
        for (;;) {
            CString read = ReadIniChar();
            char byte = read[0];
            if (IniByteDelivered()) anyByte = true;
            if (byte == '\0' && SettingsEof() != 0) break;
            if (byte == '\n') {
                complete = true;
                break;
            }
            if (byte != '\r' && byte != '\0') line += byte;
        }
        if (complete || anyByte) {
            if (CString* value = ValueOfLine(number)) *value = line;
        }
        int eof = SettingsEof();
        if (eof == -1) ShowMessage(MSG_FILE_ERROR, CAPTION_ERROR);
        if (eof != 0) break;
    }
}

}  // namespace

void LoadSettings() {
    // Nothing is thrown out: a failure of the string type ends the load with
    // the lines read before it kept, the file closed and no message shown
    // (one might need memory).
    try {
        ResetIniReader();
        g_nIniFile = rt::_open(SETTINGS_FILE_NAME, _O_BINARY | _O_RDWR, 0);
        if (g_nIniFile == -1)
            ShowMessage(MSG_FILE_ERROR, CAPTION_ERROR);
        else
            ReadLines();
        g_strStatus = MSG_SETTINGS_LOADED;
    } catch (...) {
    }
}
