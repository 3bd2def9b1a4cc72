// The byte-mixing transform of the package format.
#include "core/transform.h"

#include <cstring>

uint32_t core_MixBytes(uint8_t* buffer, uint32_t len)
{
    core_MixBytesInto(buffer, buffer, len);
    return len;
}

void core_MixBytesInto(uint8_t* out, const uint8_t* in, uint32_t len)
{
    // Sixteen bytes at a time where the compiler has vector types (one packed negation on SSE2),
    // then byte by byte. Each block is read whole before it is written: out may be in itself.
    uint32_t i = 0;
#if defined(__GNUC__)
    typedef unsigned char Block __attribute__((vector_size(16)));
    for (; len - i >= sizeof(Block); i += sizeof(Block)) {
        Block b;
        std::memcpy(&b, in + i, sizeof b);
        b = -b;
        std::memcpy(out + i, &b, sizeof b);
    }
#endif
    for (; i < len; ++i) out[i] = (uint8_t)(0u - in[i]);
}
