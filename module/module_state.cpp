#include "module/module_state.h"

// Construction order at load; unloading destroys them in reverse.
CString g_strHelpDir;
CString g_strOutFile;
CString g_strKeyword[kKeywordSlots];
CString g_strStatus;
CString g_strIniExtra;

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
