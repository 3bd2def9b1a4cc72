// The payload slot in this executable's image: empty as built, filled by vpack with the digest of
// the package it appends, and read from the image as the loader mapped it.
#include "core/image_slot.h"
#include "setup/setup.h"

// In a section of its own, so that vpack finds it in the file through the section table. const
// volatile: the compiler must read what the loader mapped, never fold in the empty value it was
// built with.
extern "C" __attribute__((section(".vslot"), used)) const volatile uint8_t vemloPayloadSlot[kSlotLen] = {
    'V', 'e', 'm', 'l', 'o', 'S', 'l', 't', kSlotVersion, kDigestBlake3, 0, (uint8_t)kDigestBlake3Len,
};

int ReadOwnSlot(DigestValue* digest)
{
    uint8_t slot[kSlotLen];
    for (uint32_t i = 0; i < kSlotLen; ++i) slot[i] = vemloPayloadSlot[i];
    return core_ReadSlot(slot, digest);
}
