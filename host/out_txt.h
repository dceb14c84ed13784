// --out-txt: one search as a legacy host program makes it, through the
// module's export: OUT.TXT in the current directory, then its records
// printed. The exit status is the module's result: 0, or 1 when it returned
// -1 or a record could not be written.
#ifndef TALVERON_HOST_OUT_TXT_H
#define TALVERON_HOST_OUT_TXT_H

#include "options.h"

int RunOutTxt(const Options& options);

#endif
