// The package reader: walks the records of a package (shared by the unpacker and the tools that
// only list) and unpacks them into a destination folder, with the numbered trace of every step.
#include "package/package.h"

#include <string.h>

#include "log/handles.h"
#include "log/log.h"

namespace {

const char kModule[] = "UtlFile";
const char kPrefix[] = "utl_FileUnpack: ";

// One trace line: the prefix and the formatted text (nothing when tracing is off).
void Trace(int on, const char* fmt, DWORD a = 0, DWORD b = 0, DWORD c = 0)
{
    if (!on) return;
    char line[1024];
    int n = utl_Format(line, sizeof line, "%s", kPrefix);
    utl_Format(line + n, sizeof line - n, fmt, a, b, c);
    utl_WriteLog(kModule, line, 0);
}

void TraceText(int on, const char* label, const char* text)
{
    if (!on) return;
    char line[1024];
    utl_Format(line, sizeof line, "%s%s%s", kPrefix, label, text);
    utl_WriteLog(kModule, line, 0);
}

DWORD Fail(DWORD* error, DWORD code)
{
    *error = code;
    return 0;
}

// Reads one plain little-endian length field. Returns the bytes read, or -1 when the read failed.
int ReadLength(HANDLE file, DWORD* value)
{
    BYTE raw[4];
    DWORD got = 0;
    if (!ReadFile(file, raw, sizeof raw, &got, NULL)) return -1;
    *value = (DWORD)raw[0] | ((DWORD)raw[1] << 8) | ((DWORD)raw[2] << 16) | ((DWORD)raw[3] << 24);
    return (int)got;
}

int AcpLeadByte(BYTE b) { return IsDBCSLeadByte(b) ? 1 : 0; }

}  // namespace

int utl_WalkPackage(const char* srcAbsFile, DWORD dwOffset, const PackVisitor* v, DWORD* error)
{
    const int tr = v->trace;
    DWORD sizeHigh = 0, sizeLow = 0;
    int sized = utl_GetFileSize(srcAbsFile, &sizeHigh, &sizeLow);
    Trace(tr, "dwSizeHigh = %d dwSizeLow = %d", sizeHigh, sizeLow);
    if (!sized || sizeHigh != 0 || dwOffset >= sizeLow) return Fail(error, 155);
    const DWORD packageLen = sizeLow - dwOffset;
    Trace(tr, "dwSizeLow = dwSizeLow - dwOffset= %d", packageLen);

    FileHandle src(utl_OpenFileForRead(srcAbsFile));
    if (!src.Valid()) return Fail(error, 156);
    // As an unsigned 64-bit distance: an offset of 2 GiB or more is no backward move.
    LARGE_INTEGER start;
    start.QuadPart = (LONGLONG)dwOffset;
    if (!SetFilePointerEx(src.Get(), start, NULL, FILE_BEGIN)) return Fail(error, 159);

    BYTE buffer[kPackagePiece];
    BYTE* content = buffer;
    DWORD pieceSize = kPackagePiece;
    HeapBlock large;
    if (v->pieceSize > kPackagePiece) {
        large.Reset(HeapAlloc(GetProcessHeap(), 0, v->pieceSize));
        if (large.Valid()) {
            content = static_cast<BYTE*>(large.Get());
            pieceSize = v->pieceSize;
        }
    }
    if (!ReadAndUnmix(src.Get(), buffer, kPackageMagicLen)) return Fail(error, 159);
    if (memcmp(buffer, kPackageMagic, kPackageMagicLen) != 0) return Fail(error, 160);

    DWORD total = kPackageMagicLen;  // dwCurTotalLen
    Trace(tr, "dwCurTotalLen = %d", total);
    DWORD index = 0;
    while (total < packageLen) {
        ++index;
        Trace(tr, "unpack time = %d", index);

        DWORD nameLen = 0, dataLen = 0;
        int got = ReadLength(src.Get(), &nameLen);
        if (got < 0) {
            Trace(tr, "ReadFile failed with err. %d", GetLastError());
            return Fail(error, 161);
        }
        Trace(tr, "dwBufDataLen = %d dwCurFileNameLen = %d sizeof(DWORD) = %d", (DWORD)got, nameLen,
              (DWORD)sizeof(DWORD));
        // v->dstLen < 260, nameLen <= 64: the sum cannot wrap.
        if (got < 4 || nameLen > kPackageMaxNameLen || nameLen + v->dstLen >= MAX_PATH)
            return Fail(error, 161);
        if (ReadLength(src.Get(), &dataLen) != 4) return Fail(error, 162);

        // Summed in 64 bits: a corrupt data length near 2^32 must not wrap round to a small total.
        unsigned long long next = (unsigned long long)total + 8u + nameLen + dataLen;
        Trace(tr, "dwCurTotalLen = %d", (DWORD)next);
        if (next > packageLen) return Fail(error, 163);
        total = (DWORD)next;

        if (!ReadAndUnmix(src.Get(), buffer, nameLen)) return Fail(error, 164);
        buffer[nameLen] = '\0';
        PackRecord record;
        record.index = index;
        record.nameLen = nameLen;
        record.dataLen = dataLen;
        record.name = reinterpret_cast<const char*>(buffer);
        record.isEnd = nameLen == kPackageEndNameLen && memcmp(buffer, kPackageEndName, nameLen) == 0;
        // Checked before anything is opened: a name must never reach outside the destination.
        if (!record.isEnd && !utl_IsSafeRecordName(record.name, nameLen, AcpLeadByte))
            return Fail(error, 165);
        if (v->begin) {
            DWORD code = v->begin(v->ctx, &record);
            if (code) return Fail(error, code);
        }
        if (record.isEnd) {
            Trace(tr, "The file is end.");
            return 1;
        }

        // The name is no longer needed: the buffer now carries the content piece by piece.
        DWORD copied = 0;
        while (copied < dataLen) {
            DWORD piece = dataLen - copied < pieceSize ? dataLen - copied : pieceSize;
            if (!ReadAndUnmix(src.Get(), content, piece)) return Fail(error, 166);
            if (v->piece) {
                DWORD code = v->piece(v->ctx, content, piece);
                if (code) return Fail(error, code);
            }
            copied += piece;
        }
        if (v->finish) v->finish(v->ctx);
    }
    return 1;
}

