// talveron_json_string: a JSON string as the records' strings are written,
// for callers that add fields of their own to a record (the tool's page).
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "talveron.h"
#include "search/json_text.h"

extern "C" long long talveron_json_string(const char* text, size_t length, char* buffer, size_t size) {
    if (!text && length) return -1;
    try {
        std::string json;
        AppendJsonText(json, std::string_view(text ? text : "", length));
        if (buffer && size > json.size()) std::memcpy(buffer, json.c_str(), json.size() + 1);
        return static_cast<long long>(json.size());
    } catch (const std::bad_alloc&) {
        return -1;
    }
}
