// The byte-mixing transform through which every name, content and header byte of a package
// passes on its way in or out.
#pragma once
#include <cstdint>

// Mixes (or unmixes: the transform is its own inverse) len bytes in place: each byte is negated
// on its own. Returns len.
uint32_t core_MixBytes(uint8_t* buffer, uint32_t len);
// The same from in to out (len bytes each: the same bytes, or not overlapping at all).
void core_MixBytesInto(uint8_t* out, const uint8_t* in, uint32_t len);
