// Fuzz target: an end record's content as the reader finds it, and the payload digest over the
// same bytes fed in two pieces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "core/payload_digest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kEndDataMax) return 0;  // the reader never decodes more
    uint8_t* content = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (size) std::memcpy(content, data, size);
    DigestValue value;
    if (core_DecodeEndData(content, (uint32_t)size, &value)) {
        // Whatever decodes is exactly what the writer would put there for that value.
        uint8_t again[kEndDataMax];
        if (core_EncodeEndData(again, &value) != size || std::memcmp(again, content, size) != 0) std::abort();
    }
    PayloadDigest whole, split;
    core_DigestBegin(&whole);
    core_DigestUpdate(&whole, content, size);
    core_DigestBegin(&split);
    size_t cut = size ? content[0] % (size + 1) : 0;
    core_DigestUpdate(&split, content, cut);
    core_DigestUpdate(&split, content + cut, size - cut);
    for (uint8_t algorithm : {kDigestXxh3, kDigestBlake3}) {
        DigestValue a, b;
        if (!core_DigestValue(&whole, algorithm, &a) || !core_DigestValue(&split, algorithm, &b) ||
            !core_DigestEqual(&a, &b))
            std::abort();
    }
    std::free(content);
    return 0;
}
