// The package writer: adds one file as a record to a new or an existing package.
#include "package/writer.h"

#include <string.h>

#include "base/files.h"
#include "base/handles.h"
#include "base/text.h"
#include "log/log.h"
#include "package/package.h"

DWORD PackCopyContent(HANDLE src, HANDLE pkg, DWORD size, BYTE* buf, DWORD bufSize,
                      DWORD* readError, DWORD* writeError)
{
    DWORD copied = 0, got = 0;
    while (copied < size) {
        DWORD want = size - copied < bufSize ? size - copied : bufSize;
        if (!ReadFile(src, buf, want, &got, NULL) || got == 0) {
            // Failed, or the source ended early: the record would be shorter than its D.
            *readError = GetLastError();
            return 166;
        }
        if (!MixAndWrite(pkg, buf, got)) {
            *writeError = GetLastError();
            return 157;
        }
        copied += got;
    }
    // D came from the size query before the copy; a source that has grown since is not what
    // was measured, so it is refused as well.
    BOOL ok = ReadFile(src, buf, 1, &got, NULL);
    *readError = GetLastError();
    return (ok && got == 0) ? 0 : 166;
}

namespace {

const char kModule[] = "UtlPack";
const char kPrefix[] = "utl_FilePack: ";

void Trace(const char* fmt, const char* s, DWORD a = 0, DWORD b = 0)
{
    utl_LogLine(kModule, kPrefix, fmt, s, a, b);
}

void TraceCode(const char* text, DWORD code)
{
    utl_LogLine(kModule, kPrefix, "%s%d", text, code);
}

int WriteAll(HANDLE file, const BYTE* bytes, DWORD len)
{
    DWORD written = 0;
    return WriteFile(file, bytes, len, &written, NULL) && written == len;
}

// The open package of one call: on failure it is cut back to the length it had when opened.
struct PackageFile {
    FileHandle file;
    LARGE_INTEGER start;
    bool keep = false;
    ~PackageFile()
    {
        if (keep || !file.Valid()) return;
        if (SetFilePointerEx(file.Get(), start, NULL, FILE_BEGIN)) SetEndOfFile(file.Get());
    }
};

// True when both paths name one existing file (whatever the spelling): replacing the package
// would then delete the very file that was to be packed.
bool SameFile(const char* a, const char* b)
{
    FileHandle fa(CreateFileA(a, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL));
    FileHandle fb(CreateFileA(b, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL));
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!fa.Valid() || !fb.Valid() || !GetFileInformationByHandle(fa.Get(), &ia) ||
        !GetFileInformationByHandle(fb.Get(), &ib))
        return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

DWORD SeeEnd(void* ctx, const PackRecord* record)
{
    if (record->isEnd) *static_cast<int*>(ctx) = 1;
    return 0;
}

// 1 when the package in file (open, readable) already ends with an end record; whether it is
// sound otherwise is left to its readers.
int IsClosed(HANDLE file)
{
    int closed = 0;
    PackVisitor v = {};
    v.begin = SeeEnd;
    v.ctx = &closed;
    DWORD err = 0;
    utl_WalkPackageFile(file, 0, &v, &err);
    return closed;
}

}  // namespace

