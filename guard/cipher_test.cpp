// DES and triple DES: NIST known answers, the schedule layout, ECB padding and its bounds.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "guard/cipher.h"

namespace {

std::vector<unsigned char> Hex(const std::string& h)
{
    std::vector<unsigned char> v;
    for (size_t i = 0; i + 1 < h.size(); i += 2) v.push_back((unsigned char)std::stoul(h.substr(i, 2), nullptr, 16));
    return v;
}

std::string ToHex(const unsigned char* p, size_t n)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) { s += d[p[i] >> 4]; s += d[p[i] & 15]; }
    return s;
}

std::string EncryptBlock(const std::string& keyHex, const std::string& plainHex)
{
    DesContext ctx;
    EXPECT_EQ(DesSetKey(Hex(keyHex).data(), &ctx), 0);
    unsigned char out[8];
    DesEncryptBlock(Hex(plainHex).data(), out, &ctx);
    return ToHex(out, 8);
}

std::string DecryptBlock(const std::string& keyHex, const std::string& cipherHex)
{
    DesContext ctx;
    DesSetKey(Hex(keyHex).data(), &ctx);
    unsigned char out[8];
    DesDecryptBlock(Hex(cipherHex).data(), out, &ctx);
    return ToHex(out, 8);
}

std::string SingleBit(int bit, unsigned long long base)
{
    char b[17];
    unsigned long long v = base | (1ull << (63 - bit));
    for (int i = 15; i >= 0; --i, v >>= 4) b[i] = "0123456789abcdef"[v & 15];
    b[16] = 0;
    return b;
}

// NIST SP 800-17, variable plaintext known answer test: key 0101010101010101, plaintext with
// bit i set (i = 1..64). Values checked with openssl des-ecb.
const char* const kVariablePlaintext[64] = {
    "95f8a5e5dd31d900", "dd7f121ca5015619", "2e8653104f3834ea", "4bd388ff6cd81d4f",
    "20b9e767b2fb1456", "55579380d77138ef", "6cc5defaaf04512f", "0d9f279ba5d87260",
    "d9031b0271bd5a0a", "424250b37c3dd951", "b8061b7ecd9a21e5", "f15d0f286b65bd28",
    "add0cc8d6e5deba1", "e6d5f82752ad63d1", "ecbfe3bd3f591a5e", "f356834379d165cd",
    "2b9f982f20037fa9", "889de068a16f0be6", "e19e275d846a1298", "329a8ed523d71aec",
    "e7fce22557d23c97", "12a9f5817ff2d65d", "a484c3ad38dc9c19", "fbe00a8a1ef8ad72",
    "750d079407521363", "64feed9c724c2faf", "f02b263b328e2b60", "9d64555a9a10b852",
    "d106ff0bed5255d7", "e1652c6b138c64a5", "e428581186ec8f46", "aeb5f5ede22d1a36",
    "e943d7568aec0c5c", "df98c8276f54b04b", "b160e4680f6c696f", "fa0752b07d9c4ab8",
    "ca3a2b036dbc8502", "5e0905517bb59bcf", "814eeb3b91d90726", "4d49db1532919c9f",
    "25eb5fc3f8cf0621", "ab6a20c0620d1c6f", "79e90dbc98f92cca", "866ecedd8072bb0e",
    "8b54536f2f3e64a8", "ea51d3975595b86b", "caffc6ac4542de31", "8dd45a2ddf90796c",
    "1029d55e880ec2d0", "5d86cb23639dbea9", "1d1ca853ae7c0c5f", "ce332329248f3228",
    "8405d1abe24fb942", "e643d78090ca4207", "48221b9937748a23", "dd7c0bbd61fafd54",
    "2fbc291a570db5c4", "e07c30d7e4e26e12", "0953e2258e8e90a1", "5b711bc4ceebf2ee",
    "cc083f1e6d9e85f6", "d2fd8867d50d2dfe", "06e7ea22ce92708f", "166b40b44aba4bd6",
};

