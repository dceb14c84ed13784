#include "help/help.h"

#include "lifecycle/module_state.h"
#include "runtime/runtime.h"

void ShowHelp() { RunViewer(HELP_VIEWER_PATH, HELP_ARGUMENT); }

int RunViewer(const char* program, const char* argument) {
    CString path(program);
    CString name = g_strHelpDir + path;
    // The runtime joins the arguments with one space: the viewer's command line
    // is the path, a space, and the argument with its own leading space.
    return rt::_spawnl(_P_WAIT, name, path, argument);
}
