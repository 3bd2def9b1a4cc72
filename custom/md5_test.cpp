// MD5: the RFC 1321 test suite, block boundaries, whole files, and the RFC 1994 CHAP response.
#include <gtest/gtest.h>

#include <string>

#include "custom/custom.h"
#include "base/files.h"
#include "testing/testutil.h"

namespace {

std::string Hex(const unsigned char* p, size_t n)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) { s += d[p[i] >> 4]; s += d[p[i] & 15]; }
    return s;
}

std::string Md5(const std::string& bytes)
{
    unsigned char digest[16];
    utl_Md5Buffer(digest, bytes.data(), (DWORD)bytes.size());
    return Hex(digest, 16);
}

// Bytes (i * 7 + 3) mod 256: the pattern the expected digests below were made from (python3
// hashlib.md5).
std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = (char)((i * 7 + 3) & 0xFF);
    return s;
}

struct Sized {
    size_t n;
    const char* md5;
};
const Sized kPatterned[] = {
    {0, "d41d8cd98f00b204e9800998ecf8427e"},    {55, "52c0e574e1198de5fe3f8f11440dcb1b"},
    {56, "46c9907fc908ee68b1e7b8e71286a518"},   {63, "a62f6d59e837867693f042f5b8f5a236"},
    {64, "7160b8fb5e9e4023d549c3971fbaeead"},   {65, "70bd662e7aefbda85a0f7244167b7897"},
    {2047, "a118d071669cd05edf2b9d807bb1c2b5"}, {2048, "23398bb02c75378fb86bf1b62d860dee"},
    {2049, "7ffdbeb92a09dc1df348a5b436c45d59"}, {5000, "33d9712cc5eb0bf18a41ed54a908e412"},
};

TEST(Md5, Rfc1321TestSuite)
{
    EXPECT_EQ(Md5(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingAndBlockBoundaries)
{
    for (const Sized& s : kPatterned) EXPECT_EQ(Md5(Pattern(s.n)), s.md5) << s.n;
}

TEST(Md5File, WholeFilesAcrossTheChunkSize)
{
    std::string dir = vt::FreshDir("md5file");
    for (const Sized& s : kPatterned) {
        std::string path = dir + "\\f" + std::to_string(s.n) + ".bin";
        vt::WriteAll(path, Pattern(s.n));
        unsigned char digest[20];
        ASSERT_EQ(utl_Md5File(digest, sizeof digest, path.c_str()), 1) << s.n;
        EXPECT_EQ(Hex(digest, 16), s.md5) << s.n;
    }
}

TEST(Md5File, RefusedArguments)
{
    std::string path = vt::FreshDir("md5file") + "\\a.bin";
    vt::WriteAll(path, "abc");
    unsigned char digest[16] = {};
    EXPECT_EQ(utl_Md5File(digest, 15, path.c_str()), 0);
    EXPECT_EQ(utl_Md5File(nullptr, 16, path.c_str()), 0);
    EXPECT_EQ(utl_Md5File(digest, 16, nullptr), 0);
    EXPECT_EQ(utl_Md5File(digest, 16, "C:\\vtest\\md5file\\missing.bin"), 0);
    EXPECT_EQ(utl_Md5File(digest, 16, "C:\\vtest\\md5file"), 0);  // a directory
    EXPECT_EQ(utl_Md5File(digest, 16, path.c_str()), 1);
    EXPECT_EQ(Hex(digest, 16), "900150983cd24fb0d6963f7d28e17f72");
}

// A Linux sysfs file claims 4096 bytes but yields only a few: exactly a file that ends before
// its measured size. The digest must fail, and must not loop.
TEST(Md5File, FileEndingBeforeItsMeasuredSizeFails)
{
    const char* path = "Z:\\sys\\devices\\system\\cpu\\online";
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) || data.nFileSizeLow <= vt::ReadAll(path).size())
        GTEST_SKIP() << "no sysfs file that claims more than it holds";
    ASSERT_EQ(utl_FileExists(path), 1);  // so the failure below comes from the short read
    unsigned char digest[16];
    EXPECT_EQ(utl_Md5File(digest, sizeof digest, path), 0);
}

TEST(Md5, ChapResponseMatchesRfc1994)
{
    // python3: hashlib.md5(bytes([id]) + secret + challenge), challenge = bytes(range(16)).
    unsigned char challenge[16];
    for (int i = 0; i < 16; ++i) challenge[i] = (unsigned char)i;
    unsigned char digest[16];
    utl_Md5ChapResponse(digest, challenge, "vemlo-secret", 0x2A);
    EXPECT_EQ(Hex(digest, 16), "e146417bcd4cecf0daf4b838ed51ee01");
    utl_Md5ChapResponse(digest, challenge, "", 0);
    EXPECT_EQ(Hex(digest, 16), "56965570ff778b1a1ea22aad590505f8");
    // A secret longer than 183 characters is hashed whole as well.
    utl_Md5ChapResponse(digest, challenge, std::string(300, 's').c_str(), 0xFF);
    EXPECT_EQ(Hex(digest, 16), "2394f0ed9a12488a2719a5ec79587ddd");
}

}  // namespace
