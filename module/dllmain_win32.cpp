// Load and unload of TALVERON.dll.
//
// The mingw-w64 entry point (DllMainCRTStartup) calls DllEntryPoint before the
// C runtime's start-up on process and thread attach and after its shut-down on
// detach, and DllMain between them; it answers FALSE by itself to a process
// detach for a module that was never attached. The C runtime's start-up
// constructs the module-level objects (module_state.cpp) and its shut-down runs
// the module's exit list, most recent registration first.
#include <windows.h>

#include "framework/afxwin.h"
#include "module/module_object.h"

namespace {

const char* ReasonName(DWORD reason) {
    switch (reason) {
        case DLL_PROCESS_DETACH: return "0";
        case DLL_PROCESS_ATTACH: return "1";
        case DLL_THREAD_ATTACH: return "2";
        case DLL_THREAD_DETACH: return "3";
        default: return "?";
    }
}

}  // namespace

// The framework's hook: on process attach, the run-time classes and object
// factories registered so far become the module's initial entries, and both
// lists start empty.
extern "C" BOOL WINAPI ModuleStateHook(HINSTANCE, DWORD reason, LPVOID) {
    LIFECYCLE_TRACE("ModuleStateHook", ReasonName(reason));
    if (reason == DLL_PROCESS_ATTACH) {
        AFX_MODULE_STATE* state = AfxGetModuleState();
        state->m_pClassInit = state->m_classListHead;
        state->m_pFactoryInit = state->m_factoryListHead;
        state->m_classListHead = nullptr;
        state->m_factoryListHead = nullptr;
    }
    return TRUE;
}

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return ModuleStateHook(instance, reason, reserved);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    LIFECYCLE_TRACE("DllMain", ReasonName(reason));
    return TRUE;
}
