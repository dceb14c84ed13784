// The module's messages as the library tells them: each message box's
// Shift_JIS text and caption (texts.h) beside the same text in UTF-8 and how
// grave it is (enum talveron_level of talveron.h). The export and the tool's
// --messages show the Shift_JIS bytes; a talveron_sink is given the UTF-8
// text and the level. The UTF-8 bytes are written as escapes, as texts.h
// writes its own, and each line gives the text in Japanese.
#ifndef TALVERON_MESSAGES_LEVELS_H
#define TALVERON_MESSAGES_LEVELS_H

#include <cstring>

#include "talveron.h"
#include "texts.h"

struct MessageForms {
    const char* text;     // Shift_JIS, as the message box shows it
    const char* caption;  // Shift_JIS
    const char* utf8;     // the text in UTF-8
    int level;            // enum talveron_level
};

// Every message box of the module but the settings file's echo of the bytes
// it reads (the export's alone, never a search's).
inline constexpr MessageForms kMessageForms[] = {
    // アドレスの取得を開始します。 A search begins: nothing is wrong,
    // whatever its caption says.
    {MSG_SEARCH_START, CAPTION_ERROR,
     "\xe3\x82\xa2\xe3\x83\x89\xe3\x83\xac\xe3\x82\xb9\xe3\x81\xae\xe5\x8f\x96\xe5\xbe\x97"
     "\xe3\x82\x92\xe9\x96\x8b\xe5\xa7\x8b\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x99\xe3\x80\x82",
     TALVERON_INFORMATION},
    // 書出しファイルが開けない
    {MSG_OUTPUT_NOT_OPENED, CAPTION_ERROR,
     "\xe6\x9b\xb8\xe5\x87\xba\xe3\x81\x97\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab"
     "\xe3\x81\x8c\xe9\x96\x8b\xe3\x81\x91\xe3\x81\xaa\xe3\x81\x84",
     TALVERON_ERROR},
    // ファイルが存在しません。 (caption エラーです。)
    {MSG_INPUT_MISSING, CAPTION_THIS_IS_AN_ERROR,
     "\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\xe3\x81\x8c\xe5\xad\x98\xe5\x9c\xa8"
     "\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x9b\xe3\x82\x93\xe3\x80\x82",
     TALVERON_ERROR},
    // ファイルエラーが発生しました。 A read failed: the search ends there.
    {MSG_FILE_ERROR, CAPTION_ERROR,
     "\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\xe3\x82\xa8\xe3\x83\xa9\xe3\x83\xbc"
     "\xe3\x81\x8c\xe7\x99\xba\xe7\x94\x9f\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x97\xe3\x81\x9f\xe3\x80\x82",
     TALVERON_ERROR},
    // A record's text could not be written: it is lost.
    {MSG_ERRNO, CAPTION_ERROR, MSG_ERRNO, TALVERON_ERROR},
    // 初期化ファイルが開けない
    {MSG_SETTINGS_NOT_OPENED, CAPTION_ERROR,
     "\xe5\x88\x9d\xe6\x9c\x9f\xe5\x8c\x96\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab"
     "\xe3\x81\x8c\xe9\x96\x8b\xe3\x81\x91\xe3\x81\xaa\xe3\x81\x84",
     TALVERON_ERROR},
    // ＊＊ 初期化ファイルを書出しました。 ＊＊ (caption ＯＫ)
    {MSG_SETTINGS_SAVED, CAPTION_OK,
     "\xef\xbc\x8a\xef\xbc\x8a \xe5\x88\x9d\xe6\x9c\x9f\xe5\x8c\x96\xe3\x83\x95\xe3\x82\xa1"
     "\xe3\x82\xa4\xe3\x83\xab\xe3\x82\x92\xe6\x9b\xb8\xe5\x87\xba\xe3\x81\x97\xe3\x81\xbe"
     "\xe3\x81\x97\xe3\x81\x9f\xe3\x80\x82 \xef\xbc\x8a\xef\xbc\x8a",
     TALVERON_INFORMATION},
};

// The message shown as `text` with `caption`; null for one not in the table.
inline const MessageForms* FormsOfShown(const char* text, const char* caption) {
    for (const MessageForms& forms : kMessageForms)
        if (std::strcmp(forms.text, text) == 0 && std::strcmp(forms.caption, caption) == 0) return &forms;
    return nullptr;
}

// The message told as `utf8` at `level`; null for one not in the table.
inline const MessageForms* FormsOfTold(int level, const char* utf8) {
    for (const MessageForms& forms : kMessageForms)
        if (forms.level == level && std::strcmp(forms.utf8, utf8) == 0) return &forms;
    return nullptr;
}

#endif
