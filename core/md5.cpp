// MD5 (RFC 1321), and the CHAP response of RFC 1994 built on it.
#include "core/md5.h"

#include <cstring>

namespace {

const uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
const uint8_t kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

uint32_t Rotl(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

void Transform(uint32_t* state, const uint8_t* block)
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = (uint32_t)block[4 * i] | (uint32_t)block[4 * i + 1] << 8 | (uint32_t)block[4 * i + 2] << 16 |
               (uint32_t)block[4 * i + 3] << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int k, round = i / 16;
        switch (round) {
        case 0: f = (b & c) | (~b & d); k = i; break;
        case 1: f = (b & d) | (c & ~d); k = (5 * i + 1) % 16; break;
        case 2: f = b ^ c ^ d; k = (3 * i + 5) % 16; break;
        default: f = c ^ (b | ~d); k = (7 * i) % 16; break;
        }
        uint32_t next = b + Rotl(a + f + kT[i] + x[k], kShift[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void core_Md5Init(Md5Context* m)
{
    m->state[0] = 0x67452301;
    m->state[1] = 0xefcdab89;
    m->state[2] = 0x98badcfe;
    m->state[3] = 0x10325476;
    m->bytes = 0;
}

void core_Md5Update(Md5Context* m, const void* data, size_t length)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t used = (size_t)(m->bytes % 64);
    m->bytes += length;
    if (used) {
        size_t take = 64 - used < length ? 64 - used : length;
        memcpy(m->block + used, p, take);
        p += take;
        length -= take;
        if (used + take < 64) return;
        Transform(m->state, m->block);
    }
    for (; length >= 64; p += 64, length -= 64) Transform(m->state, p);
    if (length) memcpy(m->block, p, length);
}

void core_Md5Final(Md5Context* m, uint8_t* digest)
{
    uint64_t bits = m->bytes * 8;
    static const uint8_t kPad[128] = {0x80};
    size_t used = (size_t)(m->bytes % 64);
    core_Md5Update(m, kPad, used < 56 ? 56 - used : 120 - used);
    uint8_t count[8];
    for (int i = 0; i < 8; ++i) count[i] = (uint8_t)(bits >> (8 * i));
    core_Md5Update(m, count, 8);
    for (int i = 0; i < 16; ++i) digest[i] = (uint8_t)(m->state[i / 4] >> (8 * (i % 4)));
}

void core_Md5Buffer(uint8_t* digest, const void* data, size_t length)
{
    if (!digest || (!data && length)) return;
    Md5Context m;
    core_Md5Init(&m);
    if (length) core_Md5Update(&m, data, length);
    core_Md5Final(&m, digest);
}

void utl_Md5ChapResponse(uint8_t* digest, const uint8_t* challenge, const char* secret,
                         uint8_t identifier)
{
    if (!digest || !challenge || !secret) return;
    // Hashed as a stream, so a secret of any length is safe (no assembly buffer to overrun).
    Md5Context m;
    core_Md5Init(&m);
    core_Md5Update(&m, &identifier, 1);
    core_Md5Update(&m, secret, strlen(secret));
    core_Md5Update(&m, challenge, 16);
    core_Md5Final(&m, digest);
}
