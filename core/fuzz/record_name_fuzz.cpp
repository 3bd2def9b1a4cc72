// Fuzz target: a record name as the package reader gets it (not terminated). Input: one byte
// choosing the code page (odd: double-byte 936-style lead bytes), then the name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/record_name.h"

namespace {

int Gbk(uint8_t b) { return b >= 0x81 && b <= 0xFE; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 4096) return 0;
    size_t len = size - 1;
    char* name = static_cast<char*>(std::malloc(len ? len : 1));
    if (len) std::memcpy(name, data + 1, len);
    int safe = core_IsSafeRecordName(name, (uint32_t)len, (data[0] & 1) ? Gbk : nullptr);
    if (safe) {
        // No trail byte is below 0x40, so these bytes mean themselves wherever they stand: a
        // name that passes has none of them and does not start at a root.
        if (name[0] == '\\' || name[0] == '/') std::abort();
        for (size_t i = 0; i < len; ++i) {
            uint8_t b = (uint8_t)name[i];
            if (b < 0x20 || b == ':' || b == '<' || b == '>' || b == '"' || b == '?' || b == '*') std::abort();
        }
    }
    std::free(name);
    return 0;
}
