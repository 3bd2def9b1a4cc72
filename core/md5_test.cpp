// MD5: the RFC 1321 test suite (whole and in uneven pieces) and an RFC 1994 CHAP response
// (expected values from md5sum and python3 hashlib).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/hex_testutil.h"
#include "core/md5.h"

namespace {

TEST(CoreMd5, Rfc1321SuiteWholeAndInPieces)
{
    const char* const suite[][2] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (auto& v : suite) {
        std::string text = v[0];
        uint8_t digest[16];
        core_Md5Buffer(digest, text.data(), text.size());
        EXPECT_EQ(ct::Hex(digest, 16), v[1]) << text;
        // Pieces of 1, 2, 3... bytes cross every block boundary differently.
        Md5Context m;
        core_Md5Init(&m);
        for (size_t at = 0, step = 1; at < text.size(); at += step, ++step)
            core_Md5Update(&m, text.data() + at, std::min(step, text.size() - at));
        core_Md5Final(&m, digest);
        EXPECT_EQ(ct::Hex(digest, 16), v[1]) << text;
    }
    std::string million(1000000, 'a');
    uint8_t digest[16];
    core_Md5Buffer(digest, million.data(), million.size());
    EXPECT_EQ(ct::Hex(digest, 16), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(CoreMd5, ChapResponse)
{
    uint8_t challenge[16], digest[16];
    for (int i = 0; i < 16; ++i) challenge[i] = (uint8_t)i;
    utl_Md5ChapResponse(digest, challenge, "secret", 1);
    EXPECT_EQ(ct::Hex(digest, 16), "740e86463bda3a4d7017d6e0fba0699d");
}

}  // namespace
