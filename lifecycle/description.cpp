// The module's description text, kept in its read-only data.
#include "lifecycle/version.h"

extern const char g_szModuleDescription[];
__attribute__((used)) const char g_szModuleDescription[] = TALVERON_DESCRIPTION;
