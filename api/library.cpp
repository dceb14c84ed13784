// The library's identity and the home of the export's messages on Linux.
#include <atomic>

#include "lifecycle/version.h"
#include "runtime/runtime.h"
#include "talveron.h"

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
