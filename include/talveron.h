/* The module's interface for programs on Linux that link libtalveron.so
   (pkg-config: talveron): searches of an open descriptor (or of bytes a
   function hands over, or of a part of a file) whose records and reasons
   come back to the caller instead of going to OUT.TXT; and searches of
   inputs as the tool reads them: compressed pages and web archives, record
   by record. Every string it takes is an ordinary C string. The export
   that legacy host programs call, and the strings it takes, have a header
   of their own: talveron_legacy.h. */
#ifndef TALVERON_H
#define TALVERON_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The module's fixed capacities. */
#define TALVERON_KEYWORD_SLOTS 6      /* keywords taken from the keyword line */
#define TALVERON_KEYWORD_LINE_MAX 255 /* bytes of the keyword line read; the rest is dropped */
#define TALVERON_ADDRESS_MAX 499      /* longest address that becomes a record */
#define TALVERON_ADDRESS_KEPT 500     /* bytes of an address that a search keeps */
#define TALVERON_LINK_MAX 262144      /* with TALVERON_HTML: the longest link value read */
#define TALVERON_HTML_ADDRESS_MAX 65536 /* with TALVERON_HTML: the longest address made, unless
                                           talveron_set_address_max says otherwise */

/* Why an address behind a recognised anchor did not become a record. */
enum talveron_reason {
    TALVERON_EXCLUDED = 1,  /* it contains the keyword of slot `keyword` */
    TALVERON_TOO_LONG = 2,  /* longer than TALVERON_ADDRESS_MAX bytes (up to a 0 byte in it) */
    TALVERON_UNFINISHED = 3, /* the input ended before its closing quote */
    /* Of pages read with TALVERON_HTML (where TALVERON_TOO_LONG is a value of
       more than TALVERON_LINK_MAX bytes, given cut to TALVERON_ADDRESS_KEPT bytes): */
    TALVERON_OTHER_SCHEME = 4, /* the address is not http or https (mailto:, javascript:, ...) */
    TALVERON_NOT_AN_ADDRESS = 5, /* the value is no address by the URL Standard (given decoded) */
    TALVERON_ADDRESS_TOO_LONG = 6 /* its address would be longer than TALVERON_HTML_ADDRESS_MAX
                                     (given decoded, as written, cut to TALVERON_ADDRESS_KEPT bytes) */
};

/* How grave a message to a talveron_sink is. */
enum talveron_level {
    TALVERON_INFORMATION = 0, /* nothing is wrong: a search begins */
    TALVERON_WARNING = 1,     /* something went wrong, and the search goes on (none yet) */
    TALVERON_ERROR = 2        /* the search failed: a read of the input failed */
};

struct talveron_link;

