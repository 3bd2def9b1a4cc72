// MD5 (RFC 1321) and the RFC 1994 CHAP response built on it.
#pragma once
#include <cstddef>
#include <cstdint>

// A running MD5: Init, then Update any number of times, then Final once.
struct Md5Context {
    uint32_t state[4];
    uint64_t bytes;  // total length so far
    uint8_t block[64];
};
void core_Md5Init(Md5Context* m);
void core_Md5Update(Md5Context* m, const void* data, size_t length);
// Writes the 16-byte digest; the context is spent afterwards.
void core_Md5Final(Md5Context* m, uint8_t* digest);

// MD5 of length bytes into digest (16 bytes). Does nothing when digest is null, or data is null
// with a non-zero length.
void core_Md5Buffer(uint8_t* digest, const void* data, size_t length);
// RFC 1994 CHAP response: MD5(identifier, secret without its NUL, 16 challenge bytes). Does
// nothing when an argument is null.
void utl_Md5ChapResponse(uint8_t* digest, const uint8_t* challenge, const char* secret,
                         uint8_t identifier);
