// The slot that binds a setup to its package: its bytes, and finding it through the PE headers.
#include "core/image_slot.h"

#include <cstring>

const char kSlotSection[] = ".vslot";
const char kSlotMagic[] = "VemloSlt";

namespace {

uint32_t Le16(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | (Le16(p + 2) << 16); }

// Where the NT headers of a PE image start ("PE\0\0" and the whole file header in the bytes), or
// 0 when the bytes are no PE image. In 64 bits: the offset comes from a file anybody may have made.
uint64_t NtHeaders(const uint8_t* image, size_t len)
{
    if (len < 0x40 || image[0] != 'M' || image[1] != 'Z') return 0;
    const uint64_t nt = Le32(image + 0x3C);
    if (nt + 24 > len || std::memcmp(image + nt, "PE\0\0", 4) != 0) return 0;
    return nt;
}

}  // namespace

uint32_t core_ImageMachine(const uint8_t* image, size_t len)
{
    const uint64_t nt = NtHeaders(image, len);
    return nt ? Le16(image + nt + 4) : 0;
}

void core_EmptySlot(uint8_t* out)
{
    std::memset(out, 0, kSlotLen);
    std::memcpy(out, kSlotMagic, 8);
    out[8] = kSlotVersion;
    out[9] = kDigestBlake3;
    out[11] = (uint8_t)kDigestBlake3Len;
}

int core_ReadSlot(const uint8_t* slot, DigestValue* digest)
{
    if (std::memcmp(slot, kSlotMagic, 8) != 0 || slot[8] != kSlotVersion || slot[9] != kDigestBlake3 ||
        slot[11] != kDigestBlake3Len || slot[10] > 1)
        return -1;
    if (slot[10] == 0) return 0;
    std::memset(digest, 0, sizeof *digest);
    digest->algorithm = kDigestBlake3;
    digest->len = (uint8_t)kDigestBlake3Len;
    std::memcpy(digest->bytes, slot + 12, kDigestBlake3Len);
    return 1;
}

int core_FindImageSlot(const uint8_t* image, size_t len, uint32_t* offset)
{
    // All sums in 64 bits: every field comes from a file anybody may have made.
    // Bytes that are no PE image at all hold no slot; a PE image with a section table or a slot
    // section that does not fit is malformed.
    const uint64_t nt = NtHeaders(image, len);
    if (!nt) return 0;
    const uint32_t sections = Le16(image + nt + 6);
    const uint64_t table = nt + 24 + Le16(image + nt + 20);
    if (table + 40ull * sections > len) return -1;
    int found = 0;
    uint32_t at = 0;
    for (uint32_t i = 0; i < sections; ++i) {
        const uint8_t* s = image + table + 40ull * i;
        char name[9] = {};
        std::memcpy(name, s, 8);
        if (std::strcmp(name, kSlotSection) != 0) continue;
        if (found) return -1;  // two of them: which one would the stub read?
        found = 1;
        const uint64_t virtualSize = Le32(s + 8), rawSize = Le32(s + 16), raw = Le32(s + 20);
        // The stub reads the mapped slot, the tool the file's: both must hold all of it.
        if (virtualSize < kSlotLen || rawSize < kSlotLen || raw + kSlotLen > len) return -1;
        DigestValue unused;
        if (core_ReadSlot(image + raw, &unused) < 0) return -1;
        at = (uint32_t)raw;
    }
    if (found) *offset = at;
    return found;
}

int core_FillImageSlot(uint8_t* image, size_t len, const DigestValue* digest)
{
    if (digest->algorithm != kDigestBlake3 || digest->len != kDigestBlake3Len) return -1;
    uint32_t at = 0;
    int found = core_FindImageSlot(image, len, &at);
    if (found <= 0) return found;
    image[at + 10] = 1;
    std::memcpy(image + at + 12, digest->bytes, kDigestBlake3Len);
    return 1;
}
