// The walker's payload digest with large contents digested beside it by a lent hasher: the value
// stays BLAKE3 over the stored bytes (computed here with the BLAKE3 library itself) and the content
// comes out whole, whether the hasher takes every piece, gives some back, or none is lent.
#include <gtest/gtest.h>

#include <blake3.h>

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

std::string Record(const std::string& name, const std::string& content)
{
    std::string r(8 + name.size(), '\0');
    core_EncodeRecordHead(reinterpret_cast<uint8_t*>(&r[0]), name.data(), (uint32_t)name.size(),
                          (uint32_t)content.size());
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

}  // namespace
