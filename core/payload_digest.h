// The payload digest of a closed package and the tagged form in which its end record carries it.
#pragma once
#include <cstddef>
#include <cstdint>

// The end record's content (mixed, like every content) carries a tagged digest of the package
// bytes before the end record, as they lie in the file:
//   byte 0      algorithm id: kDigestBlake3 = 2 (BLAKE3-256, what the writers put there), or
//               kDigestXxh3 = 1 (XXH3-64 seed 0, what older writers put there; still read)
//   byte 1      length L of the value (32 for BLAKE3, 8 for XXH3-64)
//   bytes 2..   the value, as b3sum / xxhsum -H3 print it (XXH3-64 most significant byte first)
// The end record alone finds damage, not tampering: anybody can compute it for bytes of their
// own. A setup binds its package through the digest in its signed image (core/image_slot.h).
const uint8_t kDigestXxh3 = 1;
const uint32_t kDigestXxh3Len = 8;
const uint8_t kDigestBlake3 = 2;
const uint32_t kDigestBlake3Len = 32;
const uint32_t kDigestMaxLen = 32;
const uint32_t kEndDataLen = 2 + kDigestBlake3Len;  // what the writers put into the end record
const uint32_t kEndDataMax = 64;                    // an end record carrying more is not ours

// One digest value and its algorithm (algorithm 0: none).
struct DigestValue {
    uint8_t algorithm;
    uint8_t len;
    uint8_t bytes[kDigestMaxLen];
};

// Running digests over package bytes: BLAKE3-256 and XXH3-64, or only one of them (kept opaque:
// the hash libraries' headers stay private).
struct PayloadDigest {
    alignas(64) uint8_t xxh3[640];
    alignas(8) uint8_t blake3[1920];
    uint8_t running;  // bit (1 << algorithm) for each algorithm that runs
};
// Starts the digests: only algorithm when it is non-zero, else every one the reader knows.
void core_DigestBegin(PayloadDigest* d, uint8_t algorithm = 0);
void core_DigestUpdate(PayloadDigest* d, const void* data, size_t len);
// The value of algorithm over what was fed so far (the digest goes on running). 1, or 0 when
// that algorithm does not run (then *out says algorithm 0).
int core_DigestValue(const PayloadDigest* d, uint8_t algorithm, DigestValue* out);
// The XXH3-64 value as a number (0 when it does not run).
uint64_t core_DigestXxh3(const PayloadDigest* d);

// "BLAKE3", "XXH3-64" (or "none").
const char* core_DigestName(uint8_t algorithm);
// The value in lower-case hex, as b3sum and xxhsum print it: 2 * len characters and a NUL into
// out (at least 2 * kDigestMaxLen + 1 bytes).
void core_DigestHex(const DigestValue* v, char* out);
// 1 when both name the same algorithm and value.
int core_DigestEqual(const DigestValue* a, const DigestValue* b);

// The end record's content for a digest value: 2 + v->len plain bytes into out (kEndDataLen for
// BLAKE3); returns that count.
uint32_t core_EncodeEndData(uint8_t* out, const DigestValue* v);
// Reads an end record's plain content: 1 with *v set when it is one entry of a known algorithm
// with its length; 0 when it holds anything else (then *v is untouched).
int core_DecodeEndData(const uint8_t* data, uint32_t len, DigestValue* v);
