// The stored password's steps, against texts made by OpenSSL:
//   printf '%s' PASSWORD | openssl enc -des-ecb -K 6b6f707261353237 | base64
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/password.h"

namespace {

const char* const kStored[][2] = {
    {"", "ni9XlSmnF54="},
    {"a", "vr4wOxmqqKc="},
    {"Password1", "0vv2T0Gl1BBXGGwNPQYi6Q=="},
    {"0123456789abcdefghijklmnopqrstuv", "7lMaumnVscwWyk/xyMJo2e8hhd+4DplIgThUrF2INt+eL1eVKacXng=="},
};

TEST(CorePassword, BothWaysMatchOpenSsl)
{
    DesContext ctx;
    ASSERT_EQ(DesSetKey(kStoredPwdKey, &ctx), 0);
    for (auto& v : kStored) {
        std::string pw = v[0];
        int padded = (int)(pw.size() & ~7u) + 8;
        uint8_t cipher[64], plain[72];
        char text[100];
        ASSERT_EQ(core_PwdEncipher(&ctx, (const uint8_t*)pw.data(), (int)pw.size(), cipher, padded, text), PWD_OK);
        EXPECT_STREQ(text, v[1]);
        int m = 0, k = -1;
        ASSERT_EQ(core_PwdDecode(v[1], cipher, 64, &m), PWD_OK);
        EXPECT_EQ(m, padded);
        ASSERT_EQ(core_PwdDecipher(&ctx, cipher, m, plain, 64, &k), PWD_OK);
        EXPECT_EQ(std::string((const char*)plain, (size_t)k), pw);
    }
}

TEST(CorePassword, WhatTheStepsRefuse)
{
    DesContext ctx;
    DesSetKey(kStoredPwdKey, &ctx);
    uint8_t cipher[64], plain[72];
    int m = 0, k = 0;
    EXPECT_EQ(core_PwdDecode("ni9XlSmnF54", cipher, 64, &m), PWD_BAD_TEXT);
    EXPECT_EQ(core_PwdDecode("ni9X*SmnF54=", cipher, 64, &m), PWD_BAD_TEXT);
    // 16 cipher bytes need room for more than 8 plain bytes.
    EXPECT_EQ(core_PwdDecode("0vv2T0Gl1BBXGGwNPQYi6Q==", cipher, 7, &m), PWD_BAD_DATA);
    ASSERT_EQ(core_PwdDecode("0vv2T0Gl1BBXGGwNPQYi6Q==", cipher, 8, &m), PWD_OK);
    EXPECT_EQ(core_PwdDecipher(&ctx, cipher, m, plain, 8, &k), PWD_BAD_DATA);  // "Password1" is 9
    ASSERT_EQ(core_PwdDecode("Zm9vYmFy", cipher, 64, &m), PWD_OK);
    EXPECT_EQ(core_PwdDecipher(&ctx, cipher, m, plain, 64, &k), PWD_BAD_DATA);  // 6 bytes: no block
}

}  // namespace
