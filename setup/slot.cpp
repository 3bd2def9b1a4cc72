// The payload slot in this executable's image: empty as built, filled by vpack with the digest of
// the package it appends, and read from the image as the loader mapped it; with it, whether this
// image may install the package behind it.
#include <windows.h>

#include "base/text.h"
#include "core/image_slot.h"
#include "log/log.h"
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

namespace {

const char kTraceTag[] = "UtlFile";  // beside the package reader's digest lines

// Whether offset lies in the table of tableSize bytes at tableAt (no table: size 0).
bool Inside(DWORD offset, DWORD tableAt, DWORD tableSize)
{
    return tableSize != 0 && offset >= tableAt && offset - tableAt < tableSize;
}

}  // namespace

bool ReadOwnBinding(DWORD packageOffset, DigestValue* digest)
{
    char line[192];
    int slot = ReadOwnSlot(digest);
    if (slot <= 0) {
        // An empty slot (or one that is no slot) binds the image to nothing: behind a signed
        // image it would install whatever somebody put there.
        utl_WriteLog(kTraceTag, "UnpackAndSetup: this setup carries no payload digest: it installs no package.", 0);
        return false;
    }
    // The certificate table as the loader mapped the headers (they are the file's, checked at the
    // start): the signature covers everything but that table, so a package inside it is signed by
    // nobody, however its padding was grown to hold it.
    const BYTE* image = reinterpret_cast<const BYTE*>(GetModuleHandleA(NULL));
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    if (nt->OptionalHeader.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_SECURITY &&
        Inside(packageOffset, table.VirtualAddress, table.Size)) {
        utl_Format(line, sizeof line,
                   "UnpackAndSetup: the package at %u begins inside the certificate table (%u bytes at %u): it "
                   "is not part of the signed image.",
                   packageOffset, table.Size, table.VirtualAddress);
        utl_WriteLog(kTraceTag, line, 0);
        return false;
    }
    return true;
}
