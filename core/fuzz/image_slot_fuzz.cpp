// Fuzz target: the slot search over a stub image as vpack reads it from any file it is given,
// and the fill that follows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/image_slot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact copy on the heap: a read past the image's end is an overflow.
    uint8_t* image = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (size) std::memcpy(image, data, size);
    uint32_t at = 0;
    int found = core_FindImageSlot(image, size, &at);
    DigestValue digest;
    std::memset(&digest, 0x5A, sizeof digest);
    digest.algorithm = kDigestBlake3;
    digest.len = kDigestBlake3Len;
    if (core_FillImageSlot(image, size, &digest) != found) std::abort();
    if (found == 1) {
        // What was filled reads back as that digest, and the slot is still found where it was.
        DigestValue back;
        uint32_t again = 0;
        if (at + kSlotLen > size || core_ReadSlot(image + at, &back) != 1 || !core_DigestEqual(&back, &digest) ||
            core_FindImageSlot(image, size, &again) != 1 || again != at)
            std::abort();
    }
    std::free(image);
    return 0;
}
