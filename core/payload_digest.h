// The payload digest of a closed package and the tagged form in which its end record carries it.
#pragma once
#include <cstddef>
#include <cstdint>

// The end record's content (mixed, like every content) carries a tagged digest of the package
// bytes before the end record, as they lie in the file:
//   byte 0      algorithm id (kDigestXxh3 = 1: XXH3-64, seed 0)
//   byte 1      length L of the value (8 for XXH3-64)
//   bytes 2..   the value, most significant byte first (the hex that xxhsum -H3 prints)
// The digest finds damage, not tampering: that is what the signature over the whole file is for.
const uint8_t kDigestXxh3 = 1;
const uint32_t kDigestXxh3Len = 8;
const uint32_t kEndDataLen = 2 + kDigestXxh3Len;  // what the writer puts into the end record
const uint32_t kEndDataMax = 64;                  // an end record carrying more is not ours

// A running XXH3-64 over package bytes (kept opaque: the hash library's header stays private).
struct PayloadDigest {
    alignas(64) uint8_t state[640];
};
void core_DigestBegin(PayloadDigest* d);
void core_DigestUpdate(PayloadDigest* d, const void* data, size_t len);
uint64_t core_DigestValue(PayloadDigest* d);

// The end record's content for a digest value: kEndDataLen plain bytes into out.
void core_EncodeEndData(uint8_t* out, uint64_t digest);
// Reads an end record's plain content: 1 with *digest set when it is one XXH3-64 entry; 0 when
// it holds anything else (then *digest is untouched).
int core_DecodeEndData(const uint8_t* data, uint32_t len, uint64_t* digest);
