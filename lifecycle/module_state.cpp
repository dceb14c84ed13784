// The module-level objects, in the order in which loading constructs them;
// unloading destroys them in the reverse order. They must stay in this one
// file: across files the order of construction is not defined.
#include "lifecycle/module_state.h"

#include "lifecycle/search_add_app.h"

CSearchAddApp theApp;

ModuleString g_strHelpDir("g_strHelpDir");
ModuleString g_strOutFile("g_strOutFile");
ModuleString g_strKeyword[kKeywordSlots] = {
    ModuleString("g_strKeyword[1]"), ModuleString("g_strKeyword[2]"), ModuleString("g_strKeyword[3]"),
    ModuleString("g_strKeyword[4]"), ModuleString("g_strKeyword[5]"), ModuleString("g_strKeyword[6]"),
};
ModuleString g_strStatus("g_strStatus");
ModuleString g_strIniExtra("g_strIniExtra");

// Descriptors are 0, not -1, until an operation sets them.
int g_nOutFile = 0;
int g_nInFile = 0;
int g_nIniFile = 0;

void ResetModuleState() {
    g_strHelpDir.Empty();
    g_strOutFile.Empty();
    for (CString& keyword : g_strKeyword) keyword.Empty();
    g_strStatus.Empty();
    g_strIniExtra.Empty();
    g_nOutFile = 0;
    g_nInFile = 0;
    g_nIniFile = 0;
}
