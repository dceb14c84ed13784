// The texts and captions of the module's message boxes: Shift_JIS
// (code page 932) bytes, written as escapes so that the source file's own
// encoding cannot change them. Each line gives the text in Japanese. The
// one source of these bytes, for the module and the tool alike.
#ifndef TALVERON_MESSAGES_TEXTS_H
#define TALVERON_MESSAGES_TEXTS_H

// アドレスの取得を開始します。 (address collection is starting)
#define MSG_SEARCH_START                                                         \
    "\x83\x41\x83\x68\x83\x8c\x83\x58\x82\xcc\x8e\xe6\x93\xbe\x82\xf0\x8a\x4a" \
    "\x8e\x6e\x82\xb5\x82\xdc\x82\xb7\x81\x42"
// 書出しファイルが開けない (the output file cannot be opened)
#define MSG_OUTPUT_NOT_OPENED \
    "\x8f\x91\x8f\x6f\x82\xb5\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8a\x4a\x82\xaf\x82\xc8\x82\xa2"
// ファイルが存在しません。 (the file does not exist)
#define MSG_INPUT_MISSING                                                        \
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x91\xb6\x8d\xdd\x82\xb5\x82\xdc" \
    "\x82\xb9\x82\xf1\x81\x42"
// ファイルエラーが発生しました。 (a file error has occurred)
#define MSG_FILE_ERROR                                                           \
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x83\x47\x83\x89\x81\x5b\x82\xaa\x94\xad" \
    "\x90\xb6\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42"
// 初期値ロードＯＫ (initial values loaded OK)
#define MSG_SETTINGS_LOADED \
    "\x8f\x89\x8a\xfa\x92\x6c\x83\x8d\x81\x5b\x83\x68\x82\x6e\x82\x6a"
// 初期化ファイルが開けない (the initialization file cannot be opened)
#define MSG_SETTINGS_NOT_OPENED \
    "\x8f\x89\x8a\xfa\x89\xbb\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8a\x4a\x82\xaf\x82\xc8\x82\xa2"
// ＊＊ 初期化ファイルを書出しました。 ＊＊ (the initialization file has been written)
#define MSG_SETTINGS_SAVED                                                       \
    "\x81\x96\x81\x96\x20\x8f\x89\x8a\xfa\x89\xbb\x83\x74\x83\x40\x83\x43\x83" \
    "\x8b\x82\xf0\x8f\x91\x8f\x6f\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42\x20" \
    "\x81\x96\x81\x96"
// "errno": shown when a record cannot be written.
#define MSG_ERRNO "errno"

// Status texts (kept in g_strStatus, never shown by themselves).
#define STATUS_EXIST_FILE "exist file"
#define STATUS_SEARCHING "Searching..."
#define STATUS_FILE_END "File End"

// Captions.
#define CAPTION_ERROR "ERROR"
// エラーです。 (this is an error)
#define CAPTION_THIS_IS_AN_ERROR "\x83\x47\x83\x89\x81\x5b\x82\xc5\x82\xb7\x81\x42"
// ＯＫ (full-width letters)
#define CAPTION_OK "\x82\x6e\x82\x6a"

#endif
