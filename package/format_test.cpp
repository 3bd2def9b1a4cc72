// The mixing transform and the two functions that move mixed bytes in and out of files.
#include <gtest/gtest.h>

#include "package/format_testutil.h"
#include "package/package.h"

namespace {

TEST(Format, MixNegatesEachByteOnItsOwn)
{
    BYTE abc[] = {0x61, 0x62, 0x63};
    EXPECT_EQ(MixBytes(abc, 3), 3u);
    EXPECT_EQ(abc[0], 0x9F);
    EXPECT_EQ(abc[1], 0x9E);
    EXPECT_EQ(abc[2], 0x9D);

    BYTE fixed[] = {0x00, 0x80, 0x01, 0x7F, 0xFF};
    MixBytes(fixed, 5);
    const BYTE want[] = {0x00, 0x80, 0xFF, 0x81, 0x01};
    EXPECT_EQ(memcmp(fixed, want, 5), 0);
    EXPECT_EQ(MixBytes(fixed, 0), 0u);
}

TEST(Format, PayloadDigestAndTheEndRecordsTaggedForm)
{
    // Known answers of "abc" from b3sum and xxhsum -H3, both algorithms at once.
    PayloadDigest d;
    utl_DigestBegin(&d);
    utl_DigestUpdate(&d, "a", 1);
    utl_DigestUpdate(&d, "bc", 2);
    DigestValue blake3, xxh3;
    ASSERT_EQ(utl_DigestValue(&d, kDigestBlake3, &blake3), 1);
    ASSERT_EQ(utl_DigestValue(&d, kDigestXxh3, &xxh3), 1);
    const std::string abcBlake3 = "6437b3ac38465133ffb63b75273a8db548c558465d79db03fd359c6cd5bd9d85";
    EXPECT_EQ(pt::HexOf(std::string((const char*)blake3.bytes, blake3.len)), abcBlake3);

    // What the writers put into the end record: id 2, length 32, the value as b3sum prints it.
    BYTE data[kEndDataMax];
    ASSERT_EQ(utl_EncodeEndData(data, &blake3), 34u);
    EXPECT_EQ(pt::HexOf(std::string((const char*)data, 34)), "0220" + abcBlake3);
    ASSERT_EQ(utl_EncodeEndData(data, &xxh3), 10u);
    EXPECT_EQ(pt::HexOf(std::string((const char*)data, 10)), "010878af5f94892f3950");
    DigestValue back;
    EXPECT_EQ(utl_DecodeEndData(data, 10, &back), 1);
    EXPECT_EQ(memcmp(back.bytes, xxh3.bytes, 8), 0);
    // Another algorithm, another value length, or any other size is no digest of ours.
    data[0] = 3;
    EXPECT_EQ(utl_DecodeEndData(data, 10, &back), 0);
    data[0] = 1;
    data[1] = 4;
    EXPECT_EQ(utl_DecodeEndData(data, 10, &back), 0);
    EXPECT_EQ(utl_DecodeEndData(data, 9, &back), 0);
    // The whole end record as stored.
    BYTE record[kEndRecordLen];
    ASSERT_EQ(utl_EncodeEndRecord(record, &blake3), kEndRecordLen);
    std::string abcBytes;  // b3sum's value as bytes
    for (size_t i = 0; i < abcBlake3.size(); i += 2) abcBytes += (char)std::stoi(abcBlake3.substr(i, 2), nullptr, 16);
    EXPECT_EQ(std::string((const char*)record, kEndRecordLen), pt::Record("^Vemlo_end^", "\x02\x20" + abcBytes));
}

TEST(Format, MixTwiceGivesEveryByteValueBack)
{
    BYTE all[256], copy[256];
    for (int i = 0; i < 256; ++i) all[i] = copy[i] = static_cast<BYTE>(i);
    MixBytes(all, 256);
    EXPECT_EQ(all[0], 0x00);
    EXPECT_EQ(all[0x80], 0x80);
    for (int i = 1; i < 256; ++i) EXPECT_EQ(all[i], static_cast<BYTE>(256 - i)) << i;
    MixBytes(all, 256);
    EXPECT_EQ(memcmp(all, copy, 256), 0);
}

TEST(Format, MixAndWriteStoresMixedBytesAndLeavesTheBufferMixed)
{
    std::string d = vt::FreshDir("fmt_write");
    std::string path = d + "\\out.bin";
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    BYTE buf[] = {'a', 'b', 'c'};
    EXPECT_NE(MixAndWrite(f, buf, 3), 0);
    EXPECT_EQ(buf[0], 0x9F);
    CloseHandle(f);
    EXPECT_EQ(vt::ReadAll(path), std::string("\x9F\x9E\x9D"));

    // A handle without write access: the write fails, the buffer is mixed all the same.
    HANDLE r = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    BYTE again[] = {0x01};
    EXPECT_EQ(MixAndWrite(r, again, 1), 0);
    EXPECT_EQ(again[0], 0xFF);
    CloseHandle(r);
}

TEST(Format, ReadAndUnmixReadsWholeOrLeavesTheBytesAsRead)
{
    std::string d = vt::FreshDir("fmt_read");
    std::string path = d + "\\in.bin";
    vt::WriteAll(path, "\x9F\x9E\x9D");
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    BYTE buf[8] = {0};
    EXPECT_EQ(ReadAndUnmix(f, buf, 2), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "ab");
    // One byte left, two asked: 0, and the byte read stays mixed.
    BYTE rest[2] = {0x11, 0x22};
    EXPECT_EQ(ReadAndUnmix(f, rest, 2), 0);
    EXPECT_EQ(rest[0], 0x9D);
    EXPECT_EQ(ReadAndUnmix(f, rest, 0), 1);  // nothing asked, nothing missing
    CloseHandle(f);
}

}  // namespace
