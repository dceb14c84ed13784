/* The module's interface for programs on Linux that link libtalveron.so (or
   the module's objects): the export that legacy host programs call, and a
   search of an open descriptor whose records and reasons come back to the
   caller instead of going to OUT.TXT. */
#ifndef TALVERON_H
#define TALVERON_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The legacy export (see the README: "Calling the module"): searches the
   file named by the string strInputPath into OUT.TXT in the current
   directory. Returns 0 after a completed scan, -1 otherwise. */
int BEGIN_SEARCH_ADD(char* strInputPath, char* strKeywordLine, int nUnused3, int nUnused4);

/* Why an address behind a recognised anchor did not become a record. */
enum talveron_reason {
    TALVERON_EXCLUDED = 1,  /* it contains the keyword of slot `keyword` */
    TALVERON_TOO_LONG = 2,  /* longer than 499 bytes (up to a 0 byte in it) */
    TALVERON_UNFINISHED = 3 /* the input ended before its closing quote */
};

/* Where a search's results go. Any function may be null but records. */
struct talveron_sink {
    void* context;
    /* Whole records, each ended by CR LF (see lf_line_ends), in the order of the input; called
       before every read of the input and when the buffer of records is
       full. A result other than 0 stops the search. */
    int (*records)(void* context, const char* bytes, size_t length);
    /* An address that did not become a record: the reason, the keyword slot
       (1 to 6) for TALVERON_EXCLUDED, the offset of its anchor's '<' (counted
       from where the descriptor stood when the call began: the first byte
       the call reads is offset 0),
       and the address as far as it is kept (its first 500 bytes, 0 bytes
       and control bytes included). */
    void (*rejected)(void* context, int reason, int keyword, long long offset, const char* address,
                     size_t length);
    /* After each read of the input: the bytes read so far. */
    void (*progress)(void* context, long long bytes);
    /* The module's messages, Shift_JIS text and caption, as the export
       shows them in message boxes. */
    void (*message)(void* context, const char* text, const char* caption);
    /* 1: records end with LF alone instead of CR LF. */
    int lf_line_ends;
};

struct talveron_result {
    long long bytes;  /* bytes read from the input */
    int read_errno;   /* errno of a read that failed (the search ended there), else 0 */
    int stopped;      /* 1 when the records function stopped the search */
};

/* Searches the input open on `fd` from where it stands to its end, by the
   export's rules for a file and with `keyword_line` split into the keyword
   slots as the export splits it. Reads only (no seeking: pipes will do) and
   leaves the descriptor open; a descriptor in non-blocking mode is waited
   for (poll) whenever it has nothing to read yet. The sink's messages are
   this call's own: talveron_set_message_handler, from any thread, sets
   where the export's go. Returns 0 when the input was searched to its
   end, -1 when a read failed, the sink stopped the search, memory ran out,
   or this thread is inside a call of the module already. Calls of other
   threads wait their turn. `result` may be null. */
int talveron_harvest(int fd, const char* keyword_line, const struct talveron_sink* sink,
                     struct talveron_result* result);

/* The module's version, "1.0.0.1". */
const char* talveron_version(void);

/* Where the export's message boxes go on Linux (Shift_JIS text and
   caption); null drops them, as at load. */
void talveron_set_message_handler(void (*handler)(const char* text, const char* caption));

#ifdef __cplusplus
}
#endif

#endif
