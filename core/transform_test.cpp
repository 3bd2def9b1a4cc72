// The mixing transform: hand-computed negations, on both sides of its 16-byte stride.
#include <gtest/gtest.h>

#include <vector>

#include "core/transform.h"

namespace {

TEST(CoreTransform, NegatesEachByte)
{
    uint8_t abc[] = {0x61, 0x62, 0x63, 0x00, 0x80, 0x01, 0x7F, 0xFF};
    const uint8_t want[] = {0x9F, 0x9E, 0x9D, 0x00, 0x80, 0xFF, 0x81, 0x01};
    EXPECT_EQ(core_MixBytes(abc, sizeof abc), 8u);
    EXPECT_EQ(std::vector<uint8_t>(abc, abc + 8), std::vector<uint8_t>(want, want + 8));
    EXPECT_EQ(core_MixBytes(abc, 0), 0u);
}

TEST(CoreTransform, EveryLengthAroundTheStride)
{
    for (uint32_t len : {1u, 15u, 16u, 17u, 31u, 32u, 33u, 256u}) {
        std::vector<uint8_t> b(len + 1, 0x5A);  // one guard byte past the end
        for (uint32_t i = 0; i < len; ++i) b[i] = (uint8_t)(i * 7 + 3);
        core_MixBytes(b.data(), len);
        for (uint32_t i = 0; i < len; ++i) ASSERT_EQ(b[i], (uint8_t)(256 - (i * 7 + 3) % 256)) << len << " " << i;
        EXPECT_EQ(b[len], 0x5A) << "nothing past len";
        core_MixBytes(b.data(), len);
        for (uint32_t i = 0; i < len; ++i) ASSERT_EQ(b[i], (uint8_t)(i * 7 + 3));
    }
}

}  // namespace
