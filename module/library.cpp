// The library's identity and the home of the export's messages on Linux.
#include "module/talveron.h"
#include "module/version.h"
#include "runtime/runtime.h"

namespace {

void (*s_messageHandler)(const char* text, const char* caption) = nullptr;

int HandOver(void*, const char* text, const char* caption, unsigned int) {
    if (s_messageHandler) s_messageHandler(text, caption);
    return IDYES;
}

}  // namespace

extern "C" const char* talveron_version(void) {
    return TALVERON_STRINGIZE(TALVERON_VERSION_MAJOR) "." TALVERON_STRINGIZE(TALVERON_VERSION_MINOR) "." TALVERON_STRINGIZE(
        TALVERON_VERSION_PATCH) "." TALVERON_STRINGIZE(TALVERON_VERSION_BUILD);
}

extern "C" void talveron_set_message_handler(void (*handler)(const char* text, const char* caption)) {
    s_messageHandler = handler;
    rt::SetMessageHandler(handler ? HandOver : nullptr);
}
