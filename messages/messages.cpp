#include "messages/messages.h"

#include "runtime/runtime.h"

void ShowMessage(const char* text, const char* caption) {
    rt::MessageBoxA(nullptr, text, caption, MB_YESNO);
}