// NIST SP 800-17, variable key known answer test: plaintext 0, key 0101010101010101 with one
// non-parity bit set in turn (56 keys).
const char* const kVariableKey[56] = {
    "95a8d72813daa94d", "0eec1487dd8c26d5", "7ad16ffb79c45926", "d3746294ca6a6cf3",
    "809f5f873c1fd761", "c02faffec989d1fc", "4615aa1d33e72f10", "2055123350c00858",
    "df3b99d6577397c8", "31fe17369b5288c9", "dfdd3cc64dae1642", "178c83ce2b399d94",
    "50f636324a9b7f80", "a8468ee3bc18f06d", "a2dc9e92fd3cde92", "cac09f797d031287",
    "90ba680b22aeb525", "ce7a24f350e280b6", "882bff0aa01a0b87", "25610288924511c2",
    "c71516c29c75d170", "5199c29a52c9f059", "c22f0a294a71f29f", "ee371483714c02ea",
    "a81fbd448f9e522f", "4f644c92e192dfed", "1afa9a66a6df92ae", "b3c1cc715cb879d8",
    "19d032e64ab0bd8b", "3cfaa7a7dc8720dc", "b7265f7f447ac6f3", "9db73b3c0d163f54",
    "8181b65babf4a975", "93c9b64042eaa240", "5570530829705592", "8638809e878787a0",
    "41b9a79af79ac208", "7a9be42f2009a892", "29038d56ba6d2745", "5495c6abf1e5df51",
    "ae13dbd561488933", "024d1ffa8904e389", "d1399712f99bf02e", "14c1d7c1cffec79e",
    "1de5279dae3bed6f", "e941a33f85501303", "da99dbbc9a03f379", "b7fc92f91d8e92e9",
    "ae8e5caa3ca04e85", "9cc62df43b6eed74", "d863dbb5c59a91a0", "a1ab2190545b91d7",
    "0875041e64c570f7", "5a594528bebef1cc", "fcdb3291de21f0c0", "869efd7f9f265a09",
};

TEST(DesKnownAnswer, VariablePlaintextAndVariableKey)
{
    for (int i = 0; i < 64; ++i) {
        std::string plain = SingleBit(i, 0);
        EXPECT_EQ(EncryptBlock("0101010101010101", plain), kVariablePlaintext[i]) << "bit " << i + 1;
        EXPECT_EQ(DecryptBlock("0101010101010101", kVariablePlaintext[i]), plain) << "bit " << i + 1;
    }
    int n = 0;
    for (int i = 0; i < 64; ++i) {
        if (i % 8 == 7) continue;  // parity bits
        std::string key = SingleBit(i, 0x0101010101010101ull);
        EXPECT_EQ(EncryptBlock(key, "0000000000000000"), kVariableKey[n]) << "key " << key;
        EXPECT_EQ(DecryptBlock(key, kVariableKey[n]), "0000000000000000") << "key " << key;
        ++n;
    }
}

TEST(DesKnownAnswer, PublishedExamples)
{
    // The classic worked example, and NIST SP 800-17's permutation and substitution tables.
    EXPECT_EQ(EncryptBlock("133457799BBCDFF1", "0123456789ABCDEF"), "85e813540f0ab405");
    EXPECT_EQ(EncryptBlock("1046913489980131", "0000000000000000"), "88d55e54f54c97b4");
    EXPECT_EQ(EncryptBlock("7CA110454A1A6E57", "01A1D6D039776742"), "690f5b0d9a26939b");
    // FIPS 81's ECB example: "Now is the time for all " under 0123456789ABCDEF.
    DesContext ctx;
    DesSetKey(Hex("0123456789ABCDEF").data(), &ctx);
    std::string text = "Now is the time for all ";
    unsigned char out[32];
    ASSERT_EQ(DesEcbEncrypt((const unsigned char*)text.data(), 24, out, sizeof out, &ctx), 32);
    EXPECT_EQ(ToHex(out, 24), "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53");
}

TEST(DesKnownAnswer, ParityBitsAreIgnored)
{
    EXPECT_EQ(EncryptBlock("133457799BBCDFF1", "0123456789ABCDEF"),
              EncryptBlock("123456789ABCDEF0", "0123456789ABCDEF"));
}