/* Where a search's results go. Any function may be null but records. */
struct talveron_sink {
    void* context;
    /* Whole records, each ended by CR LF (see lf_line_ends), in the order
       of the input; called before every read of the input and when the
       buffer of records is full. A result other than 0 stops the search. */
    int (*records)(void* context, const char* bytes, size_t length);
    /* An address that did not become a record: the reason, the keyword slot
       (1 to TALVERON_KEYWORD_SLOTS) for TALVERON_EXCLUDED, the offset of
       its anchor's '<' (talveron_harvest: counted from where the descriptor
       stood when the call began; talveron_harvest_range: the file offset),
       and the address as far as it is kept (its first TALVERON_ADDRESS_KEPT
       bytes, 0 bytes and control bytes included). */
    void (*rejected)(void* context, int reason, int keyword, long long offset, const char* address,
                     size_t length);
    /* After each read of the input: the bytes read so far by this call. */
    void (*progress)(void* context, long long bytes);
    /* 1: records end with LF alone instead of CR LF. */
    int lf_line_ends;
    /* This call's messages, the module's own (in Japanese): how grave
       (enum talveron_level) and the text in UTF-8. A search tells its start
       ("address collection is starting") at TALVERON_INFORMATION, and a read
       of its input that failed ("a file error has occurred") at
       TALVERON_ERROR. */
    void (*message)(void* context, int level, const char* text);
    /* 1: take <a href="https:// anchors as well (ASCII letters in any
       case), by the same rules; their records begin "https://". The
       export never does. 0: not, and result->https_passed_over counts
       those passed over before the search's first record (all of them when
       it found none: enough to say why it found nothing, at no cost on
       pages that give records); TALVERON_HTTPS_COUNTED: not, counting all
       of them. */
    int https;
    /* 1: a keyword matches with ASCII letters in either case (A-Z as a-z);
       0: byte for byte, as the export matches. */
    int fold_case;
    /* How each record is written (enum talveron_format): the address and a
       line end, or one JSON object on a line. */
    int format;
    /* With TALVERON_HTML: which links become records, TALVERON_LINK_...
       bits (0: TALVERON_LINKS_DEFAULT, a and area). */
    int links;
    /* 1: each address once per page (of an archive: per record), the
       first one's fields kept. A part searched by talveron_harvest_range
       is a page of its own. */
    int unique;
    /* 1: addresses without their #fragment (the fragment is dropped after
       the keywords are looked for in the address). */
    int no_fragment;
    /* When not null: called with each record's fields, in the order of the
       records, as the record is made (before its bytes reach `records`).
       A result other than 0 stops the search, as records' does. */
    int (*link)(void* context, const struct talveron_link* link);
};

#define TALVERON_HTTPS_COUNTED 2

/* talveron_sink.format */
enum talveron_format {
    TALVERON_FORMAT_LINES = 0, /* the address, then CR LF (or LF) */
    /* One JSON object (RFC 8259, UTF-8) and a line end per record, its keys
       always in this order and each present: {"url":...} by the module's
       rules; with TALVERON_HTML {"url":...,"href":...,"element":...,
       "attribute":...,"text":...,"rel":...,"offset":...} (null where the
       link has none, and "offset" -1 for a header: see talveron_link).
       Bytes that are not UTF-8 are
       percent-encoded in "url" (%XX, as the URL Standard encodes them)
       and become U+FFFD in the other strings. */
    TALVERON_FORMAT_JSON = 1
};

/* talveron_sink.links, with TALVERON_HTML: */
#define TALVERON_LINK_A 0x01        /* a href (and a in SVG, MathML) */
#define TALVERON_LINK_AREA 0x02     /* area href */
#define TALVERON_LINK_REDIRECT 0x04 /* an archive's 3xx response's Location, Refresh headers,
                                       <meta http-equiv=refresh content> */
#define TALVERON_LINK_FRAME 0x08    /* frame src, iframe src */
#define TALVERON_LINK_LINK 0x10     /* link href */
#define TALVERON_LINK_FORM 0x20     /* form action */
#define TALVERON_LINK_RESOURCE 0x40 /* src of img, script, source, embed, audio, video, track,
                                       input type=image; video poster; object data */
#define TALVERON_LINKS_DEFAULT (TALVERON_LINK_A | TALVERON_LINK_AREA)
#define TALVERON_LINKS_ALL 0x7F

/* The most bytes of a link's text kept (UTF-8, cut at a character). */
#define TALVERON_TEXT_MAX 1024

/* A record's fields, for talveron_sink.link. Strings are not 0-ended: each
   has its length; a null pointer is a field the link does not have. Valid
   during the call only. */
struct talveron_link {
    const char* url;       /* the record's address, as written to `records` */
    size_t url_length;
    /* With TALVERON_HTML (null by the module's rules): */
    const char* href;      /* the value as written, character references decoded */
    size_t href_length;
    const char* element;   /* "a", "area", "iframe", "img", "meta", ...; "http" for a header */
    const char* attribute; /* "href", "src", "action", "data", "poster", "content";
                              "location" or "refresh" for a header (0-ended) */
    const char* text;      /* an a's text: its content's text, white space collapsed,
                              references decoded, at most TALVERON_TEXT_MAX bytes; null but for a */
    size_t text_length;
    const char* rel;       /* the rel attribute as written (references decoded); null when none */
    size_t rel_length;
    long long offset;      /* the byte of the tag's '<' in the page or record; -1 for a header */
};

