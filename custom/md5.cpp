// MD5 of a buffer and of a file (the hash itself is the core's).
#include "custom/custom.h"

#include "base/files.h"
#include "base/handles.h"

void utl_Md5Buffer(unsigned char* digest, const void* data, DWORD length)
{
    core_Md5Buffer(digest, data, length);
}

int utl_Md5File(unsigned char* digest, DWORD capacity, const char* path)
{
    if (!digest || !path || capacity < 16 || !utl_FileExists(path)) return 0;
    const DWORD kChunk = 2048;
    HeapBlock chunk(HeapAlloc(GetProcessHeap(), 0, kChunk));
    if (!chunk.Valid()) return 0;
    FileHandle file(utl_OpenFileForRead(path));
    if (!file.Valid()) return 0;
    LARGE_INTEGER size;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(file.Get(), zero, &size, FILE_END) || !SetFilePointerEx(file.Get(), zero, NULL, FILE_BEGIN))
        return 0;

    Md5Context m;
    core_Md5Init(&m);
    unsigned long long left = (unsigned long long)size.QuadPart;
    while (left > 0) {
        DWORD want = left < kChunk ? (DWORD)left : kChunk, got = 0;
        // A file that ends early (it shrank while we read) is a failure, not a shorter digest.
        if (!ReadFile(file.Get(), chunk.Get(), want, &got, NULL) || got == 0) return 0;
        core_Md5Update(&m, chunk.Get(), got);
        left -= got;
    }
    core_Md5Final(&m, digest);
    return 1;
}
