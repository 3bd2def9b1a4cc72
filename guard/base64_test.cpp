// Base64: RFC 4648 section 10 vectors, every byte value, and the texts the decoder refuses.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "guard/cipher.h"

namespace {

std::string Encode(const std::string& bytes)
{
    std::vector<char> out(bytes.size() * 2 + 8, '#');
    EXPECT_EQ(Base64Encode((const unsigned char*)bytes.data(), out.data(), (int)bytes.size()), 0);
    return out.data();
}

// Decodes into a buffer of exactly 3 * (len / 4) + 1 bytes; returns the decoder's result.
int Decode(const std::string& text, std::string* bytes)
{
    std::vector<unsigned char> out(3 * (text.size() / 4) + 1);
    int len = -7;
    int rc = Base64Decode(text.c_str(), out.data(), &len);
    if (rc == 0) {
        EXPECT_EQ(out[len], 0) << "NUL after the bytes";
        *bytes = std::string((char*)out.data(), (size_t)len);
    }
    return rc;
}

TEST(Base64, Rfc4648Vectors)
{
    const char* const vectors[][2] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (auto& v : vectors) {
        EXPECT_EQ(Encode(v[0]), v[1]);
        std::string back = "x";
        EXPECT_EQ(Decode(v[1], &back), 0) << v[1];
        EXPECT_EQ(back, v[0]);
    }
}

TEST(Base64, EveryByteValue)
{
    // python3: base64.b64encode(bytes(range(256)))
    const std::string expected =
        "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+P0BBQkNE"
        "RUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJ"
        "iouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmqq6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3O"
        "z9DR0tPU1dbX2Nna29zd3t/g4eLj5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w==";
    std::string all;
    for (int i = 0; i < 256; ++i) all += (char)i;
    EXPECT_EQ(Encode(all), expected);
    std::string back;
    ASSERT_EQ(Decode(expected, &back), 0);
    EXPECT_EQ(back, all);
}

TEST(Base64, NoInputGivesTheEmptyText)
{
    char out[8] = "#######";
    EXPECT_EQ(Base64Encode((const unsigned char*)"abc", out, 0), 0);
    EXPECT_STREQ(out, "");
    memset(out, '#', 7);
    EXPECT_EQ(Base64Encode((const unsigned char*)"abc", out, -3), 0);
    EXPECT_STREQ(out, "");
}

TEST(Base64, RefusedTexts)
{
    const char* const bad[] = {
        "Zg=",        // a group cut short
        "Zm9vY",      // likewise
        "Z===",       // "=" in the second position
        "=m9v",       // "=" in the first position
        "Zm=v",       // "=" in the third position without one in the fourth
        "Zm9v!A==",   // outside the alphabet
        "Zm9v-_==",   // the URL-safe alphabet is not this one
        "Zm9v YmFy",  // blanks are not skipped
        "Zg==Zm9v",   // padding in a group that is not the last
        "Zm8=Zm8=",
    };
    for (const char* text : bad) {
        std::string bytes;
        EXPECT_EQ(Decode(text, &bytes), -1) << text;
    }
    // Bytes 0x80..0xFF are outside the alphabet (a signed char must not index a table).
    for (int c = 0x80; c <= 0xFF; ++c) {
        std::string text = "Zm9v";
        text[1] = (char)c;
        std::string bytes;
        EXPECT_EQ(Decode(text, &bytes), -1) << c;
    }
}

TEST(Base64, LengthOutputIsOptional)
{
    unsigned char out[8];
    EXPECT_EQ(Base64Decode("Zm9vYg==", out, nullptr), 0);
    EXPECT_EQ(std::string((char*)out), "foob");
}

}  // namespace
