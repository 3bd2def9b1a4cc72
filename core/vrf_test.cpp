// Digest files: the digest key and digests computed outside (python3 hashlib over the settings
// bytes, the salt, the icon block and the key), and what verification refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/hex_testutil.h"
#include "core/vrf.h"

namespace {

const uint8_t kSeed[6] = {0x1B, 0x8B, 0x1C, 0x42, 0x7F, 0x7A};
// The key, from the seed and the 128-byte table that core/vrf.cpp lists, by the derivation
// written out (each seed byte i: p = (seed[i] + i) % 128, then four times p = (p + i) % 128):
//   python3 -c 'import re
//   t = [int(x, 16) for x in re.findall("0x([0-9A-F]{2})",
//        open("core/vrf.cpp").read().split("kDigestTable[128] =")[1].split("};")[0])]
//   k = []
//   for i, s in enumerate([0x1B, 0x8B, 0x1C, 0x42, 0x7F, 0x7A]):
//       p = (s + i) % 128; k.append(t[p])
//       for _ in range(4): p = (p + i) % 128; k.append(t[p])
//   print(bytes(k).hex())'
const char kKey[] = "f8f8f8f8f8889e2983a24b0d6e5c13eb7e86d03f10835e83faba86cb29fa";
const std::string kIni = "[LogoOptions]\r\nCustomIcon=0\r\n";
// The digests, with key = bytes.fromhex(kKey), salt = bytes((i * 37 + 11) % 255 for i in
// range(240)) and ini = kIni's bytes:
//   python3: hashlib.md5(ini + salt + b"\xff" + bytes(31) + key).hexdigest() (named) and
//            hashlib.md5(ini + salt + key).hexdigest() (general)
const char kNamedDigest[] = "89283cd8f40008d20a26318159653555";
const char kGeneralDigest[] = "72f0eae72e613644fcea5ab60f70f29b";

// The salt of the outside vectors: byte i = (i * 37 + 11) mod 255.
std::vector<uint8_t> File(const char* digestHex)
{
    std::vector<uint8_t> f(kVrfSaltSize);
    for (uint32_t i = 0; i < kVrfSaltSize; ++i) f[i] = (uint8_t)((i * 37 + 11) % 255);
    for (uint8_t b : ct::Bytes(digestHex)) f.push_back(b);
    return f;
}

TEST(CoreVrf, KeyFromTheClientsSeed)
{
    uint8_t key[100];
    uint32_t length = sizeof key;
    ASSERT_EQ(core_DeriveDigestKey(kSeed, 6, key, &length), 1);
    EXPECT_EQ(ct::Hex(key, length), kKey);
    length = 29;
    EXPECT_EQ(core_DeriveDigestKey(kSeed, 6, key, &length), 0);
    EXPECT_EQ(length, 29u);
}

TEST(CoreVrf, OutsideDigestsMatch)
{
    uint8_t icon[kVrfIconSize];
    core_VrfFixedIcon(icon);
    std::vector<uint8_t> named = File(kNamedDigest), general = File(kGeneralDigest);
    uint8_t digest[16];
    ASSERT_EQ(core_VrfDigest(ct::U(kIni), (uint32_t)kIni.size(), named.data(), icon, digest), 1);
    EXPECT_EQ(ct::Hex(digest, 16), kNamedDigest);
    uint32_t n = (uint32_t)kIni.size();
    EXPECT_EQ(core_VrfMatches(named.data(), kVrfFileSize, ct::U(kIni), n, kVrfNamedLimit, icon), 1);
    EXPECT_EQ(core_VrfMatches(general.data(), kVrfFileSize, ct::U(kIni), n, kVrfGeneralLimit, nullptr), 1);
    // Neither form passes for the other.
    EXPECT_EQ(core_VrfMatches(named.data(), kVrfFileSize, ct::U(kIni), n, kVrfGeneralLimit, nullptr), 0);
    EXPECT_EQ(core_VrfMatches(general.data(), kVrfFileSize, ct::U(kIni), n, kVrfNamedLimit, icon), 0);
}

TEST(CoreVrf, WhatVerificationRefuses)
{
    std::vector<uint8_t> general = File(kGeneralDigest);
    uint32_t n = (uint32_t)kIni.size();
    EXPECT_EQ(core_VrfMatches(general.data(), kVrfFileSize - 1, ct::U(kIni), n, kVrfGeneralLimit, nullptr), 0);
    EXPECT_EQ(core_VrfMatches(general.data(), kVrfFileSize, ct::U(kIni), n, n - 1, nullptr), 0);  // over limit
    EXPECT_EQ(core_VrfMatches(nullptr, kVrfFileSize, ct::U(kIni), n, kVrfGeneralLimit, nullptr), 0);
    // Every single changed byte of the file or the settings is found.
    for (uint32_t i = 0; i < kVrfFileSize; i += 17) {
        std::vector<uint8_t> f = general;
        f[i] ^= 1;
        EXPECT_EQ(core_VrfMatches(f.data(), kVrfFileSize, ct::U(kIni), n, kVrfGeneralLimit, nullptr), 0) << i;
    }
    std::string ini = kIni;
    ini[3] ^= 0x20;
    EXPECT_EQ(core_VrfMatches(general.data(), kVrfFileSize, ct::U(ini), n, kVrfGeneralLimit, nullptr), 0);
}

}  // namespace