int utl_FilePack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                 const char* pszDstFile, DWORD* error, int bAdd)
{
    if (!error) return 0;
    LogSession session;  // the trace's day files stay open for the call
    if (!pszSrcPath || !pszSrcFile || !pszDstPath || !pszDstFile) return (*error = 150), 0;
    {
        char line[1024];
        utl_Format(line, sizeof line, "%spszSrcPath = %s pszSrcFile = %s pszDstPath = %s pszDstFile = %s",
                   kPrefix, pszSrcPath, pszSrcFile, pszDstPath, pszDstFile);
        utl_WriteLog(kModule, line, 0);
    }
    char srcAbsFile[MAX_PATH], dstAbsFile[MAX_PATH];
    if (strlen(pszSrcPath) + strlen(pszSrcFile) >= MAX_PATH ||
        strlen(pszDstPath) + strlen(pszDstFile) >= MAX_PATH ||
        !utl_JoinPath(srcAbsFile, sizeof srcAbsFile, pszSrcPath, pszSrcFile) ||
        !utl_JoinPath(dstAbsFile, sizeof dstAbsFile, pszDstPath, pszDstFile))
        return (*error = 151), 0;
    {
        char line[1024];
        utl_Format(line, sizeof line, "%sszSrcAbsFile = %s szDstAbsFile = %s", kPrefix, srcAbsFile,
                   dstAbsFile);
        utl_WriteLog("UtlFile", line, 0);
    }
    if (!utl_FileExists(srcAbsFile)) return (*error = 152), 0;
    if (utl_FileExists(dstAbsFile)) {
        // A source that is the package itself can be neither read while written nor kept
        // when the package is replaced: refused before anything is deleted.
        if (SameFile(srcAbsFile, dstAbsFile)) return (*error = 156), 0;
        if (!bAdd && !utl_DeleteFile(dstAbsFile)) return (*error = 154), 0;
    } else if (bAdd) {
        return (*error = 153), 0;
    }

    DWORD sizeHigh = 0, sizeLow = 0;
    int sized = utl_GetFileSize(srcAbsFile, &sizeHigh, &sizeLow);
    Trace("%s dwSizeHigh = %d dwSizeLow = %d", srcAbsFile, sizeHigh, sizeLow);
    if (!sized || sizeHigh != 0) return (*error = 155), 0;
    const DWORD dataLen = sizeLow;

    FileHandle src(utl_OpenFileForRead(srcAbsFile));
    if (!src.Valid()) {
        TraceCode("utl_OpenFileForRead failed with err ", GetLastError());
        return (*error = 156), 0;
    }
    PackageFile pkg;
    pkg.file.Reset(utl_NewOrOpenFileForWrite(dstAbsFile));
    if (!pkg.file.Valid()) {
        TraceCode("utl_NewOrOpenFileForWrite failed with err ", GetLastError());
        return (*error = 156), 0;
    }
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (bAdd && IsClosed(pkg.file.Get())) {
        pkg.keep = true;
        Trace("%s the package is closed: records after its end record would never be read.", dstAbsFile);
        return (*error = kErrPackageClosed), 0;
    }
    if (!SetFilePointerEx(pkg.file.Get(), zero, &pkg.start, FILE_END)) {
        pkg.keep = true;  // position unknown: nothing written, nothing to cut
        return (*error = 157), 0;
    }

    BYTE buffer[kPackagePiece];
    if (!bAdd) {
        Trace("%s !bAdd.", srcAbsFile);
        memcpy(buffer, kPackageMagic, kPackageMagicLen);  // mixed in place: never the constant
        if (!MixAndWrite(pkg.file.Get(), buffer, kPackageMagicLen)) return (*error = 157), 0;
    }
    const DWORD nameLen = (DWORD)strlen(pszSrcFile);  // < 260 after the length check
    // N, D and the mixed name as the core lays them out, written field by field for the trace.
    core_EncodeRecordHead(buffer, pszSrcFile, nameLen, dataLen);
    Trace("%s dwLenSrcFile = %d sizeof(DWORD) = %d", srcAbsFile, nameLen, (DWORD)sizeof(DWORD));
    if (!WriteAll(pkg.file.Get(), buffer, 4)) {
        TraceCode("WriteFile 1 failed with err ", GetLastError());
        return (*error = 157), 0;
    }
    Trace("%s dwSizeLow = %d sizeof(DWORD) = %d", srcAbsFile, dataLen, (DWORD)sizeof(DWORD));
    if (!WriteAll(pkg.file.Get(), buffer + 4, 4)) {
        TraceCode("WriteFile 2 failed with err ", GetLastError());
        return (*error = 157), 0;
    }
    if (!WriteAll(pkg.file.Get(), buffer + 8, nameLen)) {
        TraceCode("MixAndWrite 1 failed with err ", GetLastError());
        return (*error = 157), 0;
    }

    DWORD readError = 0, writeError = 0;
    DWORD code = PackCopyContent(src.Get(), pkg.file.Get(), dataLen, buffer, sizeof buffer, &readError,
                                 &writeError);
    if (code == 157) {
        TraceCode("MixAndWrite 2 failed with err ", writeError);
        return (*error = 157), 0;
    }
    if (code != 0) {
        char line[256];
        utl_Format(line, sizeof line, "%ssource does not hold dwSizeLow = %d bytes, err %d", kPrefix,
                   dataLen, readError);
        utl_WriteLog(kModule, line, 0);
        return (*error = code), 0;
    }
    TraceCode("ReadFile failed with err ", readError);
    pkg.keep = true;
    *error = readError;
    return 1;
}

int utl_ClosePackage(const char* pszDstPath, const char* pszDstFile, DWORD* error)
{
    if (!error) return 0;
    if (!pszDstPath || !pszDstFile) return (*error = 150), 0;
    char dstAbsFile[MAX_PATH];
    if (!utl_JoinPath(dstAbsFile, sizeof dstAbsFile, pszDstPath, pszDstFile)) return (*error = 151), 0;
    if (!utl_FileExists(dstAbsFile)) return (*error = 152), 0;
    // Nobody else writes while the digest is taken and the end record appended.
    PackageFile pkg;
    pkg.file.Reset(CreateFileA(dstAbsFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL));
    if (!pkg.file.Valid()) return (*error = 156), 0;
    pkg.keep = true;

    int closed = 0;
    PackDigestCheck check = {};
    PackVisitor v = {};
    v.begin = SeeEnd;
    v.ctx = &closed;
    v.pieceSize = kUnpackPiece;
    v.digest = &check;
    DWORD code = 0;
    if (!utl_WalkPackageFile(pkg.file.Get(), 0, &v, &code)) return (*error = code), 0;
    if (closed) return (*error = kErrPackageClosed), 0;

    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(pkg.file.Get(), zero, &pkg.start, FILE_END)) return (*error = 157), 0;
    pkg.keep = false;  // from here on a failure cuts the package back
    BYTE record[kEndRecordLen];
    DWORD len = utl_EncodeEndRecord(record, &check.blake3);
    DWORD written = 0;
    if (!WriteFile(pkg.file.Get(), record, len, &written, NULL) || written != len) return (*error = 157), 0;
    pkg.keep = true;
    char hex[2 * kDigestMaxLen + 1], line[MAX_PATH + 128];
    core_DigestHex(&check.blake3, hex);
    utl_Format(line, sizeof line, "utl_ClosePackage: %s payload digest BLAKE3 %s", dstAbsFile, hex);
    utl_WriteLog(kModule, line, 0);
    return 1;
}
