// The settings file "CTolvane_Ini.ini" in the current directory: seven lines,
// keyword slots 1 to 6 and g_strIniExtra. Internal operations of the module:
// nothing exports or calls them.
#ifndef TALVERON_SETTINGS_SETTINGS_H
#define TALVERON_SETTINGS_SETTINGS_H

#include "framework/cstring.h"

#define SETTINGS_FILE_NAME "CTolvane_Ini.ini"
constexpr int kSettingsLines = 7;

// Fills the six keyword slots and g_strIniExtra from the file's lines 1 to 7,
// showing every byte read in its own message box. A value whose line the file
// lacks keeps its content; a last line without LF still counts. A file that
// cannot be opened, or a read that fails, shows "ファイルエラーが発生しました。"
// once. Ends with g_strStatus "初期値ロードＯＫ".
void LoadSettings();

// One byte of g_nIniFile as a new string (empty for the byte 0 and at the end
// of the file). Every byte read is shown in a message box and left in
// g_strStatus. A failed read delivers nothing and is remembered for
// LoadSettings (IniReadFailed).
CString ReadIniChar();
bool IniReadFailed();
bool IniByteDelivered();  // the last ReadIniChar delivered a byte (0 included)
void ResetIniReader();

// Writes the six keyword slots and g_strIniExtra as seven CR LF lines,
// replacing the file, and shows "＊＊ 初期化ファイルを書出しました。 ＊＊" once
// all seven are written; "初期化ファイルが開けない" when the file cannot be opened.
void SaveSettings();

#endif
