// The walker's payload digest with large contents digested beside it by a lent hasher: the value
// stays BLAKE3 over the stored bytes (computed here with the BLAKE3 library itself) and the content
// comes out whole, whether the hasher takes every piece, gives some back, or none is lent.
#include <gtest/gtest.h>

#include <blake3.h>
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/hex_testutil.h"
#include "core/package_walk.h"

namespace {

struct Memory {
    std::string bytes;
    size_t at = 0;
};

int32_t MemRead(void* ctx, uint8_t* buffer, uint32_t len)
{
    Memory* m = static_cast<Memory*>(ctx);
    size_t n = std::min<size_t>(len, m->bytes.size() - m->at);
    std::memcpy(buffer, m->bytes.data() + m->at, n);
    m->at += n;
    return (int32_t)n;
}

int MemSeek(void* ctx, uint64_t position)
{
    static_cast<Memory*>(ctx)->at = (size_t)position;
    return 1;
}

// Digests a piece only when the walk waits for it, from the bytes its buffer holds then: a walk
// that reads into that buffer again, or feeds the digest anything, before waiting gives a wrong
// value. It takes the pieces numbered below `takes` and gives the others back.
struct LateHasher {
    uint32_t takes, started = 0;
    PayloadDigest* d = nullptr;
    const uint8_t* data = nullptr;
    uint8_t* out = nullptr;
    uint32_t len = 0;
};

int LateStart(void* ctx, PayloadDigest* d, const uint8_t* data, uint8_t* out, uint32_t len)
{
    LateHasher* h = static_cast<LateHasher*>(ctx);
    if (h->started >= h->takes) return 0;
    ++h->started;
    h->d = d, h->data = data, h->out = out, h->len = len;
    return 1;
}

void LateWait(void* ctx)
{
    LateHasher* h = static_cast<LateHasher*>(ctx);
    ASSERT_NE(h->d, nullptr) << "a wait with no piece under way";
    core_DigestUpdate(h->d, h->data, h->len);
    for (uint32_t i = 0; i < h->len; ++i) h->out[i] = (uint8_t)(0u - h->data[i]);
    h->d = nullptr;
}

std::string Record(const std::string& name, const std::string& content, int compressed = 0)
{
    std::string r(8 + name.size(), '\0');
    core_EncodeRecordHead(reinterpret_cast<uint8_t*>(&r[0]), name.data(), (uint32_t)name.size(),
                          (uint32_t)content.size(), compressed);
    for (char c : content) r += (char)(0u - (uint8_t)c);
    return r;
}

std::string Pattern(size_t n, uint32_t x)
{
    std::string s(n, '\0');
    for (char& c : s) c = (char)((x = x * 1103515245u + 12345u) >> 16);
    return s;
}

TEST(CorePackageWalk, LargeContentsDigestedBesideGiveTheSameDigest)
{
    const uint32_t piece = 64 * 1024 + 3;
    const std::string big = Pattern(2 * kHashBesideMin + 5, 7), edge = Pattern(kHashBesideMin - 1, 9);
    std::string magic(kPackageMagic, kPackageMagicLen);
    for (char& c : magic) c = (char)(0u - (uint8_t)c);
    const std::string records = magic + Record("a.txt", "abc") + Record("big.bin", big) + Record("edge.bin", edge);
    const uint32_t bigPieces = (uint32_t)((big.size() + piece - 1) / piece);
    auto blake3 = [](const std::string& bytes) {
        blake3_hasher h;
        blake3_hasher_init(&h);
        blake3_hasher_update(&h, bytes.data(), bytes.size());
        DigestValue v = {kDigestBlake3, kDigestBlake3Len, {}};
        blake3_hasher_finalize(&h, v.bytes, kDigestBlake3Len);
        return v;
    };
    const DigestValue own = blake3(records);
    std::string closed = records;
    closed.resize(records.size() + kEndRecordLen);
    core_EncodeEndRecord(reinterpret_cast<uint8_t*>(&closed[records.size()]), &own);
    std::string damaged = closed;
    const size_t bigAt = magic.size() + Record("a.txt", "abc").size() + 8 + 7;
    damaged[bigAt + 3 * piece + 11] ^= 0x20;  // in big.bin's fourth piece

    const struct {
        const char* what;
        bool lent;
        uint32_t takes;
        const std::string& bytes;
        uint32_t error, started;
    } rows[] = {
        {"every large piece beside", true, 1000, closed, 0, bigPieces},
        {"the first three beside, then given back", true, 3, closed, 0, 3},
        {"no thread to be had", true, 0, closed, 0, 0},
        {"no hasher lent", false, 0, closed, 0, 0},
        {"a byte changed, beside", true, 1000, damaged, kErrDigestMismatch, bigPieces},
        {"a byte changed, inline", false, 0, damaged, kErrDigestMismatch, 0},
    };
    for (auto& row : rows) {
        Memory m;
        m.bytes = row.bytes;
        CoreByteSource src = {MemRead, MemSeek, &m, 0};
        std::vector<uint8_t> buffers(5 * (size_t)piece);
        LateHasher late = {row.takes};
        uint8_t* at = &buffers[piece];
        CoreHasher hasher = {LateStart, LateWait, &late, {at, at + piece}, {at + 2 * piece, at + 3 * piece}};
        std::string content;
        CoreVisitor v = {};
        v.piece = [](void* ctx, const uint8_t* data, uint32_t len) {
            static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(data), len);
            return 0u;
        };
        v.ctx = &content;
        v.pieceBuffer = buffers.data();
        v.pieceSize = piece;
        PackDigestCheck check = {&own, 0, {}, {}, {}, 0};
        v.digest = &check;
        v.hasher = row.lent ? &hasher : nullptr;
        uint32_t error = 0;
        EXPECT_EQ(core_WalkPackage(&src, 0, (uint32_t)m.bytes.size(), &v, &error), row.error == 0) << row.what;
        EXPECT_EQ(error, row.error) << row.what;
        EXPECT_EQ(late.started, row.started) << row.what;
        EXPECT_EQ(late.d, nullptr) << row.what << ": a piece left under way";
        const DigestValue given = blake3(row.bytes.substr(0, records.size()));
        EXPECT_EQ(ct::Hex(check.computed.bytes, check.computed.len), ct::Hex(given.bytes, given.len)) << row.what;
        if (row.error == 0) {
            EXPECT_EQ(content, "abc" + big + edge) << row.what;
        }
    }
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string Magic()
{
    std::string magic(kPackageMagic, kPackageMagicLen);
    for (char& c : magic) c = (char)(0u - (uint8_t)c);
    return magic;
}

// What a walk of a package handed on: the records' declared lengths and the content.
struct Walked {
    uint32_t error = 0;
    std::vector<uint32_t> contentLens;
    std::string content;
};

Walked WalkAll(const std::string& package, const CoreHasher* hasher = nullptr, uint8_t* pieceBuffer = nullptr,
               uint32_t pieceSize = 0, PackDigestCheck* check = nullptr)
{
    Walked out;
    Memory m;
    m.bytes = package;
    CoreByteSource src = {MemRead, MemSeek, &m, 0};
    CoreVisitor v = {};
    v.begin = [](void* ctx, const CoreRecord* r) {
        if (!r->isEnd) static_cast<Walked*>(ctx)->contentLens.push_back(r->contentLen);
        return 0u;
    };
    v.piece = [](void* ctx, const uint8_t* data, uint32_t len) {
        static_cast<Walked*>(ctx)->content.append(reinterpret_cast<const char*>(data), len);
        return 0u;
    };
    v.ctx = &out;
    v.pieceBuffer = pieceBuffer;
    v.pieceSize = pieceSize;
    v.digest = check;
    v.hasher = hasher;
    core_WalkPackage(&src, 0, (uint32_t)package.size(), &v, &out.error);
    return out;
}

// Compressed records: frames made by the zstd command (`zstd -19 --no-check` of the 1080 bytes
// below) and by hand (a raw block: header 28b52ffd, descriptor 0x80 = 4-byte content size and a
// window byte, the size, block header 0x29 0x00 0x00 = last, raw, 5 bytes, then "hello").
TEST(CorePackageWalk, CompressedRecordsDecodeOnlyWhenTheyKeepTheirWord)
{
    std::string text;
    for (int i = 0; i < 60; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "Vemlo record %03d. ", i);
        text += line;
    }
    ASSERT_EQ(text.size(), 1080u);
    const std::string cli = Text(ct::Bytes(
        "28b52ffd603803d5020042850f11a0e901304cff61000b21454829eb574d1c2034af269ed5b37935f1ac8ecdab8967f5"
        "6b5e4d3cab5bf36ae259bd9a5713cf0a84ff8024344a02c89c22023ba811b0bbff06e0e7107e05f90c6124ab8dc0287d"
        "6c055215"));
    const std::string hello8 = Text(ct::Bytes("28b52ffd80680500000029000068656c6c6f"));  // window 8 MiB
    std::string hello16 = hello8, declaresMore = hello8, declaresLess = hello8, cliLies = cli;
    hello16[5] = 0x70;       // window 16 MiB: more than an unpack may take
    declaresMore[6] = 0x06;  // says 6, gives 5
    declaresLess[6] = 0x04;  // says 4, gives 5
    cliLies[6] = 0x39;       // says 1081
    const std::string noSize = Text(ct::Bytes("28b52ffd0068d5020042850f11a0e901304cff61000b21454829eb574d1c"
                                              "2034af269ed5b37935f1ac8ecdab8967f56b5e4d3cab5bf36ae259bd9a57"
                                              "13cf0a84ff8024344a02c89c22023ba811b0bbff06e0e7107e05f90c6124"
                                              "ab8dc0287d6c055215"));
    const struct {
        const char* what;
        std::string stored;
        uint32_t error;
        std::string content;
    } rows[] = {
        {"the zstd command's frame", cli, 0, text},
        {"a raw block, window 8 MiB", hello8, 0, "hello"},
        {"window 16 MiB", hello16, kErrCompressed, ""},
        {"declares one byte more", declaresMore, kErrCompressed, ""},
        {"declares one byte less", declaresLess, kErrCompressed, ""},
        {"the command's frame declaring 1081", cliLies, kErrCompressed, ""},
        {"no content size declared", noSize, kErrCompressed, ""},
        {"cut short by three bytes", cli.substr(0, cli.size() - 3), kErrCompressed, ""},
        {"cut inside the header", cli.substr(0, 5), kErrCompressed, ""},
        {"nothing stored", "", kErrCompressed, ""},
        {"a byte after the frame's end", hello8 + "x", kErrCompressed, ""},
        {"a second frame after it", hello8 + hello8, kErrCompressed, ""},
        {"a reserved block type", cli.substr(0, 7) + "\xd7" + cli.substr(8), kErrCompressed, ""},
    };
    for (auto& row : rows) {
        // Between two stored records, so a record that fails cannot be blamed on its neighbours.
        const Walked w = WalkAll(Magic() + Record("a.txt", "abc") + Record("b.txt", row.stored, 1) + Record("c.txt", "z"));
        EXPECT_EQ(w.error, row.error) << row.what;
        if (row.error == 0) {
            EXPECT_EQ(w.content, "abc" + row.content + "z") << row.what;
            EXPECT_EQ(w.contentLens, (std::vector<uint32_t>{3, (uint32_t)row.content.size(), 1})) << row.what;
        } else {
            // Never more than the frame declared reaches the visitor.
            EXPECT_LE(w.content.size(), 3u + 1081u) << row.what;
        }
    }
    // The end record is always stored: marked compressed, it is a name length that does not fit.
    std::string end(kEndRecordLen, '\0');
    const DigestValue none = {kDigestBlake3, kDigestBlake3Len, {}};
    core_EncodeEndRecord(reinterpret_cast<uint8_t*>(&end[0]), &none);
    end[3] = (char)0x80;
    EXPECT_EQ(WalkAll(Magic() + end).error, 161u);
}

