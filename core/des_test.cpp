// DES and triple DES: FIPS and NIST examples, and ECB with PKCS#5 padding as OpenSSL makes it
// (openssl enc -des-ecb / -des-ede3-ecb).
#include <gtest/gtest.h>

#include <string>

#include "core/des.h"
#include "core/hex_testutil.h"

namespace {

struct DesCase {
    const char* key;
    const char* plain;   // text
    int padded;          // 0: whole blocks without padding
    const char* cipher;  // hex
};

TEST(CoreDes, KnownAnswers)
{
    const DesCase cases[] = {
        {"133457799bbcdff1", "\x01\x23\x45\x67\x89\xab\xcd\xef", 0, "85e813540f0ab405"},
        {"0123456789abcdef", "Now is the time for all ", 0, "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53"},
        {"0123456789abcdef", "Now is the time for all ", 1,
         "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53086f9a1d74c94d4e"},
        {"0123456789abcdef", "abcdefg", 1, "ce3a85e6cda95484"},
        {"0123456789abcdef", "", 1, "086f9a1d74c94d4e"},
        {"6b6f707261353237", "Password1", 1, "d2fbf64f41a5d41057186c0d3d0622e9"},
    };
    for (const DesCase& c : cases) {
        std::string want = c.cipher;
        DesContext ctx;
        ASSERT_EQ(DesSetKey(ct::Bytes(c.key).data(), &ctx), 0);
        std::string plain = c.plain;
        uint8_t out[64], back[64];
        int n = (int)plain.size();
        if (c.padded) {
            ASSERT_EQ(DesEcbEncrypt(ct::U(plain), n, out, sizeof out, &ctx), (n & ~7) + 8);
            EXPECT_EQ(ct::Hex(out, (size_t)(n & ~7) + 8), want) << c.plain;
            EXPECT_EQ(DesEcbDecrypt(out, (n & ~7) + 8, back, n, &ctx), n);
        } else {
            for (int b = 0; b < n; b += 8) DesEncryptBlock(ct::U(plain) + b, out + b, &ctx);
            EXPECT_EQ(ct::Hex(out, (size_t)n), want) << c.key;
            for (int b = 0; b < n; b += 8) DesDecryptBlock(out + b, back + b, &ctx);
        }
        EXPECT_EQ(std::string((const char*)back, (size_t)n), plain);
    }
}

TEST(CoreDes, TripleDesNistExampleAndOpenSslPadding)
{
    Des3Context ctx;
    ASSERT_EQ(Des3SetKey3(ct::Bytes("0123456789abcdef23456789abcdef01456789abcdef0123").data(), &ctx), 0);
    std::string text = "The qufck brown fox jump";  // NIST SP 800-67's example
    uint8_t out[32], back[32];
    for (int b = 0; b < 24; b += 8) Des3EncryptBlock(ct::U(text) + b, out + b, &ctx);
    EXPECT_EQ(ct::Hex(out, 24), "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900");
    std::string fox = "The quick brown fox";
    ASSERT_EQ(Des3EcbEncrypt(ct::U(fox), 19, out, 24, &ctx), 24);
    EXPECT_EQ(ct::Hex(out, 24), "1ccf23869d09333ecce21c8112256fe6d04563f2734b1160");
    EXPECT_EQ(Des3EcbDecrypt(out, 24, back, 19, &ctx), -1);  // triple DES wants room for m itself
    EXPECT_EQ(Des3EcbDecrypt(out, 24, back, 24, &ctx), 19);
    EXPECT_EQ(std::string((const char*)back, 19), fox);
}

TEST(CoreDes, EcbBounds)
{
    DesContext ctx;
    DesSetKey(ct::Bytes("0123456789abcdef").data(), &ctx);
    uint8_t in[16] = {}, out[16];
    EXPECT_EQ(DesEcbEncrypt(in, 8, out, 15, &ctx), -1);  // needs 16
    EXPECT_EQ(DesEcbEncrypt(in, -1, out, 16, &ctx), -1);
    EXPECT_EQ(DesEcbDecrypt(in, 0, out, 16, &ctx), -1);
    EXPECT_EQ(DesEcbDecrypt(in, 12, out, 16, &ctx), -1);  // no whole blocks
    EXPECT_EQ(DesEcbDecrypt(in, 16, out, 7, &ctx), -1);   // 16 > (7 & ~7) + 8
}

}  // namespace
