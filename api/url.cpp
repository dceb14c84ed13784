// talveron_url: the URL Standard's parser, as the standards mode resolves
// links, for callers that name a page's address themselves.
#include <cstring>
#include <new>

#include "talveron.h"
#include "url/url.h"

extern "C" long long talveron_url(const char* input, const char* base, char* buffer, size_t size) {
    if (!input) return -1;
    try {
        Url baseUrl, url;
        if (base && !baseUrl.Parse(base, nullptr)) return -1;
        if (!url.Parse(input, base ? &baseUrl : nullptr)) return -1;
        const std::string& href = url.Href();
        if (buffer && size > href.size()) std::memcpy(buffer, href.c_str(), href.size() + 1);
        return static_cast<long long>(href.size());
    } catch (const std::bad_alloc&) {
        return -1;
    }
}
