// Base64: RFC 4648 section 10 vectors both ways, and the texts the decoder refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/base64.h"
#include "core/hex_testutil.h"

namespace {

TEST(CoreBase64, Rfc4648VectorsBothWays)
{
    const char* const vectors[][2] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (auto& v : vectors) {
        std::string in = v[0];
        char text[16];
        EXPECT_EQ(Base64Encode(ct::U(in), text, (int)in.size()), 0);
        EXPECT_STREQ(text, v[1]);
        uint8_t out[16];
        int len = -1;
        ASSERT_EQ(Base64Decode(v[1], out, &len), 0) << v[1];
        EXPECT_EQ(std::string((const char*)out, (size_t)len), in);
        EXPECT_EQ(out[len], 0) << "NUL after the bytes";
    }
}

TEST(CoreBase64, RefusedTexts)
{
    // Lengths that are no multiple of 4, bytes outside the alphabet, padding before the end.
    for (const char* bad : {"Z", "Zg=", "Zm9vY", "Zm9v*mFy", "Zm9v\x80mFy", "Zg==Zm9v", "Z===", "Zm=v", "===="}) {
        std::vector<uint8_t> out(16);
        EXPECT_EQ(Base64Decode(bad, out.data(), nullptr), -1) << bad;
    }
    uint8_t out[4];
    EXPECT_EQ(Base64Decode(nullptr, out, nullptr), -1);
    EXPECT_EQ(Base64Decode("Zm9v", nullptr, nullptr), -1);
}

}  // namespace
