// The payload digest: XXH3-64 over the stored bytes before the end record, and its tagged form.
#include "core/payload_digest.h"

#define XXH_INLINE_ALL
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

static_assert(sizeof(XXH3_state_t) <= sizeof(PayloadDigest::state), "XXH3 state does not fit");
static_assert(alignof(XXH3_state_t) <= 64, "XXH3 state needs more alignment");

namespace {

XXH3_state_t* State(PayloadDigest* d) { return reinterpret_cast<XXH3_state_t*>(d->state); }

}  // namespace

void core_DigestBegin(PayloadDigest* d) { XXH3_64bits_reset(State(d)); }

void core_DigestUpdate(PayloadDigest* d, const void* data, size_t len)
{
    if (len) XXH3_64bits_update(State(d), data, len);
}

uint64_t core_DigestValue(PayloadDigest* d) { return XXH3_64bits_digest(State(d)); }

void core_EncodeEndData(uint8_t* out, uint64_t digest)
{
    out[0] = kDigestXxh3;
    out[1] = (uint8_t)kDigestXxh3Len;
    for (uint32_t i = 0; i < kDigestXxh3Len; ++i) out[2 + i] = (uint8_t)(digest >> (8 * (kDigestXxh3Len - 1 - i)));
}

int core_DecodeEndData(const uint8_t* data, uint32_t len, uint64_t* digest)
{
    // Exactly one entry of a known algorithm: a damaged id or length must not pass as "no
    // digest", so anything else counts as a mismatch for the caller.
    if (len != kEndDataLen || data[0] != kDigestXxh3 || data[1] != kDigestXxh3Len) return 0;
    uint64_t v = 0;
    for (uint32_t i = 0; i < kDigestXxh3Len; ++i) v = (v << 8) | data[2 + i];
    *digest = v;
    return 1;
}
