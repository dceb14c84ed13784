/* The export that legacy host programs call, as libtalveron.so.1 gives it
   (pkg-config: talveron), and the strings it takes. Its strings are not
   ordinary C strings: a program that has no need of OUT.TXT wants the
   searches of talveron.h instead. */
#ifndef TALVERON_LEGACY_H
#define TALVERON_LEGACY_H

#ifdef __cplusplus
extern "C" {
#endif

/* A string for BEGIN_SEARCH_ADD holding `text` (up to its first 0 byte).
   Such a string is the text of a block that malloc gave:

       [int32 refs][int32 length][int32 capacity][text ...][0]
                                                 ^ the string

   refs counts the references handed out (-1: a static block, never
   freed), length the bytes of text, capacity the bytes there is room for;
   neither counts the 0 that ends the text. This one holds one reference,
   which BEGIN_SEARCH_ADD takes over and drops (an empty text gives the
   static empty string). NULL when `text` is NULL or the memory cannot be
   had. */
char* talveron_legacy_string(const char* text);

/* Drops one reference of a string that is not passed to BEGIN_SEARCH_ADD
   after all; the last frees it. NULL does nothing. */
void talveron_legacy_string_free(char* string);

/* Searches the file named by `strInputPath` into OUT.TXT in the current
   directory, the addresses holding a keyword of `strKeywordLine` left out,
   as the module's Windows form does for its host programs; its messages
   are message boxes (see talveron_set_message_handler). Both strings must
   be of the form above (an ordinary C string is not one: the call reads
   and frees the block before it); talveron_legacy_string makes them. The
   call takes over one reference of each and drops it before it returns,
   on every way out, freeing (free) a block whose last reference it was; a
   NULL string is taken for an empty one. nUnused3 and nUnused4 are never
   read. Returns 0 after a completed scan, -1 otherwise (OUT.TXT or the
   input cannot be opened, memory ran out, or the call was made from inside
   a call of the same thread, by a message handler). Calls of other threads
   take turns. */
int BEGIN_SEARCH_ADD(char* strInputPath, char* strKeywordLine, int nUnused3, int nUnused4);

/* Where BEGIN_SEARCH_ADD's message boxes go: the handler gets each one's
   text and caption as the Windows form shows them, in Shift_JIS (code page
   932) bytes; null drops them, as at load. May be set from any thread. */
void talveron_set_message_handler(void (*handler)(const char* text, const char* caption));

#ifdef __cplusplus
}
#endif

#endif
