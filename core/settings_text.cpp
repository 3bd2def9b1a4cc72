// Section-name lists and registry string values, read within their bounds.
#include "core/settings_text.h"

#include <cstring>

namespace {

// The length of the text at s, looking at no more than max bytes.
uint32_t BoundedLength(const char* s, uint32_t max)
{
    uint32_t n = 0;
    while (n < max && s[n]) ++n;
    return n;
}

}  // namespace

int core_ListHasName(const char* list, uint32_t len, const char* name)
{
    if (!list || !name) return 0;
    uint32_t i = 0;
    while (i < len && list[i]) {
        uint32_t n = BoundedLength(list + i, len - i);
        if (i + n >= len) return 0;  // a name cut by the end of the buffer
        if (std::strcmp(list + i, name) == 0) return 1;
        i += n + 1;
    }
    return 0;
}

int core_TakeRegistryText(const char* data, uint32_t got, char* out, uint32_t size)
{
    if (!data || !out) return 0;
    uint32_t len = BoundedLength(data, got);
    if (len + 1 > size || len + 1 == 0) return 0;
    std::memcpy(out, data, len);
    out[len] = '\0';
    return 1;
}
