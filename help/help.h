// The help launcher: starts the Windows help viewer on "varnel_kb.hlp" and
// waits for it. Internal operations of the module: nothing exports or calls
// them.
#ifndef TALVERON_HELP_HELP_H
#define TALVERON_HELP_HELP_H

#define HELP_VIEWER_PATH "c:\\windows\\winhelp.exe"
#define HELP_ARGUMENT " varnel_kb.hlp"

// Runs the viewer on the help file; its result is not used.
void ShowHelp();

// Starts g_strHelpDir + `program` with argument 0 `program` and argument 1
// `argument`, and waits until it ends. Returns its exit status, or -1 when it
// cannot be started (no message is shown).
int RunViewer(const char* program, const char* argument);

#endif
