// The link search's operations. They take no arguments unless stated and hand
// data to one another through the module state: the address being handled
// travels in g_strUrl (UrlString()).
#ifndef TALVERON_SEARCH_SEARCH_H
#define TALVERON_SEARCH_SEARCH_H

#include "framework/cstring.h"

// Bytes of the keyword line that the split looks at, and of the record buffer:
// an address reaches OUT.TXT only when it is at most kMaxAddress bytes long.
constexpr int kKeywordLineCapacity = 256;
constexpr int kRecordBufferSize = 500;
constexpr int kMaxAddress = kRecordBufferSize - 1;

// Fills keyword slots 1..6 from `line` (its first `length` bytes): every space
// byte moves on to the next slot, every other byte goes to the current slot
// while it is one of the six; the rest is dropped.
void SplitKeywordLine(const char* line, int length);

// Walks the input from start to end and hands every `<a href="http://` anchor
// (ASCII case ignored) to CaptureLink, NormaliseLink and EmitLink.
void ScanAnchors();

// The address string, built at the first full anchor match after load and
// kept until unload.
CString& UrlString();

// Reads the address behind `http://` up to the closing double quote (consumed,
// not kept) into g_strUrl. Returns false when the input ends first; the
// unfinished address is then dropped. Only the first kRecordBufferSize bytes
// of the address are kept: more can never reach a record.
bool CaptureLink();

// g_strUrl's length up to its first 0 byte, as CaptureLink and NormaliseLink
// leave it.
int UrlTextLength();

// Appends "/" to g_strUrl unless it ends in ".html", ".htm" (any ASCII case)
// or "/".
void NormaliseLink();

// Appends g_strUrl's record to OUT.TXT (through the result writer) unless a
// keyword excludes it or it is longer than kMaxAddress bytes.
void EmitLink();

// True when a non-empty keyword slot occurs in `address` (byte-wise, case
// counts).
bool ContainsKeyword(const char* address);

// Takes the C runtime's isprint classification for StripNonPrintable (at the
// start of each search: the host may change its locale between searches).
void PrepareStrip();

// Copies the printable bytes of `address`, whose first NUL stands at
// `length` (at most kMaxAddress), into `record` (kRecordBufferSize bytes),
// followed by a NUL; returns how many were copied.
int StripNonPrintable(const char* address, int length, char* record);

#endif