namespace {

// The unpacker's visitor: one destination file at a time.
struct UnpackTarget {
    const char* dstPath;
    FileHandle file;
};

DWORD UnpackBegin(void* ctx, const PackRecord* record)
{
    UnpackTarget* t = static_cast<UnpackTarget*>(ctx);
    char dstAbsFile[MAX_PATH];
    // N + the folder's length may be 259, one more than a joined path holds.
    if (!utl_JoinPath(dstAbsFile, sizeof dstAbsFile, t->dstPath, record->name)) return 165;
    t->file.Reset(utl_NewOrOpenFileForWrite(dstAbsFile));
    TraceText(1, "szDstAbsFile = ", dstAbsFile);
    if (record->isEnd) {
        t->file.Close();  // left as it was: empty when new, unchanged when it existed
        return 0;
    }
    if (!t->file.Valid()) return 165;
    // An existing file is cut to nothing first, so the result equals the packed bytes even when
    // the old file was longer.
    if (!SetEndOfFile(t->file.Get())) return 157;
    return 0;
}

DWORD UnpackPiece(void* ctx, const BYTE* data, DWORD len)
{
    UnpackTarget* t = static_cast<UnpackTarget*>(ctx);
    DWORD written = 0;
    if (!WriteFile(t->file.Get(), data, len, &written, NULL) || written != len) return 157;
    return 0;
}

void UnpackFinish(void* ctx) { static_cast<UnpackTarget*>(ctx)->file.Close(); }

DWORD UnpackFail(DWORD* error, DWORD code)
{
    char line[64];
    utl_Format(line, sizeof line, "utl_FileUnpack:Err: %d.", code);
    utl_WriteLog(kModule, line, 0);
    *error = code;
    return 0;
}

}  // namespace

int utl_FileUnpack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                   DWORD* error, DWORD dwOffset)
{
    if (!error) return 0;
    if (!pszSrcPath || !pszSrcFile || !pszDstPath) return UnpackFail(error, 150);
    {
        char line[1024];
        utl_Format(line, sizeof line, "%spszSrcPath = %s pszSrcFile = %s pszDstPath = %s", kPrefix,
                   pszSrcPath, pszSrcFile, pszDstPath);
        utl_WriteLog(kModule, line, 0);
    }
    char srcAbsFile[MAX_PATH];
    if (strlen(pszSrcPath) + strlen(pszSrcFile) >= MAX_PATH || strlen(pszDstPath) >= MAX_PATH ||
        !utl_JoinPath(srcAbsFile, sizeof srcAbsFile, pszSrcPath, pszSrcFile))
        return UnpackFail(error, 151);
    int exists = utl_FileExists(srcAbsFile);
    TraceText(1, "szSrcAbsFile = ", srcAbsFile);
    if (!exists) return UnpackFail(error, 152);
    if (!utl_DirExists(pszDstPath)) return UnpackFail(error, 158);

    UnpackTarget target;
    target.dstPath = pszDstPath;
    PackVisitor visitor;
    visitor.begin = UnpackBegin;
    visitor.piece = UnpackPiece;
    visitor.finish = UnpackFinish;
    visitor.ctx = &target;
    visitor.dstLen = (DWORD)strlen(pszDstPath);
    visitor.trace = 1;
    visitor.pieceSize = kUnpackPiece;
    DWORD code = 0;
    if (!utl_WalkPackage(srcAbsFile, dwOffset, &visitor, &code)) {
        target.file.Close();
        return UnpackFail(error, code);
    }
    return 1;
}
