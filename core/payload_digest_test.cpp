// The payload digests (known answers from b3sum, BLAKE3's published test vectors and xxhsum -H3)
// and the end record's tagged form.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/hex_testutil.h"
#include "core/payload_digest.h"

namespace {

std::string HexOf(const DigestValue& v)
{
    char hex[2 * kDigestMaxLen + 1];
    core_DigestHex(&v, hex);
    return hex;
}

// BLAKE3's test vectors use the input bytes i % 251; the values are also b3sum's output.
TEST(CorePayloadDigest, KnownAnswersOfBothAlgorithmsInAnyPieces)
{
    const struct {
        size_t len;
        const char* blake3;
    } rows[] = {
        {0, "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262"},
        {1025, "d00278ae47eb27b34faecf67b4fe263f82d5412916c1ffd97c8cb7fb814b8444"},
        {102400, "bc3e3d41a1146b069abffad3c0d44860cf664390afce4d9661f7902e7943e085"},
    };
    for (auto& row : rows) {
        std::vector<uint8_t> input(row.len);
        for (size_t i = 0; i < row.len; ++i) input[i] = (uint8_t)(i % 251);
        for (size_t piece : {(size_t)1, (size_t)63, (size_t)4096, (size_t)1 << 20}) {
            PayloadDigest d;
            core_DigestBegin(&d);
            for (size_t at = 0; at < row.len; at += piece)
                core_DigestUpdate(&d, input.data() + at, row.len - at < piece ? row.len - at : piece);
            DigestValue v;
            ASSERT_EQ(core_DigestValue(&d, kDigestBlake3, &v), 1);
            EXPECT_EQ(HexOf(v), row.blake3) << row.len << " in pieces of " << piece;
        }
    }
    // "abc" in three pieces, both algorithms at once; asking for a value leaves the digest running.
    PayloadDigest d;
    core_DigestBegin(&d);
    core_DigestUpdate(&d, "a", 1);
    DigestValue v;
    core_DigestValue(&d, kDigestBlake3, &v);
    core_DigestUpdate(&d, "", 0);
    core_DigestUpdate(&d, "bc", 2);
    ASSERT_EQ(core_DigestValue(&d, kDigestBlake3, &v), 1);
    EXPECT_EQ(HexOf(v), "6437b3ac38465133ffb63b75273a8db548c558465d79db03fd359c6cd5bd9d85");  // printf abc | b3sum
    ASSERT_EQ(core_DigestValue(&d, kDigestXxh3, &v), 1);
    EXPECT_EQ(HexOf(v), "78af5f94892f3950");  // printf abc | xxhsum -H3
    EXPECT_EQ(core_DigestXxh3(&d), 0x78af5f94892f3950ull);
    // Only the algorithm asked for runs.
    core_DigestBegin(&d, kDigestBlake3);
    EXPECT_EQ(core_DigestValue(&d, kDigestXxh3, &v), 0);
    EXPECT_EQ(v.algorithm, 0);
    EXPECT_EQ(core_DigestValue(&d, kDigestBlake3, &v), 1);
    EXPECT_EQ(HexOf(v), "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262");
}

TEST(CorePayloadDigest, EndDataOfEitherAlgorithmAndWhatIsNoDigestOfOurs)
{
    const std::string blake3 = "0220" + std::string("6437b3ac38465133ffb63b75273a8db548c558465d79db03fd359c6cd5bd9d85");
    const char* const accepted[] = {blake3.c_str(), "010878af5f94892f3950"};
    for (const char* hex : accepted) {
        std::vector<uint8_t> data = ct::Bytes(hex);
        DigestValue v;
        ASSERT_EQ(core_DecodeEndData(data.data(), (uint32_t)data.size(), &v), 1) << hex;
        EXPECT_EQ(std::string(hex).substr(4), HexOf(v));
        uint8_t again[kEndDataMax];
        EXPECT_EQ(core_EncodeEndData(again, &v), data.size());
        EXPECT_EQ(ct::Hex(again, (uint32_t)data.size()), hex);
    }
    EXPECT_EQ(kEndDataLen, 34u);
    const std::string refused[] = {
        "030878af5f94892f3950",                // an unknown algorithm
        "020878af5f94892f3950",                // BLAKE3 with XXH3's length
        "010478af5f94892f3950",                // another value length
        "010878af5f94892f39",                  // one byte short
        "010878af5f94892f395000",              // one byte more
        blake3.substr(0, blake3.size() - 2),   // BLAKE3 one byte short
        blake3 + "00",                         // and one more
        "",
        "02",
    };
    for (const std::string& hex : refused) {
        std::vector<uint8_t> data = ct::Bytes(hex.c_str());
        data.reserve(1);
        DigestValue v;
        std::memset(&v, 7, sizeof v);
        EXPECT_EQ(core_DecodeEndData(data.data(), (uint32_t)data.size(), &v), 0) << hex;
        EXPECT_EQ(v.algorithm, 7) << "untouched";
    }
}

}  // namespace
