// Keyword filter and result record.
#include <cstring>

#include "module/messages.h"
#include "module/module_state.h"
#include "runtime/runtime.h"
#include "search/input_reader.h"
#include "search/search.h"

bool ContainsKeyword(const char* address) {
    for (const CString& keyword : g_strKeyword) {
        if (!keyword.IsEmpty() && std::strstr(address, keyword) != nullptr) return true;
    }
    return false;
}

void StripNonPrintable(const char* address, char* record) {
    int kept = 0;
    for (int i = 0; i < kRecordBufferSize && address[i] != '\0'; ++i) {
        unsigned char byte = static_cast<unsigned char>(address[i]);
        if (rt::IsPrintByte(byte)) record[kept++] = static_cast<char>(byte);
    }
    record[kept] = '\0';
}

namespace {

// errno in decimal, as the status text of a failed write.
CString Decimal(int value) {
    char digits[16];
    char* p = digits + sizeof digits;
    *--p = '\0';
    unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--p = '-';
    return CString(p);
}

}  // namespace

void EmitLink() {
    const char* address = UrlString();  // from here on the address ends at its first 0 byte
    // Longer addresses do not fit the record buffer and are dropped.
    if (std::strlen(address) > static_cast<std::size_t>(kMaxAddress)) return;
    if (ContainsKeyword(address)) return;

    char record[kRecordBufferSize];
    StripNonPrintable(address, record);
    // A short write is followed by another for the rest, so that a record is
    // never cut without a message.
    if (rt::WriteAll(g_nOutFile, record, static_cast<unsigned int>(std::strlen(record))) == -1) {
        g_strStatus = Decimal(rt::LastErrno());
        NoteStatusSet();
        ShowMessage(MSG_ERRNO, CAPTION_ERROR);
    }
    // The line end is written even after a failed record: the file then holds
    // an empty line in its place.
    rt::WriteAll(g_nOutFile, "\r\n", 2);
}
