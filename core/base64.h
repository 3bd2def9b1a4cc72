// Base64 (RFC 4648, standard alphabet, "=" padding, no line breaks).
#pragma once
#include <cstdint>

// RFC 4648 Base64 of n bytes, NUL-terminated, no line breaks: out must hold 4 * ceil(n / 3) + 1
// bytes. n <= 0 gives the empty text. Always 0.
int Base64Encode(const uint8_t* in, char* out, int n);
// Decodes a NUL-terminated text whose length is a multiple of 4 into out, followed by a NUL;
// out must hold 3 * (strlen(text) / 4) + 1 bytes. Stores the decoded length in *outLen when
// outLen is not null. Returns 0, or -1 for a text that is not valid Base64 (out may then hold
// partial data). Padding "=" may stand only at the end: "xx==" or "xxx=".
int Base64Decode(const char* text, uint8_t* out, int* outLen);
