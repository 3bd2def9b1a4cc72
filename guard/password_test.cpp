// The stored password: OpenSSL's DES-ECB + Base64 of the same bytes, round trips, result codes.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "guard/guard.h"

namespace {

// Expected texts made once with
//   printf '%s' PASSWORD | openssl enc -des-ecb -K 6b6f707261353237 -nosalt
//       -provider legacy -provider default | base64 -w0   (one command line)
// (6b6f707261353237 = "kopra527"); the GBK password is "管理员密码123" in code page 936.
struct Known {
    const char* password;
    const char* text;
};
const Known kKnown[] = {
    {"", "ni9XlSmnF54="},
    {"a", "vr4wOxmqqKc="},
    {"abcdefg", "InTyLV5GWUA="},
    {"Password", "0vv2T0Gl1BCeL1eVKacXng=="},
    {"Password1", "0vv2T0Gl1BBXGGwNPQYi6Q=="},
    {"0123456789abcdefghijklmnopqrstu", "7lMaumnVscwWyk/xyMJo2e8hhd+4DplIi0xcreWqAzo="},
    {"0123456789abcdefghijklmnopqrstuv", "7lMaumnVscwWyk/xyMJo2e8hhd+4DplIgThUrF2INt+eL1eVKacXng=="},
    {"\xb9\xdc\xc0\xed\xd4\xb1\xc3\xdc\xc2\xeb" "123", "igCiIFdaIcBYhOp3OH8ugg=="},
};

std::string Encrypt(const std::string& password, int* rc = nullptr)
{
    char text[128];
    memset(text, 0, sizeof text);
    int r = utl_EncryptPwd(text, sizeof text, password.data(), (int)password.size());
    if (rc) *rc = r;
    return text;
}

TEST(StoredPassword, MatchesOpenSslForEveryLength)
{
    for (const Known& k : kKnown) {
        int rc = -1;
        EXPECT_EQ(Encrypt(k.password, &rc), k.text) << k.password;
        EXPECT_EQ(rc, PWD_OK);
    }
    // Text lengths by password length: 0-7 -> 12, 8-15 -> 24, 31 -> 44, 32 -> 56.
    EXPECT_EQ(Encrypt("").size(), 12u);
    EXPECT_EQ(Encrypt("12345678").size(), 24u);
    EXPECT_EQ(Encrypt(std::string(31, 'x')).size(), 44u);
    EXPECT_EQ(Encrypt(std::string(32, 'x')).size(), 56u);
    EXPECT_EQ(Encrypt(std::string(87, 'x')).size(), 120u);  // the longest a 128-byte buffer takes
}

TEST(StoredPassword, CaseSensitive)
{
    // From the OpenSSL command above: one letter's case changes the whole block.
    EXPECT_EQ(Encrypt("Secret"), "nCTBI/XFvRk=");
    EXPECT_EQ(Encrypt("secret"), "yVkhk1/ESYo=");
}

TEST(StoredPassword, BufferBoundIsRefusedUntouched)
{
    // 9 bytes: P = 16, needs 4 * (16 / 3) + 5 = 25 bytes; 24 is refused with nothing written.
    char text[32];
    memset(text, '#', sizeof text);
    EXPECT_EQ(utl_EncryptPwd(text, 24, "Password1", 9), PWD_TEXT_TOO_SMALL);
    for (char c : text) EXPECT_EQ(c, '#');
    EXPECT_EQ(utl_EncryptPwd(text, 25, "Password1", 9), PWD_OK);
    EXPECT_STREQ(text, "0vv2T0Gl1BBXGGwNPQYi6Q==");
    // 88 bytes do not fit the dialog's 128-byte buffer.
    char dialog[128] = {};
    std::string pw(88, 'x');
    EXPECT_EQ(utl_EncryptPwd(dialog, sizeof dialog, pw.data(), 88), PWD_TEXT_TOO_SMALL);
    EXPECT_STREQ(dialog, "");
    EXPECT_EQ(utl_EncryptPwd(dialog, sizeof dialog, "x", -1), PWD_CIPHER_FAILED);
}

TEST(StoredPassword, DecipheringGivesBackTheBytes)
{
    for (const Known& k : kKnown) {
        int n = (int)strlen(k.password);
        char out[64];
        memset(out, '#', sizeof out);
        int count = n;  // capacity exactly the password length
        ASSERT_EQ(utl_DecryptPwd(out, &count, k.text), PWD_OK) << k.password;
        EXPECT_EQ(count, n);
        EXPECT_EQ(std::string(out, (size_t)count), k.password);
        EXPECT_EQ(out[n], '#');  // no terminator is added
    }
    for (int n = 0; n <= 40; ++n) {
        std::string pw;
        for (int i = 0; i < n; ++i) pw += (char)(0x21 + i * 7 % 200);
        char out[64];
        int count = sizeof out;
        ASSERT_EQ(utl_DecryptPwd(out, &count, Encrypt(pw).c_str()), PWD_OK) << n;
        EXPECT_EQ(std::string(out, (size_t)count), pw);
    }
}

TEST(StoredPassword, DecipherResultCodes)
{
    char out[64];
    int count = sizeof out;
    EXPECT_EQ(utl_DecryptPwd(out, &count, ""), PWD_NO_MEMORY);
    EXPECT_EQ(utl_DecryptPwd(out, &count, nullptr), PWD_NO_MEMORY);
    EXPECT_EQ(utl_DecryptPwd(out, &count, "ni9XlSmnF54"), PWD_BAD_TEXT);      // 11 characters
    EXPECT_EQ(utl_DecryptPwd(out, &count, "ni9XlSmn\xc6\x54="), PWD_BAD_TEXT);  // byte 0xC6
    EXPECT_EQ(utl_DecryptPwd(out, &count, "ni9X*SmnF54="), PWD_BAD_TEXT);
    EXPECT_EQ(utl_DecryptPwd(out, &count, "Zm9vYmFy"), PWD_BAD_DATA);  // 6 bytes: not whole blocks
    EXPECT_EQ(count, (int)sizeof out);

    // A capacity below the password length is refused and the outputs stay as they were.
    memset(out, '#', sizeof out);
    count = 8;
    EXPECT_EQ(utl_DecryptPwd(out, &count, "0vv2T0Gl1BBXGGwNPQYi6Q=="), PWD_BAD_DATA);
    EXPECT_EQ(count, 8);
    EXPECT_EQ(out[0], '#');
    count = 7;
    EXPECT_EQ(utl_DecryptPwd(out, &count, "0vv2T0Gl1BCeL1eVKacXng=="), PWD_BAD_DATA);  // 8 bytes
    count = 0;
    EXPECT_EQ(utl_DecryptPwd(out, &count, "ni9XlSmnF54="), PWD_OK);  // the empty password
    EXPECT_EQ(count, 0);
}

// The check both the dialog and the command line use: the same verdict as comparing the texts.
TEST(StoredPassword, MatchesOnlyItsOwnStoredText)
{
    const struct {
        std::string password;
        const char* stored;
        int matches;
    } rows[] = {
        {"secret", "yVkhk1/ESYo=", 1},  // OpenSSL, as above
        {"Password", "0vv2T0Gl1BCeL1eVKacXng==", 1},
        {"Secret", "yVkhk1/ESYo=", 0},
        {"secret", "yVkhk1/ESYo", 0},
        {"secret", "yVkhk1/ESYo==", 0},
        {"", "ni9XlSmnF54=", 1},
        {"", "", 0},  // an empty stored password is never matched
        {"secret", nullptr, 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(utl_PwdMatches(row.password.data(), (int)row.password.size(), row.stored), row.matches)
            << row.password << " / " << (row.stored ? row.stored : "(null)");
}

}  // namespace
