// The library's identity, the home of the export's messages on Linux, and
// the strings that a caller builds for the export.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include "framework/cstring.h"
#include "lifecycle/version.h"
#include "runtime/runtime.h"
#include "talveron.h"
#include "talveron_legacy.h"

namespace {

// Set from any thread, while an export's call of another thread shows messages.
std::atomic<void (*)(const char*, const char*)> s_messageHandler{nullptr};

int HandOver(void*, const char* text, const char* caption, unsigned int) {
    if (auto handler = s_messageHandler.load()) handler(text, caption);
    return IDYES;
}

}  // namespace

extern "C" const char* talveron_version(void) {
    return TALVERON_STRINGIZE(TALVERON_VERSION_MAJOR) "." TALVERON_STRINGIZE(TALVERON_VERSION_MINOR) "." TALVERON_STRINGIZE(
        TALVERON_VERSION_PATCH) "." TALVERON_STRINGIZE(TALVERON_VERSION_BUILD);
}

extern "C" void talveron_set_message_handler(void (*handler)(const char* text, const char* caption)) {
    s_messageHandler.store(handler);
    rt::SetMessageHandler(handler ? HandOver : nullptr);
}

// The export's strings are the module's own: a CString detached with its
// one reference.
extern "C" char* talveron_legacy_string(const char* text) {
    if (!text) return nullptr;
    std::size_t length = std::strlen(text);
    if (length > static_cast<std::size_t>(INT32_MAX)) return nullptr;  // no block holds it
    try {
        return CString(text, static_cast<int>(length)).Detach();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

extern "C" void talveron_legacy_string_free(char* string) {
    if (string) CString::Release(string);
}
