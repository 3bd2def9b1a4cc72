// Fuzz target: a digest file's bytes against settings bytes, as the verify operations read them.
// Input: one flag byte (bit 0: a named pair with the fixed icon block), up to 256 digest-file
// bytes, then the settings bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/vrf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    bool named = data[0] & 1;
    ++data;
    --size;
    uint32_t vrfLen = size < kVrfFileSize ? (uint32_t)size : kVrfFileSize;
    uint32_t n = (uint32_t)(size - vrfLen);
    uint32_t limit = named ? kVrfNamedLimit : kVrfGeneralLimit;
    if (n > limit + 1) return 0;
    uint8_t* vrf = static_cast<uint8_t*>(std::malloc(vrfLen ? vrfLen : 1));
    uint8_t* settings = static_cast<uint8_t*>(std::malloc(n ? n : 1));
    if (vrfLen) std::memcpy(vrf, data, vrfLen);
    if (n) std::memcpy(settings, data + vrfLen, n);
    uint8_t icon[kVrfIconSize];
    core_VrfFixedIcon(icon);
    const uint8_t* block = named ? icon : nullptr;

    int matches = core_VrfMatches(vrf, vrfLen, settings, n, limit, block);
    if (vrfLen == kVrfFileSize && n <= limit) {
        // The file made for these settings with this salt must verify, and must equal the input
        // exactly when the input verified.
        uint8_t made[kVrfFileSize];
        std::memcpy(made, vrf, kVrfSaltSize);
        if (!core_VrfDigest(settings, n, made, block, made + kVrfSaltSize)) std::abort();
        if (!core_VrfMatches(made, kVrfFileSize, settings, n, limit, block)) std::abort();
        if (matches != (std::memcmp(made, vrf, kVrfFileSize) == 0)) std::abort();
    } else if (matches) {
        std::abort();
    }
    std::free(settings);
    std::free(vrf);
    return 0;
}
