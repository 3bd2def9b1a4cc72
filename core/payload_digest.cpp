// The payload digest: BLAKE3-256 (and XXH3-64 for older packages) over the stored bytes before
// the end record, and its tagged form.
#include "core/payload_digest.h"

#include <cstring>

#include <blake3.h>
#define XXH_INLINE_ALL
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

static_assert(sizeof(XXH3_state_t) <= sizeof(PayloadDigest::xxh3), "XXH3 state does not fit");
static_assert(alignof(XXH3_state_t) <= 64, "XXH3 state needs more alignment");
static_assert(sizeof(blake3_hasher) <= sizeof(PayloadDigest::blake3), "BLAKE3 state does not fit");
static_assert(alignof(blake3_hasher) <= 8, "BLAKE3 state needs more alignment");
static_assert(BLAKE3_OUT_LEN == kDigestBlake3Len, "BLAKE3 gives 32 bytes");

namespace {

XXH3_state_t* Xxh3(PayloadDigest* d) { return reinterpret_cast<XXH3_state_t*>(d->xxh3); }
const XXH3_state_t* Xxh3(const PayloadDigest* d) { return reinterpret_cast<const XXH3_state_t*>(d->xxh3); }
blake3_hasher* Blake3(PayloadDigest* d) { return reinterpret_cast<blake3_hasher*>(d->blake3); }
const blake3_hasher* Blake3(const PayloadDigest* d) { return reinterpret_cast<const blake3_hasher*>(d->blake3); }

bool Runs(const PayloadDigest* d, uint8_t algorithm) { return algorithm < 8 && (d->running >> algorithm) & 1; }

uint32_t LengthOf(uint8_t algorithm)
{
    return algorithm == kDigestBlake3 ? kDigestBlake3Len : algorithm == kDigestXxh3 ? kDigestXxh3Len : 0;
}

}  // namespace

void core_DigestBegin(PayloadDigest* d, uint8_t algorithm)
{
    d->running = algorithm ? (uint8_t)(1u << algorithm) : (uint8_t)((1u << kDigestXxh3) | (1u << kDigestBlake3));
    if (Runs(d, kDigestXxh3)) XXH3_64bits_reset(Xxh3(d));
    if (Runs(d, kDigestBlake3)) blake3_hasher_init(Blake3(d));
}

void core_DigestUpdate(PayloadDigest* d, const void* data, size_t len)
{
    if (!len) return;
    if (Runs(d, kDigestBlake3)) blake3_hasher_update(Blake3(d), data, len);
    if (Runs(d, kDigestXxh3)) XXH3_64bits_update(Xxh3(d), data, len);
}

uint64_t core_DigestXxh3(const PayloadDigest* d) { return Runs(d, kDigestXxh3) ? XXH3_64bits_digest(Xxh3(d)) : 0; }

int core_DigestValue(const PayloadDigest* d, uint8_t algorithm, DigestValue* out)
{
    std::memset(out, 0, sizeof *out);
    if (!LengthOf(algorithm) || !Runs(d, algorithm)) return 0;
    out->algorithm = algorithm;
    out->len = (uint8_t)LengthOf(algorithm);
    if (algorithm == kDigestBlake3) {
        blake3_hasher_finalize(Blake3(d), out->bytes, kDigestBlake3Len);  // leaves the state as it was
    } else {
        uint64_t v = core_DigestXxh3(d);
        for (uint32_t i = 0; i < kDigestXxh3Len; ++i) out->bytes[i] = (uint8_t)(v >> (8 * (kDigestXxh3Len - 1 - i)));
    }
    return 1;
}

const char* core_DigestName(uint8_t algorithm)
{
    return algorithm == kDigestBlake3 ? "BLAKE3" : algorithm == kDigestXxh3 ? "XXH3-64" : "none";
}

void core_DigestHex(const DigestValue* v, char* out)
{
    static const char kHex[] = "0123456789abcdef";
    uint32_t n = v->len <= kDigestMaxLen ? v->len : 0;
    for (uint32_t i = 0; i < n; ++i) {
        out[2 * i] = kHex[v->bytes[i] >> 4];
        out[2 * i + 1] = kHex[v->bytes[i] & 15];
    }
    out[2 * n] = '\0';
}

int core_DigestEqual(const DigestValue* a, const DigestValue* b)
{
    return a->algorithm != 0 && a->algorithm == b->algorithm && a->len == b->len && a->len <= kDigestMaxLen &&
                   std::memcmp(a->bytes, b->bytes, a->len) == 0
               ? 1
               : 0;
}

uint32_t core_EncodeEndData(uint8_t* out, const DigestValue* v)
{
    out[0] = v->algorithm;
    out[1] = v->len;
    std::memcpy(out + 2, v->bytes, v->len);
    return 2u + v->len;
}

int core_DecodeEndData(const uint8_t* data, uint32_t len, DigestValue* v)
{
    // Exactly one entry of a known algorithm: a damaged id or length must not pass as "no
    // digest", so anything else counts as a mismatch for the caller.
    if (len < 2 || !LengthOf(data[0]) || data[1] != LengthOf(data[0]) || len != 2u + data[1]) return 0;
    std::memset(v, 0, sizeof *v);
    v->algorithm = data[0];
    v->len = data[1];
    std::memcpy(v->bytes, data + 2, v->len);
    return 1;
}
