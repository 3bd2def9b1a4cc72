// This executable's own file: opened at start-up and held, so that the package is read from the
// very file that was started, whatever its name shows later.
#include <windows.h>
#include <stddef.h>
#include <string.h>

#include "base/handles.h"
#include "setup/setup.h"

namespace {

// The loader may write the address it chose into the mapped headers; that field is left out.
void MaskImageBase(BYTE* headers, DWORD len, LONG ntOffset)
{
    const size_t at = (size_t)ntOffset + offsetof(IMAGE_NT_HEADERS, OptionalHeader.ImageBase);
    if (ntOffset > 0 && at + sizeof(((IMAGE_OPTIONAL_HEADER*)0)->ImageBase) <= len)
        memset(headers + at, 0, sizeof(((IMAGE_OPTIONAL_HEADER*)0)->ImageBase));
}

}  // namespace

int IsLoadedImage(HANDLE file, HMODULE module)
{
    const BYTE* image = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    if (!image || dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 || dos->e_lfanew > 1024) return 0;
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return 0;
    BYTE mapped[4096], stored[4096];
    DWORD len = nt->OptionalHeader.SizeOfHeaders < sizeof mapped ? nt->OptionalHeader.SizeOfHeaders : sizeof mapped;
    if (len < (DWORD)dos->e_lfanew + sizeof(IMAGE_NT_HEADERS)) return 0;
    memcpy(mapped, image, len);

    OVERLAPPED at;
    ZeroMemory(&at, sizeof at);  // offset 0, whatever the file position is
    DWORD got = 0;
    if (!ReadFile(file, stored, len, &got, &at) || got != len) return 0;
    MaskImageBase(mapped, len, dos->e_lfanew);
    MaskImageBase(stored, len, dos->e_lfanew);
    return memcmp(mapped, stored, len) == 0 ? 1 : 0;
}

HANDLE OpenOwnImage(char* path, DWORD size)
{
    if (!path || size == 0) return INVALID_HANDLE_VALUE;
    ZeroMemory(path, size);
    DWORD n = GetModuleFileNameA(NULL, path, size);
    if (n == 0 || n >= size) {
        path[0] = '\0';  // a cut path names some other file
        return INVALID_HANDLE_VALUE;
    }
    // Shared for reading only: while it is held, nobody can write, rename or delete the file.
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                NULL));
    if (!file.Valid() || !IsLoadedImage(file.Get(), GetModuleHandleA(NULL))) return INVALID_HANDLE_VALUE;
    return file.Release();
}