/* How a search ended. */
enum talveron_status {
    TALVERON_COMPLETED = 0,     /* searched to its end (or, for a range, past its end) */
    TALVERON_READ_FAILED = 1,   /* a read failed (read_errno); the search ended there */
    TALVERON_STOPPED = 2,       /* the records function stopped it */
    TALVERON_OUT_OF_MEMORY = 3, /* the search's buffers could not be had; nothing was read */
    TALVERON_BAD_ARGUMENTS = 4, /* no sink, no records function, or a negative start or end */
    TALVERON_NOT_SEARCHED = 5,  /* talveron_harvest_input: a record whose page cannot be had */
    TALVERON_NOT_CONVERTED = 6  /* with TALVERON_HTML: ICU could not convert international domain
                                   names (not for a fault of the domain's); the problem says why,
                                   and the search (an archive's too) ended there */
};

struct talveron_result {
    int status;         /* enum talveron_status */
    int read_errno;     /* errno of the read that failed, else 0 */
    long long bytes;    /* bytes read from the input (decompressed; of a web
                           archive, all of its own, each record's page in
                           the record's result) */
    long long next;     /* talveron_harvest_range: where the range that follows begins */
    /* The <a href="https:// anchors passed over, as the sink's https asks
       (a range's: those whose '<' lies in it); 0 with TALVERON_HTML. Of a
       web archive: its records' are in their own results. */
    long long https_passed_over;
};

/* A `keyword_line` may be null (no keywords) wherever one is taken. Records
   end in CR LF, as in OUT.TXT, unless the sink's lf_line_ends is 1. */

/* Searches the input open on `fd` from where it stands to its end, by the
   export's rules for a file and with `keyword_line` split into the keyword
   slots as the export splits it. Reads only (no seeking: pipes will do) and
   leaves the descriptor open; a descriptor in non-blocking mode is waited
   for (poll) whenever it has nothing to read yet. Reentrant: any number of
   threads may search at once, and a sink's function may start a search of
   its own. Returns 0 when the status is TALVERON_COMPLETED, else -1.
   `result` may be null. */
int talveron_harvest(int fd, const char* keyword_line, const struct talveron_sink* sink,
                     struct talveron_result* result);

/* Searches the bytes that `read` gives, as talveron_harvest searches a
   descriptor's: read(read_context, buffer, size) puts up to `size` bytes
   into `buffer` and returns their count, 0 at the end of the input (asked
   once), or -1 after a failure, with errno set (the search ends there:
   TALVERON_READ_FAILED). A count above `size` is taken for a failed read
   (read_errno EINVAL): nothing past `size` bytes is looked at. For inputs
   that are no descriptor: a decompressed stream, a record of an archive. */
int talveron_harvest_read(int (*read)(void* read_context, char* buffer, size_t size), void* read_context,
                          const char* keyword_line, const struct talveron_sink* sink,
                          struct talveron_result* result);

/* The search of a part of a regular file, so that parts can be searched at
   once: the anchors whose '<' lies in [start, end) of the file open on
   `fd`, as a search of the whole file finds them, provided that a search of
   the whole file begins a skip for the next '<' at `start`. That holds at 0,
   at a position that talveron_cut gives, and at the `next` of the range
   before. The file is read at offsets (the descriptor does not move), past
   `end` where an address runs on; result->next tells where the range that
   follows begins (at least `end`). When it is more than the start that
   range was searched from, that range is searched again from `next`; a
   range whose start is at or past its end is empty (completed, `next` =
   `start`). The start message comes with the range that begins at 0 only.
   The reads end on multiples of 128 KiB, where those of a search of the
   whole file end, so that a read that fails ends the parts where it ends
   that search. */
int talveron_harvest_range(int fd, long long start, long long end, const char* keyword_line,
                           const struct talveron_sink* sink, struct talveron_result* result);

