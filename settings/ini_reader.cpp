// The settings file's one-byte reader.
#include "messages/messages.h"
#include "lifecycle/module_state.h"
#include "runtime/runtime.h"
#include "settings/settings.h"

namespace {
bool s_readFailed = false;   // a read of the open settings file failed
bool s_lastDelivered = false;  // the last call delivered a byte (0 included)
}

bool IniReadFailed() { return s_readFailed; }
bool IniByteDelivered() { return s_lastDelivered; }
void ResetIniReader() { s_readFailed = s_lastDelivered = false; }

CString ReadIniChar() {
    s_lastDelivered = false;
    if (s_readFailed) return CString();  // a failed read is never repeated
    char byte;
    int n = rt::_read(g_nIniFile, &byte, 1);
    if (n == 0) return CString();  // end of file: the status stays as it is
    if (n < 0) {
        s_readFailed = true;
        return CString();
    }
    s_lastDelivered = true;
    if (byte == '\0')
        g_strStatus.Empty();
    else
        g_strStatus = byte;
    ShowMessage(g_strStatus, CAPTION_ERROR);
    return g_strStatus;
}
