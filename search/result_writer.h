// The result file's writer. Records are gathered in a buffer and written to
// g_nOutFile in large writes, not two writes a record.
//
// What reaches the file, and the messages shown, are those of writing each
// record on its own (its text, then CR LF): when a large write fails, the
// records not yet written are written again one at a time, and every record
// whose text cannot be written shows "errno" (with errno as g_strStatus) and
// is still followed by its CR LF.
#ifndef TALVERON_SEARCH_RESULT_WRITER_H
#define TALVERON_SEARCH_RESULT_WRITER_H

#include <cstddef>

// Where a library search's records go instead of g_nOutFile: whole records,
// each ended by CR LF; a result other than 0 stops the search (OutputStopped
// is thrown).
using RecordSink = int (*)(void* context, const char* bytes, std::size_t length);
struct OutputStopped {};

// Starts gathering for a new search: to g_nOutFile, or to `sink`, whose
// records may end with LF alone (`lfOnly`).
void BeginOutput(RecordSink sink = nullptr, void* context = nullptr, bool lfOnly = false);

// Adds a record to the result file: BeginRecord gives room for its text
// (kRecordBufferSize bytes), EndRecord takes the text's length and adds the
// line end.
char* BeginRecord();
void EndRecord(int length);

// Writes out what is gathered, if anything: the input reader calls it before
// every read, so that found records never wait for a slow input.
void WriteGathered();

// Writes out what is gathered. Afterwards, when the last record added is the
// last thing the search did (no byte was read since), g_strStatus is what its
// own write would have left: errno after a failure, else the closing quote
// read before it.
void FlushOutput();

// Writes out what is gathered and not yet written, without messages: for a
// search that a failure ends early. The file then holds whole records.
void AbandonOutput();

#endif
