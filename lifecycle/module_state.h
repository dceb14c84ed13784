// The module's state: module-level variables shared by the export (which
// keeps them as its host may look at them; a search itself keeps its own),
// the settings file and the help launcher. Defined in module_state.cpp in the
// order in which loading constructs them.
#ifndef TALVERON_LIFECYCLE_MODULE_STATE_H
#define TALVERON_LIFECYCLE_MODULE_STATE_H

#include "lifecycle/limits.h"
#include "lifecycle/module_object.h"

extern ModuleString g_strHelpDir;                 // prefix of the help viewer's path; never assigned
extern ModuleString g_strOutFile;                 // name of the result file
extern ModuleString g_strKeyword[kKeywordSlots];  // exclusion keywords, slots 1..6 at [0]..[5]
extern ModuleString g_strStatus;                  // last status text, or the last byte read
extern ModuleString g_strIniExtra;                // seventh value of the settings file

extern int g_nOutFile;  // descriptor of the open result file
extern int g_nInFile;   // descriptor of the open input file
extern int g_nIniFile;  // descriptor of the settings file while a load runs

// Puts every variable above back to its value at load (for tests).
void ResetModuleState();

#endif
