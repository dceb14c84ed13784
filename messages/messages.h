// The module's message boxes: their texts (texts.h) and how one is shown.
#ifndef TALVERON_MESSAGES_MESSAGES_H
#define TALVERON_MESSAGES_MESSAGES_H

#include "messages/texts.h"

// Shows a message the module's way: no owner window, Yes and No buttons; the
// answer is never used.
void ShowMessage(const char* text, const char* caption);

#endif
