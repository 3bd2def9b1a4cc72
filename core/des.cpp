// DES and three-key triple DES (FIPS 46-3): key schedule, table-driven rounds, ECB with PKCS#5.
// The round function's eight 64-entry tables (each S-box followed by the P permutation) are
// computed at compile time from the standard's S-boxes, so the only data typed in here are the
// standard's own tables.
#include "core/des.h"

#include <cstring>

namespace {

// ---- The standard's tables (bit 1 = most significant bit) ------------------------------------

const uint8_t kPc1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4,
};

const uint8_t kPc2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
    26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
    51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};

// Cumulative left rotations of C and D before each round.
const uint8_t kTotalRotation[16] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 17, 19, 21, 23, 25, 27, 28};

// S-boxes: 4 rows of 16, row = first and last input bit, column = the middle four.
constexpr uint8_t kSbox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2, 11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0, 6,  13},
    {15, 1,  8,  14, 6,  11, 3, 4,  9,  7, 2,  13, 12, 0, 5,  10, 3, 13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6, 9,  11, 5, 0,  14, 7,  11, 10, 4, 13, 1, 5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0, 5,  14, 9},
    {10, 0,  9,  14, 6,  3,  15, 5,  1,  13, 12, 7, 11, 4, 2,  8, 13, 7, 0,  9,  3,  4,
     6,  10, 2,  8,  5,  14, 12, 11, 15, 1,  13, 6, 4,  9, 8,  15, 3, 0, 11, 1,  2,  12,
     5,  10, 14, 7,  1,  10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3, 11, 5, 2,  12},
    {7,  13, 14, 3,  0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15, 13, 8, 11, 5, 6, 15,
     0,  3,  4,  7,  2,  12, 1,  10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5,  2,  8,  4,  3,  15, 0,  6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6, 8,  5,  3,  15, 13, 0, 14, 9,  14, 11, 2,  12, 4, 7,
     13, 1,  5,  0,  15, 10, 3,  9, 8,  6,  4,  2,  1,  11, 10, 13, 7,  8,  15, 9, 12, 5,
     6,  3,  0,  14, 11, 8,  12, 7, 1,  14, 2,  13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4, 14, 7,  5,  11, 10, 15, 4,  2,  7,  12,
     9,  5,  6,  1,  13, 14, 0, 11, 3,  8,  9,  14, 15, 5, 2,  8,  12, 3,  7,  0,  4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9,  5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0,  8,  13, 3,  12, 9,  7,  5,  10, 6, 1, 13, 0, 11, 7,  4,  9,
     1,  10, 14, 3,  5,  12, 2,  15, 8,  6,  1,  4,  11, 13, 12, 3, 7, 14, 10, 15, 6, 8,
     0,  5,  9,  2,  6,  11, 13, 8,  1,  4,  10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3, 14, 5, 0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4,  12, 5, 6,  11, 0,  14, 9,  2,  7, 11, 4, 1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3,  5,  8, 2,  1,  14, 7,  4,  10, 8, 13, 15, 12, 9, 0,  3,  5,  6,  11},
};

constexpr uint8_t kPc[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};

// Round tables: entry [i][x] is P applied to the output of S-box i+1 for the 6-bit input x,
// rotated left by one bit, because the rounds keep both halves rotated by one (so that each
// 6-bit group of the expansion lies in one byte of a word).
struct SpTables {
    uint32_t t[8][64];
};

constexpr SpTables MakeSpTables()
{
    SpTables sp{};
    for (int box = 0; box < 8; ++box) {
        for (int x = 0; x < 64; ++x) {
            int row = ((x >> 4) & 2) | (x & 1);
            int col = (x >> 1) & 15;
            uint32_t s = kSbox[box][row * 16 + col];
            // The S-box's four output bits are bits 4*box+1 .. 4*box+4 of P's input.
            uint32_t in = s << (28 - 4 * box);
            uint32_t out = 0;
            for (int j = 0; j < 32; ++j)
                if (in & (0x80000000u >> (kPc[j] - 1))) out |= 0x80000000u >> j;
            sp.t[box][x] = (out << 1) | (out >> 31);
        }
    }
    return sp;
}

constexpr SpTables kSp = MakeSpTables();

