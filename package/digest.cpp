// The payload digest of a closed package: XXH3-64 over the stored bytes before the end record,
// and the tagged form in which the end record carries it.
#include "package/package.h"

#define XXH_INLINE_ALL
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

static_assert(sizeof(XXH3_state_t) <= sizeof(PayloadDigest::state), "XXH3 state does not fit");
static_assert(alignof(XXH3_state_t) <= 64, "XXH3 state needs more alignment");

namespace {

XXH3_state_t* State(PayloadDigest* d) { return reinterpret_cast<XXH3_state_t*>(d->state); }

}  // namespace

void utl_DigestBegin(PayloadDigest* d) { XXH3_64bits_reset(State(d)); }

void utl_DigestUpdate(PayloadDigest* d, const void* data, DWORD len)
{
    if (len) XXH3_64bits_update(State(d), data, len);
}

unsigned long long utl_DigestValue(PayloadDigest* d) { return XXH3_64bits_digest(State(d)); }

void utl_EncodeEndData(BYTE* out, unsigned long long digest)
{
    out[0] = kDigestXxh3;
    out[1] = (BYTE)kDigestXxh3Len;
    for (DWORD i = 0; i < kDigestXxh3Len; ++i) out[2 + i] = (BYTE)(digest >> (8 * (kDigestXxh3Len - 1 - i)));
}

int utl_DecodeEndData(const BYTE* data, DWORD len, unsigned long long* digest)
{
    // Exactly one entry of a known algorithm: a damaged id or length must not pass as "no
    // digest", so anything else counts as a mismatch for the caller.
    if (len != kEndDataLen || data[0] != kDigestXxh3 || data[1] != kDigestXxh3Len) return 0;
    unsigned long long v = 0;
    for (DWORD i = 0; i < kDigestXxh3Len; ++i) v = (v << 8) | data[2 + i];
    *digest = v;
    return 1;
}
