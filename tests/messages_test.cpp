// The message texts against an independent conversion of their Japanese text
// to code page 932.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "messages/messages.h"

namespace {

std::string ToCp932(const std::string& utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) ADD_FAILURE() << "no CP932 converter";
    std::string out(utf8.size() * 2, '\0');
    char* in = const_cast<char*>(utf8.data());
    char* dst = out.data();
    std::size_t left = utf8.size(), room = out.size();
    if (iconv(cd, &in, &left, &dst, &room) == static_cast<std::size_t>(-1)) ADD_FAILURE() << "cannot convert " << utf8;
    iconv_close(cd);
    out.resize(out.size() - room);
    return out;
}

TEST(Messages, AreCodePage932OfTheirJapaneseText) {
    struct {
        const char* bytes;
        const char* utf8;
    } cases[] = {
        {MSG_SEARCH_START, "アドレスの取得を開始します。"},
        {MSG_OUTPUT_NOT_OPENED, "書出しファイルが開けない"},
        {MSG_INPUT_MISSING, "ファイルが存在しません。"},
        {MSG_FILE_ERROR, "ファイルエラーが発生しました。"},
        {MSG_SETTINGS_LOADED, "初期値ロードＯＫ"},
        {MSG_SETTINGS_NOT_OPENED, "初期化ファイルが開けない"},
        {MSG_SETTINGS_SAVED, "＊＊ 初期化ファイルを書出しました。 ＊＊"},
        {CAPTION_THIS_IS_AN_ERROR, "エラーです。"},
        {CAPTION_OK, "ＯＫ"},
    };
    for (const auto& c : cases) EXPECT_EQ(std::string(c.bytes), ToCp932(c.utf8)) << c.utf8;
}

}  // namespace
