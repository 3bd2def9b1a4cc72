// The slot in the setup stub's image that binds a setup to its package: its layout, and how a
// tool finds and fills it in the stub's file.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/payload_digest.h"

// The stub carries the slot as initialised data in a PE section of its own (kSlotSection), so the
// loader maps it with the image and the Authenticode signature covers it. As built it is empty;
// vpack fills it with the BLAKE3-256 of the package it appends (the bytes the end record's digest
// covers) before the setup is signed. Layout, kSlotLen bytes:
//   0..7    kSlotMagic "VemloSlt"
//   8       version, 1
//   9       algorithm, kDigestBlake3
//   10      1 when filled, 0 when empty
//   11      the value's length, 32
//   12..43  the value (zeros when empty)
//   44..47  zeros
const uint32_t kSlotLen = 48;
extern const char kSlotSection[];  // ".vslot" (at most 8 characters: a PE section name)
extern const char kSlotMagic[];    // "VemloSlt", 8 bytes
const uint8_t kSlotVersion = 1;

// The empty slot as the stub is built with it: kSlotLen bytes into out.
void core_EmptySlot(uint8_t* out);

// What a slot's kSlotLen bytes say. 1 with *digest set when it is filled; 0 when it is empty
// (the setup takes any sound package); -1 when the bytes are no slot of this layout.
int core_ReadSlot(const uint8_t* slot, DigestValue* digest);

// The Machine field of a PE image's file header ("MZ", the NT headers' offset at 0x3C, "PE\0\0"
// and the whole file header within len): 0x14c for x86, 0x8664 for x64; 0 when the bytes are no
// PE image.
uint32_t core_ImageMachine(const uint8_t* image, size_t len);
// Finds the slot in the file bytes of a PE image (a bare stub): through the section table to the
// section named kSlotSection, whose file data must hold a slot. 1 with *offset set (the slot's
// file offset); 0 when the bytes are no PE image or it has no such section (a stub built
// before the slot, or some other program); -1 (*offset untouched) when the section table or the
// section is out of the image's bytes, or the section holds no slot of this layout.
int core_FindImageSlot(const uint8_t* image, size_t len, uint32_t* offset);

// Fills the slot of the stub image (found as core_FindImageSlot finds it) with a BLAKE3 digest,
// in place. 1 filled; 0 the image has no slot (left unchanged); -1 malformed, or a digest that is
// not BLAKE3-256 (left unchanged).
int core_FillImageSlot(uint8_t* image, size_t len, const DigestValue* digest);
