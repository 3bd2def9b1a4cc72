// The mixing transform on its way into and out of files.
#include "package/package.h"

#include <string.h>

DWORD MixBytes(BYTE* buffer, DWORD len) { return core_MixBytes(buffer, len); }

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

// The payload digest and the record-name rule are the core's; the library keeps its own names
// and integer types for them.

void utl_DigestBegin(PayloadDigest* d) { core_DigestBegin(d); }

void utl_DigestUpdate(PayloadDigest* d, const void* data, DWORD len) { core_DigestUpdate(d, data, len); }

int utl_DigestValue(const PayloadDigest* d, BYTE algorithm, DigestValue* out)
{
    return core_DigestValue(d, algorithm, out);
}

DWORD utl_EncodeEndData(BYTE* out, const DigestValue* digest) { return core_EncodeEndData(out, digest); }

int utl_DecodeEndData(const BYTE* data, DWORD len, DigestValue* digest) { return core_DecodeEndData(data, len, digest); }

int utl_IsSafeRecordName(const char* name, DWORD len, int (*isLeadByte)(BYTE))
{
    return core_IsSafeRecordName(name, len, isLeadByte);
}

DWORD utl_EncodeEndRecord(BYTE* out, const DigestValue* digest) { return core_EncodeEndRecord(out, digest); }
