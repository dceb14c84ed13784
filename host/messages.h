// What talveron says on standard error, all through here: its own
// diagnostics in English, the module's messages (Shift_JIS) in UTF-8 for
// --messages, and the progress line, which is erased before anything else
// is written so that the two never mix.
#ifndef TALVERON_HOST_MESSAGES_H
#define TALVERON_HOST_MESSAGES_H

#include <string>

// "talveron: WHAT: the OS's reason for `error`".
void Diagnose(const std::string& what, int error);
// "talveron: TEXT".
void Say(const std::string& text);
// The same, taking no memory: for when there is none left.
void SayWithoutMemory(const char* text);
// A usage error: "talveron: ERROR" and where help is.
void SayUsageError(const std::string& error);
// A diagnostic about an input that cannot be opened or read: as Diagnose,
// and hidden by -s.
void DiagnoseInput(const std::string& name, int error);
void HideInputDiagnostics(bool hide);

// Called before anything is written to standard error (null: nothing):
// when standard output goes to the same file, what is written there before
// a diagnostic goes out first, so that the two keep their order.
void SetBeforeSaying(void (*before)(void*), void* context);

// A file name as it is shown: as it is, unless it holds a control byte or
// is not valid UTF-8; then quoted as GNU tools quote for the shell
// ('a'$'\n''b'), so that a name never forges or breaks a line.
std::string ShownName(const std::string& name);

// A name as a JSON string, quotes included, the one rule of every string
// the tool writes in JSON (--json's page names, --stats=json), as the
// library writes a record's strings: UTF-8 as it is, bytes that are not
// UTF-8 as U+FFFD, the quote, the backslash and control bytes escaped.
std::string JsonName(const std::string& name);

// Appends `bytes` with those outside '!'..'~', and the backslash, as \xNN:
// an address or keyword that can neither break a line nor drive a terminal.
void AppendEscaped(std::string& out, const char* bytes, std::size_t length);

// Shift_JIS text in UTF-8; a byte that does not convert is shown as \xNN.
std::string ToUtf8(const char* sjis);
// "[CAPTION] TEXT" in UTF-8.
void ShowModuleMessage(const char* text, const char* caption);

// The progress line: drawn in place, erased by the next message, by
// EraseStatus, and by EraseStatusOnSignal (async-signal-safe).
void ShowStatus(const std::string& line);
void EraseStatus();
void EraseStatusOnSignal();

#endif
