// The module's one export and how it is called.
//
// BEGIN_SEARCH_ADD is exported as `_BEGIN_SEARCH_ADD@16`: a stdcall function
// (the callee pops its 16 bytes of arguments) whose decorated name the legacy
// host programs import. Each of the first two arguments is one string in the
// CString boundary form (framework/cstring.h): the pointer to the text of a
// malloc'd block whose header holds one reference that the call takes over and
// releases before it returns. The third and fourth arguments are never read.
// The result is 0 after a completed scan, -1 when a file cannot be opened.
#ifndef TALVERON_FACE_EXPORT_H
#define TALVERON_FACE_EXPORT_H

#include "framework/cstring.h"

#if defined(_WIN32) && !defined(_WIN64)
#define TALVERON_CALL __stdcall
#else
#define TALVERON_CALL
#endif

extern "C" int TALVERON_CALL BEGIN_SEARCH_ADD(char* strInputPath, char* strKeywordLine,
                                              int nUnused3, int nUnused4);

// The address last captured by a search (g_strUrl): built at the first full
// anchor match after load and kept until unload, which destroys it first.
CString& UrlString();

// Bytes the export asks for per read of its input, 1 up to the search's
// block (tests put block boundaries everywhere with small blocks).
void SetInputBlockSize(unsigned int size);
unsigned int InputBlockSize();

#endif