TEST(DesSchedule, DecryptOrderIsTheEncryptOrderReversed)
{
    uint32_t enc[32], dec[32];
    DesKeySchedule(Hex("133457799BBCDFF1").data(), DES_ENCRYPT_ORDER, enc);
    DesKeySchedule(Hex("133457799BBCDFF1").data(), DES_DECRYPT_ORDER, dec);
    for (int round = 0; round < 16; ++round) {
        EXPECT_EQ(dec[2 * (15 - round)], enc[2 * round]);
        EXPECT_EQ(dec[2 * (15 - round) + 1], enc[2 * round + 1]);
    }
    DesContext ctx;
    DesSetKey(Hex("133457799BBCDFF1").data(), &ctx);
    EXPECT_EQ(0, memcmp(ctx.encrypt, enc, sizeof enc));
    EXPECT_EQ(0, memcmp(ctx.decrypt, dec, sizeof dec));
}

TEST(DesSchedule, RoundsTakeBigEndianHalves)
{
    uint32_t sched[32];
    DesKeySchedule(Hex("133457799BBCDFF1").data(), DES_ENCRYPT_ORDER, sched);
    uint32_t left = 0x01234567, right = 0x89ABCDEF;
    DesRounds(&left, &right, sched);
    EXPECT_EQ(left, 0x85E81354u);
    EXPECT_EQ(right, 0x0F0AB405u);
}

const char kKey3[] = "0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123";

TEST(Des3, NistExampleAndPaddedEcbMatchOpenSsl)
{
    Des3Context ctx;
    ASSERT_EQ(Des3SetKey3(Hex(kKey3).data(), &ctx), 0);
    // NIST SP 800-67's example ("The qufck brown fox jump", three blocks).
    std::string text = "The qufck brown fox jump";
    unsigned char out[32];
    for (int b = 0; b < 3; ++b) Des3EncryptBlock((const unsigned char*)text.data() + 8 * b, out + 8 * b, &ctx);
    EXPECT_EQ(ToHex(out, 24), "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900");
    unsigned char back[8];
    Des3DecryptBlock(out + 8, back, &ctx);
    EXPECT_EQ(std::string((char*)back, 8), text.substr(8, 8));

    // openssl enc -des-ede3-ecb (PKCS#5 padding) of 19 and 0 bytes.
    std::string fox = "The quick brown fox";
    ASSERT_EQ(Des3EcbEncrypt((const unsigned char*)fox.data(), 19, out, 24, &ctx), 24);
    EXPECT_EQ(ToHex(out, 24), "1ccf23869d09333ecce21c8112256fe6d04563f2734b1160");
    unsigned char plain[24];
    EXPECT_EQ(Des3EcbDecrypt(out, 24, plain, 24, &ctx), 19);
    EXPECT_EQ(std::string((char*)plain, 19), fox);
    ASSERT_EQ(Des3EcbEncrypt(nullptr, 0, out, 8, &ctx), 8);
    EXPECT_EQ(ToHex(out, 8), "832846b52f9e213d");
}

TEST(Des3, EqualKeysAreSingleDes)
{
    auto k = Hex("133457799BBCDFF1");
    std::vector<unsigned char> k3(k);
    k3.insert(k3.end(), k.begin(), k.end());
    k3.insert(k3.end(), k.begin(), k.end());
    Des3Context ctx;
    Des3SetKey3(k3.data(), &ctx);
    unsigned char out[8];
    Des3EncryptBlock(Hex("0123456789ABCDEF").data(), out, &ctx);
    EXPECT_EQ(ToHex(out, 8), "85e813540f0ab405");
}

class DesEcb : public ::testing::Test {
protected:
    void SetUp() override { DesSetKey(Hex("133457799BBCDFF1").data(), &ctx); }
    // A ciphertext whose last deciphered block is the given one.
    std::vector<unsigned char> Cipher(const std::string& plainHex)
    {
        auto p = Hex(plainHex);
        std::vector<unsigned char> c(p.size());
        for (size_t i = 0; i < p.size(); i += 8) DesEncryptBlock(p.data() + i, c.data() + i, &ctx);
        return c;
    }
    DesContext ctx;
};

TEST_F(DesEcb, PaddingMatchesOpenSsl)
{
    // openssl enc -des-ecb -K 133457799BBCDFF1 of "12345678": a whole block of padding follows.
    unsigned char out[24];
    memset(out, 0xEE, sizeof out);
    ASSERT_EQ(DesEcbEncrypt((const unsigned char*)"12345678", 8, out, 16, &ctx), 16);
    EXPECT_EQ(ToHex(out, 16), "8b96b79529cca218fdf2e174492922f8");
    EXPECT_EQ(out[16], 0xEE);
    unsigned char plain[16];
    EXPECT_EQ(DesEcbDecrypt(out, 16, plain, 8, &ctx), 8);
    EXPECT_EQ(std::string((char*)plain, 8), "12345678");
}

