// Load and unload of TALVERON.dll.
//
// The module's entry point is ModuleEntry (set at link time). It calls the
// framework's ModuleStateHook before the C runtime's entry on process and
// thread attach, and after it on detach. The C runtime's entry
// (DllMainCRTStartup) constructs the module-level objects on process attach
// (module_state.cpp) and then calls DllMain; on process detach it calls DllMain
// and then runs the module's exit list, most recent registration first.
#include <windows.h>

#include "framework/afxwin.h"
#include "lifecycle/module_object.h"

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

extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);

namespace {
bool g_attached = false;
}

extern "C" BOOL WINAPI ModuleEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    // A process detach for a module that was never attached does nothing.
    if (reason == DLL_PROCESS_DETACH && !g_attached) return FALSE;
    if (reason == DLL_PROCESS_DETACH || reason == DLL_THREAD_DETACH) {
        BOOL result = DllMainCRTStartup(instance, reason, reserved);
        if (reason == DLL_PROCESS_DETACH) g_attached = false;
        ModuleStateHook(instance, reason, reserved);
        return result;
    }
    ModuleStateHook(instance, reason, reserved);
    BOOL result = DllMainCRTStartup(instance, reason, reserved);
    if (reason == DLL_PROCESS_ATTACH && result) g_attached = true;
    return result;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    LIFECYCLE_TRACE("DllMain", ReasonName(reason));
    return TRUE;
}
