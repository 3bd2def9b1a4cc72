// The digest key and the digest that a .vrf file holds for its settings bytes.
#include "core/vrf.h"

#include <cstring>

#include "core/md5.h"

namespace {

// The client's own digest constants: the seed and the table from which the 30-byte digest key
// is built at run time. Digest files made with other constants do not verify here.
const uint8_t kDigestSeed[6] = {0x1B, 0x8B, 0x1C, 0x42, 0x7F, 0x7A};
const uint8_t kDigestTable[128] = {
    0xAD, 0xC6, 0xCF, 0x10, 0x86, 0x17, 0x84, 0x83, 0x22, 0xCB, 0xD3, 0x5E, 0x88, 0x9E, 0x29, 0x83,
    0xA2, 0xEA, 0x56, 0xFA, 0x81, 0xD2, 0x83, 0xD2, 0xE1, 0xC0, 0xD3, 0xF8, 0x3A, 0x86, 0x4B, 0x8A,
    0x0D, 0x3F, 0x6E, 0xB8, 0x5C, 0xAF, 0x13, 0x7C, 0xFC, 0x4E, 0x04, 0xED, 0x97, 0xD6, 0x66, 0xB2,
    0x9B, 0x0E, 0xE1, 0x1D, 0x2F, 0x66, 0xA4, 0x87, 0x6F, 0x27, 0xBD, 0x88, 0x44, 0x02, 0xB4, 0x50,
    0x19, 0x17, 0x8B, 0x65, 0x84, 0xEB, 0x5D, 0x1E, 0x7E, 0x8B, 0xFA, 0x86, 0x9C, 0x15, 0xD0, 0x50,
    0x76, 0x3F, 0x3B, 0x1E, 0x4E, 0x5B, 0x0E, 0xC9, 0xF7, 0x06, 0x39, 0x6B, 0x29, 0xDE, 0x26, 0xE0,
    0x53, 0x38, 0x87, 0xF6, 0xD5, 0x5C, 0x1A, 0x3D, 0x2C, 0x68, 0x4B, 0xFC, 0xCF, 0xDF, 0x92, 0x64,
    0xA0, 0x23, 0x5E, 0x6D, 0xDA, 0xEE, 0x92, 0x38, 0x4C, 0x2E, 0xA9, 0xFB, 0xD9, 0x24, 0xB5, 0xBA,
};

const uint32_t kKeyCapacity = 100;

// The key is a secret of the client: wiped where the compiler cannot drop the stores.
void Wipe(uint8_t* p, uint32_t n)
{
    volatile uint8_t* v = p;
    while (n--) *v++ = 0;
}

}  // namespace

int core_DeriveDigestKey(const uint8_t* seed, uint32_t seedLength, uint8_t* key, uint32_t* keyLength)
{
    if (!seed || !key || !keyLength || seedLength < 6 || seedLength > 20 || *keyLength < 5 * seedLength) return 0;
    uint32_t o = 0;
    for (uint32_t i = 0; i < seedLength; ++i) {
        uint32_t p = (seed[i] + i) % 128;
        key[o++] = kDigestTable[p];
        for (int k = 0; k < 4; ++k) {
            p = (p + i) % 128;
            key[o++] = kDigestTable[p];
        }
    }
    *keyLength = o;
    return 1;
}

void core_VrfFixedIcon(uint8_t* block)
{
    std::memset(block, 0, kVrfIconSize);
    block[0] = 0xFF;
}

int core_VrfDigest(const uint8_t* settings, uint32_t n, const uint8_t* salt, const uint8_t* icon,
                   uint8_t* digest)
{
    uint8_t key[kKeyCapacity];
    uint32_t keyLength = sizeof key;
    if (!core_DeriveDigestKey(kDigestSeed, sizeof kDigestSeed, key, &keyLength)) return 0;
    Md5Context m;
    core_Md5Init(&m);
    if (n) core_Md5Update(&m, settings, n);
    core_Md5Update(&m, salt, kVrfSaltSize);
    if (icon) core_Md5Update(&m, icon, kVrfIconSize);
    core_Md5Update(&m, key, keyLength);
    core_Md5Final(&m, digest);
    Wipe(key, sizeof key);
    return 1;
}

int core_VrfMatches(const uint8_t* vrf, uint32_t vrfLen, const uint8_t* settings, uint32_t n, uint32_t limit,
                    const uint8_t* icon)
{
    if (!vrf || vrfLen != kVrfFileSize || n > limit || (n && !settings)) return 0;
    uint8_t digest[kVrfDigestSize];
    if (!core_VrfDigest(settings, n, vrf, icon, digest)) return 0;
    return std::memcmp(digest, vrf + kVrfSaltSize, kVrfDigestSize) == 0 ? 1 : 0;
}
