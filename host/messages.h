// What talveron says on standard error: its own diagnostics in English, and
// the module's messages (Shift_JIS) in UTF-8 for --messages.
#ifndef TALVERON_HOST_MESSAGES_H
#define TALVERON_HOST_MESSAGES_H

#include <string>

// "talveron: WHAT: the OS's reason for `error`".
void Diagnose(const std::string& what, int error);
// "talveron: TEXT".
void Say(const std::string& text);

// Shift_JIS text in UTF-8; a byte that does not convert is shown as \xNN.
std::string ToUtf8(const char* sjis);
// "[CAPTION] TEXT" in UTF-8.
void ShowModuleMessage(const char* text, const char* caption);

#endif