/* A place at or after `near` where a search of the whole file open on `fd`
   certainly begins a skip: no anchor opening, address or comparison runs
   over it. A place in [near, near + window) (a window past the largest
   offset ends there); -1 when there is none there, at the end of the file,
   or when a read failed. */
long long talveron_cut(int fd, long long near, long long window);

/* Reading inputs as the tool reads them: a page as it stands, a stream
   compressed by gzip, zstd, bzip2 or xz (with TALVERON_DECOMPRESS; known
   by its first bytes, whatever its name), and web archives (WARC/0.18,
   1.0, 1.1 and 1.2, plain or compressed), whose response and resource
   records are searched one by one, each from its page: an HTTP response's body behind
   its header block, its chunked transfer coding undone and its content
   coding (gzip, deflate, zstd, br) decoded. */
#define TALVERON_DECOMPRESS 1
/* Reads pages by the web's own standards instead of the module's rules:
   the records are the addresses that a page's hyperlinks lead to (start
   tags a and area with href, as the HTML standard's tokenizer and tree
   builder find them; a in SVG and MathML), each resolved against the
   page's base (its address, or its first <base href>) by the WHATWG URL
   Standard and written as that standard writes it (no 499-byte limit, but
   see talveron_set_address_max).
   Only http and https addresses become records; the others are given to
   `rejected` as TALVERON_OTHER_SCHEME or TALVERON_NOT_AN_ADDRESS. An
   archive's record is searched when its Content-Type is text/html,
   application/xhtml+xml or absent; the others are passed over (`passed`
   gets the media type). The keyword line drops addresses as it does in the
   module's search. */
#define TALVERON_HTML 2

/* What talveron_harvest_input reports an entry as. */
enum talveron_entry {
    TALVERON_PAGE = 0,    /* the input, a page (decompressed or not) */
    TALVERON_ARCHIVE = 1, /* the input, a web archive: its records follow */
    TALVERON_RECORD = 2   /* a record of the archive, named by its WARC-Target-URI */
};

/* Where talveron_harvest_input's results go: each entry's search reports
   to `search` as talveron_harvest's does, between the entry's begin and
   end; search.context is passed to the functions below as well. */
struct talveron_input_sink {
    struct talveron_sink search;
    /* An entry begins. A result other than 0 stops the input there
       (TALVERON_STOPPED); may be null. */
    int (*begin)(void* context, int entry, const char* name);
    /* The entry has ended: how (a record that could not be searched:
       TALVERON_NOT_SEARCHED), and what was wrong with its bytes (a corrupt
       or cut compressed stream, a broken HTTP body, a record's page that
       cannot be had), or null. An archive ends after its records. */
    void (*end)(void* context, int entry, const struct talveron_result* result, const char* problem);
    /* A record of an archive that breaks the format, with the byte where it
       begins; the reading goes on at the next record. May be null. */
    void (*problem)(void* context, const char* text);
    /* A record of an archive passed over for its type (warcinfo, request,
       metadata, revisit, or a type not known): its WARC-Type as written.
       May be null. */
    void (*passed)(void* context, const char* type);
    /* An HTTP response of an archive, before it is searched: its status
       code. 0 passes the record over (nothing else is told of it); may be
       null (every response is searched). */
    int (*status)(void* context, int status);
};

/* Searches the input open on `fd` from where it stands, read as `flags`
   say (TALVERON_DECOMPRESS or 0): one read of its first bytes tells what
   it is. `size`: for a regular file, its bytes from where `fd` stands
   (fstat's st_size when at 0), read no further; -1 when not known (a
   pipe, a terminal). `name` is the page's or the archive's as reported to
   begin. The result is the input's: TALVERON_READ_FAILED when a read of it
   failed (an archive's records before stand), TALVERON_STOPPED when begin
   or a records function stopped it (a record's stop ends the archive: no
   record behind it is read), TALVERON_OUT_OF_MEMORY. Reentrant, as
   talveron_harvest. Returns 0 when the status is TALVERON_COMPLETED. */