// A large compressed record decodes whole in pieces, with the hasher lent or not, and the digest
// covers the stored bytes (the frame, mixed), not the content.
TEST(CorePackageWalk, LargeCompressedRecordsStreamAndDigestTheStoredBytes)
{
    // Sixteen letters at random: about half the size compressed, so the frame too is large.
    std::string big(5 * 1024 * 1024, '\0');
    uint32_t x = 2463534242u;
    for (char& c : big) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;  // xorshift32
        c = (char)('a' + (x >> 28));
    }
    std::string frame(ZSTD_compressBound(big.size()), '\0');
    frame.resize(ZSTD_compress(&frame[0], frame.size(), big.data(), big.size(), 3));
    ASSERT_FALSE(ZSTD_isError(frame.size()));
    ASSERT_GT(frame.size(), kHashBesideMin);
    const std::string package = Magic() + Record("big.bin", frame, 1) + Record("a.txt", "abc");
    blake3_hasher h;
    blake3_hasher_init(&h);
    blake3_hasher_update(&h, package.data(), package.size());
    DigestValue own = {kDigestBlake3, kDigestBlake3Len, {}};
    blake3_hasher_finalize(&h, own.bytes, kDigestBlake3Len);
    std::string closed = package + std::string(kEndRecordLen, '\0');
    core_EncodeEndRecord(reinterpret_cast<uint8_t*>(&closed[package.size()]), &own);

    const uint32_t piece = 64 * 1024 + 3;
    for (uint32_t takes : {1000u, 2u, 0u}) {
        std::vector<uint8_t> buffers(5 * (size_t)piece);
        LateHasher late = {takes};
        uint8_t* at = &buffers[piece];
        CoreHasher hasher = {LateStart, LateWait, &late, {at, at + piece}, {at + 2 * piece, at + 3 * piece}};
        PackDigestCheck check = {&own, 0, {}, {}, {}, 0};
        const Walked w = WalkAll(closed, &hasher, buffers.data(), piece, &check);
        EXPECT_EQ(w.error, 0u) << takes;
        EXPECT_EQ(check.state, kDigestOk) << takes;
        EXPECT_TRUE(w.content == big + "abc") << takes;
        EXPECT_EQ(w.contentLens, (std::vector<uint32_t>{(uint32_t)big.size(), 3})) << takes;
    }
    // Walked with the 4096-byte pieces on the walker's own stack, no digest.
    EXPECT_TRUE(WalkAll(closed).content == big + "abc");

    // One byte of the frame changed: its magic (the header fails) or its declared size (one byte
    // more than it gives: the end fails). A walk that expects the package's digest reads on to the
    // end record, handing nothing more on: not the package expected, 167. The same package closed
    // with its own digest and expected as it is: its frame fails, 169.
    ZSTD_frameHeader fh;
    ASSERT_EQ(ZSTD_getFrameHeader(&fh, frame.data(), frame.size()), 0u);
    ASSERT_EQ(fh.frameContentSize & 0xff, 0u);
    const size_t frameAt = Magic().size() + 8 + 7;
    auto damage = [&](size_t at) {
        std::string d = closed;
        d[frameAt + at] ^= 1;
        return d;
    };
    const std::string badMagic = damage(1), badSize = damage(fh.headerSize - 4);
    const std::string badSizePackage = badSize.substr(0, package.size());
    DigestValue badSizeOwn = own;
    blake3_hasher_init(&h);
    blake3_hasher_update(&h, badSizePackage.data(), badSizePackage.size());
    blake3_hasher_finalize(&h, badSizeOwn.bytes, kDigestBlake3Len);
    std::string badSizeClosed = badSizePackage + std::string(kEndRecordLen, '\0');
    core_EncodeEndRecord(reinterpret_cast<uint8_t*>(&badSizeClosed[package.size()]), &badSizeOwn);
    const struct {
        const char* what;
        const std::string& bytes;
        const DigestValue* expect;
        uint32_t error;
    } damages[] = {
        {"magic, the signed digest expected", badMagic, &own, kErrDigestMismatch},
        {"size, the signed digest expected", badSize, &own, kErrDigestMismatch},
        {"size, its own digest expected", badSizeClosed, &badSizeOwn, kErrCompressed},
        {"size, nothing expected", badSize, nullptr, kErrCompressed},
        {"magic, nothing expected", badMagic, nullptr, kErrCompressed},
    };
    for (auto& row : damages) {
        std::vector<uint8_t> buffers(5 * (size_t)piece);
        LateHasher late = {1000};
        uint8_t* at = &buffers[piece];
        CoreHasher hasher = {LateStart, LateWait, &late, {at, at + piece}, {at + 2 * piece, at + 3 * piece}};
        PackDigestCheck check = {row.expect, 0, {}, {}, {}, 0};
        const Walked w = WalkAll(row.bytes, &hasher, buffers.data(), piece, &check);
        EXPECT_EQ(w.error, row.error) << row.what;
        EXPECT_LE(w.contentLens.size(), 1u) << row.what << ": a record begun after the damage";
        EXPECT_LE(w.content.size(), big.size()) << row.what;
        if (row.expect) {
            EXPECT_EQ(check.state, row.error == kErrCompressed ? kDigestOk : kDigestMismatch) << row.what;
        }
    }
}

}  // namespace