uint32_t LoadBig(const uint8_t* p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

void StoreBig(uint32_t v, uint8_t* p)
{
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

void RunBlock(const uint8_t* in, uint8_t* out, const uint32_t* schedule)
{
    uint32_t left = LoadBig(in), right = LoadBig(in + 4);
    DesRounds(&left, &right, schedule);
    StoreBig(left, out);
    StoreBig(right, out + 4);
}

void Run3Block(const uint8_t* in, uint8_t* out, const uint32_t (*schedules)[32])
{
    uint32_t left = LoadBig(in), right = LoadBig(in + 4);
    for (int k = 0; k < 3; ++k) DesRounds(&left, &right, schedules[k]);
    StoreBig(left, out);
    StoreBig(right, out + 4);
}

// The last, padded block: the r remaining bytes, then 8 - r bytes of value 8 - r.
void PadLastBlock(const uint8_t* rest, int r, uint8_t* block)
{
    if (r > 0) memcpy(block, rest, (size_t)r);
    memset(block + r, 8 - r, (size_t)(8 - r));
}

}  // namespace

void DesKeySchedule(const uint8_t* key, int direction, uint32_t* schedule)
{
    uint8_t keyBits[64];
    for (int i = 0; i < 64; ++i) keyBits[i] = (key[i >> 3] >> (7 - (i & 7))) & 1;
    uint8_t cd[56];
    for (int i = 0; i < 56; ++i) cd[i] = keyBits[kPc1[i] - 1];

    for (int round = 0; round < 16; ++round) {
        uint8_t rotated[56];
        for (int i = 0; i < 28; ++i) {
            rotated[i] = cd[(i + kTotalRotation[round]) % 28];
            rotated[28 + i] = cd[28 + (i + kTotalRotation[round]) % 28];
        }
        // The 48-bit subkey as eight 6-bit groups, one per S-box.
        uint32_t group[8];
        for (int g = 0; g < 8; ++g) {
            uint32_t v = 0;
            for (int b = 0; b < 6; ++b) v = (v << 1) | rotated[kPc2[g * 6 + b] - 1];
            group[g] = v;
        }
        // Word 0 meets the expansion groups of S-boxes 1, 3, 5, 7; word 1 those of 2, 4, 6, 8.
        int slot = direction == DES_DECRYPT_ORDER ? 15 - round : round;
        schedule[2 * slot] = group[0] << 24 | group[2] << 16 | group[4] << 8 | group[6];
        schedule[2 * slot + 1] = group[1] << 24 | group[3] << 16 | group[5] << 8 | group[7];
    }
}

void DesRounds(uint32_t* leftHalf, uint32_t* rightHalf, const uint32_t* schedule)
{
    uint32_t left = *leftHalf, right = *rightHalf, work;

    // Initial permutation as a sequence of bit-group swaps between the halves.
    work = ((left >> 4) ^ right) & 0x0f0f0f0fu; right ^= work; left ^= work << 4;
    work = ((left >> 16) ^ right) & 0x0000ffffu; right ^= work; left ^= work << 16;
    work = ((right >> 2) ^ left) & 0x33333333u; left ^= work; right ^= work << 2;
    work = ((right >> 8) ^ left) & 0x00ff00ffu; left ^= work; right ^= work << 8;
    right = (right << 1) | (right >> 31);
    work = (left ^ right) & 0xaaaaaaaau; left ^= work; right ^= work;
    left = (left << 1) | (left >> 31);

    const uint32_t* key = schedule;
    for (int round = 0; round < 8; ++round) {
        uint32_t f;
        work = ((right << 28) | (right >> 4)) ^ *key++;
        f = kSp.t[6][work & 0x3f] | kSp.t[4][(work >> 8) & 0x3f] | kSp.t[2][(work >> 16) & 0x3f] |
            kSp.t[0][(work >> 24) & 0x3f];
        work = right ^ *key++;
        f |= kSp.t[7][work & 0x3f] | kSp.t[5][(work >> 8) & 0x3f] | kSp.t[3][(work >> 16) & 0x3f] |
             kSp.t[1][(work >> 24) & 0x3f];
        left ^= f;

        work = ((left << 28) | (left >> 4)) ^ *key++;
        f = kSp.t[6][work & 0x3f] | kSp.t[4][(work >> 8) & 0x3f] | kSp.t[2][(work >> 16) & 0x3f] |
            kSp.t[0][(work >> 24) & 0x3f];
        work = left ^ *key++;
        f |= kSp.t[7][work & 0x3f] | kSp.t[5][(work >> 8) & 0x3f] | kSp.t[3][(work >> 16) & 0x3f] |
             kSp.t[1][(work >> 24) & 0x3f];
        right ^= f;
    }

    // Final permutation (the inverse swaps); the halves leave exchanged, as the standard has it.
    right = (right << 31) | (right >> 1);
    work = (left ^ right) & 0xaaaaaaaau; left ^= work; right ^= work;
    left = (left << 31) | (left >> 1);
    work = ((left >> 8) ^ right) & 0x00ff00ffu; right ^= work; left ^= work << 8;
    work = ((left >> 2) ^ right) & 0x33333333u; right ^= work; left ^= work << 2;
    work = ((right >> 16) ^ left) & 0x0000ffffu; left ^= work; right ^= work << 16;
    work = ((right >> 4) ^ left) & 0x0f0f0f0fu; left ^= work; right ^= work << 4;
    *leftHalf = right;
    *rightHalf = left;
}

int DesSetKey(const uint8_t* key, DesContext* ctx)
{
    DesKeySchedule(key, DES_ENCRYPT_ORDER, ctx->encrypt);
    DesKeySchedule(key, DES_DECRYPT_ORDER, ctx->decrypt);
    return 0;
}

int Des3SetKey3(const uint8_t* key, Des3Context* ctx)
{
    DesKeySchedule(key, DES_ENCRYPT_ORDER, ctx->encrypt[0]);
    DesKeySchedule(key + 8, DES_DECRYPT_ORDER, ctx->encrypt[1]);
    DesKeySchedule(key + 16, DES_ENCRYPT_ORDER, ctx->encrypt[2]);
    DesKeySchedule(key + 16, DES_DECRYPT_ORDER, ctx->decrypt[0]);
    DesKeySchedule(key + 8, DES_ENCRYPT_ORDER, ctx->decrypt[1]);
    DesKeySchedule(key, DES_DECRYPT_ORDER, ctx->decrypt[2]);
    return 0;
}

void DesEncryptBlock(const uint8_t* in, uint8_t* out, const DesContext* ctx)
{
    RunBlock(in, out, ctx->encrypt);
}

void DesDecryptBlock(const uint8_t* in, uint8_t* out, const DesContext* ctx)
{
    RunBlock(in, out, ctx->decrypt);
}

void Des3EncryptBlock(const uint8_t* in, uint8_t* out, const Des3Context* ctx)
{
    Run3Block(in, out, ctx->encrypt);
}

void Des3DecryptBlock(const uint8_t* in, uint8_t* out, const Des3Context* ctx)
{
    Run3Block(in, out, ctx->decrypt);
}

namespace {

template <typename Context, typename BlockFn>
int EcbEncrypt(const uint8_t* in, int n, uint8_t* out, int outSize, const Context* ctx,
               BlockFn block)
{
    if (n < 0 || n > 0x7FFFFFF0 || (n > 0 && !in) || !out || !ctx) return -1;
    int padded = (n & ~7) + 8;
    if (outSize < padded) return -1;
    int whole = n & ~7;
    for (int i = 0; i < whole; i += 8) block(in + i, out + i, ctx);
    uint8_t last[8];
    PadLastBlock(in + whole, n - whole, last);
    block(last, out + whole, ctx);
    return padded;
}

// Deciphers m bytes and strips the padding. Nothing is written past outSize: the last block is
// deciphered aside and only the plaintext bytes that belong to the result are copied out.
template <typename Context, typename BlockFn>
int EcbDecrypt(const uint8_t* in, int m, uint8_t* out, int outSize, int limit,
               const Context* ctx, BlockFn block)
{
    if (!in || !out || !ctx || m <= 0 || (m & 7) != 0 || m > limit) return -1;
    int body = m - 8;
    if (body > outSize) return -1;
    for (int i = 0; i < body; i += 8) block(in + i, out + i, ctx);
    uint8_t last[8];
    block(in + body, last, ctx);
    int pad = last[7];
    if (pad > m) return -1;
    int plain = m - pad;
    if (plain > outSize) return -1;
    if (plain > body) memcpy(out + body, last, (size_t)(plain - body));
    return plain;
}

}  // namespace

int DesEcbEncrypt(const uint8_t* in, int n, uint8_t* out, int outSize, const DesContext* ctx)
{
    return EcbEncrypt(in, n, out, outSize, ctx, DesEncryptBlock);
}

int Des3EcbEncrypt(const uint8_t* in, int n, uint8_t* out, int outSize, const Des3Context* ctx)
{
    return EcbEncrypt(in, n, out, outSize, ctx, Des3EncryptBlock);
}

int DesEcbDecrypt(const uint8_t* in, int m, uint8_t* out, int outSize, const DesContext* ctx)
{
    if (outSize < 0 || outSize > 0x7FFFFFF0) return -1;
    return EcbDecrypt(in, m, out, outSize, (outSize & ~7) + 8, ctx, DesDecryptBlock);
}

int Des3EcbDecrypt(const uint8_t* in, int m, uint8_t* out, int outSize, const Des3Context* ctx)
{
    if (outSize < 0) return -1;
    return EcbDecrypt(in, m, out, outSize, outSize, ctx, Des3DecryptBlock);
}