int talveron_harvest_input(int fd, long long size, const char* name, int flags, const char* keyword_line,
                           const struct talveron_input_sink* sink, struct talveron_result* result);

/* talveron_harvest_input with TALVERON_HTML, the page's base given:
   `address` is the page's own address (a URL; null or "" when none: then
   only absolute links resolve). A web archive's records are resolved
   against their WARC-Target-URI instead. */
int talveron_harvest_links(int fd, long long size, const char* name, const char* address, int flags,
                           const char* keyword_line, const struct talveron_input_sink* sink,
                           struct talveron_result* result);

/* The same of the file at `path`, opened for reading and closed again; a
   file that cannot be opened is TALVERON_READ_FAILED with read_errno. */
int talveron_harvest_path(const char* path, int flags, const char* keyword_line,
                          const struct talveron_input_sink* sink, struct talveron_result* result);

/* talveron_harvest_input of the bytes that `read` gives (as in
   talveron_harvest_read), with TALVERON_HTML when `flags` has it against
   `address`: for inputs that are no descriptor (a file object, bytes). */
int talveron_harvest_stream(int (*read)(void* read_context, char* buffer, size_t size), void* read_context,
                            const char* name, const char* address, int flags, const char* keyword_line,
                            const struct talveron_input_sink* sink, struct talveron_result* result);

/* The WHATWG URL Standard's parse of `input` against `base` (a URL; null
   for none), as the standards mode resolves a link: new URL(input,
   base).href. Returns the length of that serialization, and writes it with
   a 0 byte behind into `buffer` when `size` leaves room for both (else
   nothing: call again with more room); -1 when `input` or `base` is no URL
   (or memory could not be had). */
long long talveron_url(const char* input, const char* base, char* buffer, size_t size);

/* `length` bytes of `text` as a JSON string, quotes included, as the
   records of TALVERON_FORMAT_JSON write theirs: valid UTF-8 whatever the
   bytes (U+FFFD for each maximal part of a sequence that is not UTF-8), the
   quote, the backslash and control bytes escaped. Returns its length, and
   writes it with a 0 byte behind into `buffer` when `size` leaves room for
   both (else nothing); -1 when memory could not be had. */
long long talveron_json_string(const char* text, size_t length, char* buffer, size_t size);

/* Whether the regular file open on `fd`, read as `flags` say, is a page as
   it stands (1), which talveron_harvest_range may search in parts, or is
   read whole (0: compressed, or a web archive), as its first bytes tell
   (read at offset 0; the descriptor does not move); -1 when they cannot be
   read. */
int talveron_input_is_plain(int fd, int flags);

/* Whether a file's name is of the kinds a walk of a folder takes: pages
   (*.htm, *.html, *.xhtml, *.xht, *.shtml) and web archives (*.warc), any
   case; with TALVERON_DECOMPRESS also followed by .gz, .zst, .bz2 or .xz.
   TALVERON_PAGE or TALVERON_ARCHIVE; -1 for any other name. */
int talveron_name_kind(const char* name, int flags);

/* The most memory that decompressing one stream (a compressed input, or a
   compressed body in a web archive) may take for its window or dictionary:
   `bytes`, or 128 MiB when 0 (as at load). A stream that needs more is not
   searched, and its problem says how much it needs. Set it before searches
   begin; it holds for every search of the process, each stream on its own:
   searches at once, and an archive's stream with its record's coded body,
   take it each. */
void talveron_set_decoder_memory(unsigned long long bytes);

/* With TALVERON_HTML: the longest address that becomes a record, `bytes`
   (TALVERON_HTML_ADDRESS_MAX when 0, as at load); a link whose address
   would be longer is given to `rejected` as TALVERON_ADDRESS_TOO_LONG.
   Set it before searches begin; it holds for every search of the process. */
void talveron_set_address_max(unsigned long long bytes);

/* The module's version, "1.0.0.1". */
const char* talveron_version(void);

#ifdef __cplusplus
}
#endif

#endif
