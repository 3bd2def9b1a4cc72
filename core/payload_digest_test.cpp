// The payload digest (known answers from xxhsum -H3) and the end record's tagged form.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/hex_testutil.h"
#include "core/payload_digest.h"

namespace {

TEST(CorePayloadDigest, XxhsumKnownAnswers)
{
    PayloadDigest d;
    core_DigestBegin(&d);
    EXPECT_EQ(core_DigestValue(&d), 0x2d06800538d394c2ull);  // printf '' | xxhsum -H3
    core_DigestUpdate(&d, "a", 1);
    core_DigestUpdate(&d, "", 0);
    core_DigestUpdate(&d, "bc", 2);
    EXPECT_EQ(core_DigestValue(&d), 0x78af5f94892f3950ull);  // printf abc | xxhsum -H3
}

TEST(CorePayloadDigest, EndDataEncodesAndDecodes)
{
    uint8_t data[kEndDataLen];
    core_EncodeEndData(data, 0x78af5f94892f3950ull);
    EXPECT_EQ(ct::Hex(data, sizeof data), "010878af5f94892f3950");
    uint64_t v = 0;
    ASSERT_EQ(core_DecodeEndData(data, sizeof data, &v), 1);
    EXPECT_EQ(v, 0x78af5f94892f3950ull);
}

TEST(CorePayloadDigest, EndDataThatIsNoDigestOfOurs)
{
    const char* const refused[] = {
        "020878af5f94892f3950",    // another algorithm
        "010478af5f94892f3950",    // another value length
        "010878af5f94892f39",      // one byte short
        "010878af5f94892f395000",  // one byte more
        "",
    };
    for (const char* hex : refused) {
        std::vector<uint8_t> data = ct::Bytes(hex);
        data.reserve(1);
        uint64_t v = 7;
        EXPECT_EQ(core_DecodeEndData(data.data(), (uint32_t)data.size(), &v), 0) << hex;
        EXPECT_EQ(v, 7u) << "untouched";
    }
}

}  // namespace
