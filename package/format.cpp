// The package's fixed texts and the byte-mixing transform through which every name, content
// and header byte passes on its way into or out of a package.
#include "package/package.h"

#include <string.h>

const char kPackageMagic[] = "^-=Vemlo=-^ Reed ";
const char kPackageEndName[] = "^Vemlo_end^";

DWORD MixBytes(BYTE* buffer, DWORD len)
{
    // Sixteen bytes at a time where the compiler has vector types (one packed negation on SSE2),
    // then byte by byte. Each byte is negated on its own either way.
    DWORD i = 0;
#if defined(__GNUC__)
    typedef unsigned char Block __attribute__((vector_size(16)));
    for (; len - i >= sizeof(Block); i += sizeof(Block)) {
        Block b;
        memcpy(&b, buffer + i, sizeof b);
        b = -b;
        memcpy(buffer + i, &b, sizeof b);
    }
#endif
    for (; i < len; ++i) buffer[i] = (BYTE)(0u - buffer[i]);
    return len;
}

int MixAndWrite(HANDLE file, BYTE* buffer, DWORD len)
{
    MixBytes(buffer, len);
    DWORD written = 0;
    if (!WriteFile(file, buffer, len, &written, NULL)) return 0;
    // A write that reports success but stores fewer bytes would leave a record shorter than its
    // recorded length, so it counts as a failure.
    return written == len ? 1 : 0;
}

int ReadAndUnmix(HANDLE file, BYTE* buffer, DWORD len)
{
    DWORD got = 0;
    if (!ReadFile(file, buffer, len, &got, NULL) || got != len) return 0;
    MixBytes(buffer, len);
    return 1;
}
