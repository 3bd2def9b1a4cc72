// Fuzz target: the section-name lists of settings files and registry string values, in buffers
// of exactly the size the platform returned, against plain models built here.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/settings_text.h"

namespace {

// The list model: names up to the first empty one; a name counts only when its NUL is inside.
bool ListModel(const std::string& list, const std::string& name)
{
    size_t i = 0;
    while (i < list.size() && list[i] != '\0') {
        size_t end = list.find('\0', i);
        if (end == std::string::npos) return false;
        if (list.compare(i, end - i, name) == 0) return true;
        i = end + 1;
    }
    return false;
}

void List(const uint8_t* data, size_t size)
{
    // The name (no NUL in it) comes first, up to a 0x01 byte; the list is the rest.
    const uint8_t* cut = static_cast<const uint8_t*>(std::memchr(data, 1, size));
    if (!cut) return;
    std::string name(reinterpret_cast<const char*>(data), (size_t)(cut - data));
    if (name.find('\0') != std::string::npos) return;
    size_t len = size - (size_t)(cut - data) - 1;
    char* list = static_cast<char*>(std::malloc(len ? len : 1));
    std::memcpy(list, cut + 1, len);
    int got = core_ListHasName(list, (uint32_t)len, name.c_str());
    if (got != (ListModel(std::string(list, len), name) ? 1 : 0)) std::abort();
    std::free(list);
}

void Registry(const uint8_t* data, size_t size)
{
    // The capacity of the caller's buffer first, then the value's bytes.
    if (size < 1) return;
    uint32_t capacity = data[0];
    uint32_t got = (uint32_t)(size - 1);
    char* value = static_cast<char*>(std::malloc(got ? got : 1));
    std::memcpy(value, data + 1, got);
    char* out = static_cast<char*>(std::malloc(capacity ? capacity : 1));
    std::memset(out, 'u', capacity ? capacity : 1);
    std::string text(value, got);
    text = text.substr(0, text.find('\0'));
    int ok = core_TakeRegistryText(value, got, out, capacity);
    if (ok != (text.size() + 1 <= capacity ? 1 : 0)) std::abort();
    if (ok && std::strcmp(out, text.c_str()) != 0) std::abort();
    if (!ok)
        for (uint32_t i = 0; i < capacity; ++i)
            if (out[i] != 'u') std::abort();  // untouched on failure
    std::free(out);
    std::free(value);
}

}  // namespace

// Input: one byte choosing the reader (even: section list, odd: registry text), then its bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    if (data[0] & 1)
        Registry(data + 1, size - 1);
    else
        List(data + 1, size - 1);
    return 0;
}
