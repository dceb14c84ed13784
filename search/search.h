// The link search's operations. They take no arguments unless stated and hand
// data to one another through the module state: the address being handled
// travels in g_strUrl (UrlString()).
#ifndef TALVERON_SEARCH_SEARCH_H
#define TALVERON_SEARCH_SEARCH_H

#include <cstddef>

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

// The set-up of every search: copies the keyword line (up to its first 0
// byte, at most kKeywordLineCapacity - 1 bytes), sets g_strOutFile, splits
// the line into the emptied keyword slots, empties g_strStatus and shows the
// start message.
void PrepareSearch(const char* keywordLine);

// Searches g_nInFile from where it stands to its end (ScanAnchors); with
// `endIsFinal`, the first end of input found is the end (see BeginInput).
void RunScan(bool endIsFinal = false);

// What a search reports besides its records, for the library's callers
// (talveron_harvest); all null for the export. Called on the rare paths only.
enum RejectReason { kRejectExcluded = 1, kRejectTooLong = 2, kRejectUnfinished = 3 };
struct SearchHooks {
    void* context;
    // An address that becomes no record (see talveron_sink::rejected).
    void (*rejected)(void* context, int reason, int keyword, long long offset, const char* address,
                     std::size_t length);
    // After each read of the input: the bytes read so far.
    void (*progress)(void* context, long long bytes);
};
extern SearchHooks g_searchHooks;

// Reports g_strUrl as an address that becomes no record, when a hook is set.
void RejectLink(int reason, int keyword);

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

// The input offset of the '<' of g_strUrl's anchor.
long long UrlOffset();

// Appends "/" to g_strUrl unless it ends in ".html", ".htm" (any ASCII case)
// or "/".
void NormaliseLink();

// Appends g_strUrl's record to OUT.TXT (through the result writer) unless a
// keyword excludes it or it is longer than kMaxAddress bytes.
void EmitLink();

// The first keyword slot (1..6) whose non-empty keyword occurs in `address`
// (byte-wise, case counts), or 0: the address is excluded when it is not 0.
int ExcludingKeyword(const char* address);
inline bool ContainsKeyword(const char* address) { return ExcludingKeyword(address) != 0; }

// Takes the C runtime's isprint classification for StripNonPrintable (at the
// start of each search: the host may change its locale between searches),
// and notes whether any keyword slot is filled.
void PrepareStrip();

// Copies the printable bytes of `address`, whose first NUL stands at
// `length` (at most kMaxAddress), into `record` (kRecordBufferSize bytes),
// followed by a NUL; returns how many were copied.
int StripNonPrintable(const char* address, int length, char* record);

#endif