TEST_F(DesEcb, EncryptRefusesASmallOutputUntouched)
{
    unsigned char out[16];
    memset(out, 0xEE, sizeof out);
    EXPECT_EQ(DesEcbEncrypt((const unsigned char*)"12345678", 8, out, 15, &ctx), -1);
    EXPECT_EQ(DesEcbEncrypt((const unsigned char*)"1234567", 7, out, 7, &ctx), -1);
    EXPECT_EQ(DesEcbEncrypt((const unsigned char*)"1", -1, out, 16, &ctx), -1);
    for (unsigned char b : out) EXPECT_EQ(b, 0xEE);
    EXPECT_EQ(DesEcbEncrypt((const unsigned char*)"1234567", 7, out, 8, &ctx), 8);
}

TEST_F(DesEcb, DecryptBounds)
{
    unsigned char out[40];
    auto padded = Cipher("4142434445464703");  // last byte 3: 5 bytes left
    EXPECT_EQ(DesEcbDecrypt(padded.data(), 0, out, 40, &ctx), -1);  // empty
    EXPECT_EQ(DesEcbDecrypt(padded.data(), 7, out, 40, &ctx), -1);  // not whole blocks
    EXPECT_EQ(DesEcbDecrypt(padded.data(), 8, out, 40, &ctx), 5);   // only the last byte counts
    auto twoBlocks = Cipher("41424344454647484142434445464708");
    EXPECT_EQ(DesEcbDecrypt(twoBlocks.data(), 16, out, 8, &ctx), 8);   // 16 <= (8 & ~7) + 8
    EXPECT_EQ(DesEcbDecrypt(twoBlocks.data(), 16, out, 7, &ctx), -1);  // 16 > (7 & ~7) + 8
    // A last byte of 0 strips nothing; one above m fails.
    EXPECT_EQ(DesEcbDecrypt(Cipher("4142434445464700").data(), 8, out, 8, &ctx), 8);
    EXPECT_EQ(DesEcbDecrypt(Cipher("4142434445464709").data(), 8, out, 8, &ctx), -1);
    EXPECT_EQ(DesEcbDecrypt(Cipher("4142434445464708").data(), 8, out, 8, &ctx), 0);
}

TEST_F(DesEcb, DecryptNeverWritesPastItsSize)
{
    // 16 bytes whose padding claims one byte: 15 bytes of plaintext do not fit 8.
    auto c = Cipher("41424344454647484142434445464701");
    unsigned char out[24];
    memset(out, 0xEE, sizeof out);
    EXPECT_EQ(DesEcbDecrypt(c.data(), 16, out, 8, &ctx), -1);
    for (int i = 8; i < 24; ++i) EXPECT_EQ(out[i], 0xEE) << i;
    // Padding of 8 leaves 8 bytes, which fit exactly; nothing lands past them.
    auto d = Cipher("41424344454647480808080808080808");
    memset(out, 0xEE, sizeof out);
    EXPECT_EQ(DesEcbDecrypt(d.data(), 16, out, 8, &ctx), 8);
    EXPECT_EQ(std::string((char*)out, 8), "ABCDEFGH");
    for (int i = 8; i < 24; ++i) EXPECT_EQ(out[i], 0xEE) << i;
}

TEST(Des3Ecb, DecryptBoundIsTheSizeItself)
{
    Des3Context ctx;
    Des3SetKey3(Hex(kKey3).data(), &ctx);
    unsigned char c[16], out[16];
    ASSERT_EQ(Des3EcbEncrypt((const unsigned char*)"12345678", 8, c, 16, &ctx), 16);
    EXPECT_EQ(Des3EcbDecrypt(c, 16, out, 15, &ctx), -1);
    EXPECT_EQ(Des3EcbDecrypt(c, 16, out, 16, &ctx), 8);
    EXPECT_EQ(Des3EcbDecrypt(c, 0, out, 16, &ctx), -1);
}

}  // namespace
