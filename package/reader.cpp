// The package reader: walks the records of a package (shared by the unpacker and the tools that
// only list) and unpacks them into a destination folder, with the numbered trace of every step.
#include "package/package.h"

#include <string.h>

#include "base/files.h"
#include "base/handles.h"
#include "base/text.h"
#include "log/log.h"

namespace {

const char kModule[] = "UtlFile";
const char kPrefix[] = "utl_FileUnpack: ";

// One trace line: the prefix and the formatted text (nothing when tracing is off).
void Trace(int on, const char* fmt, DWORD a = 0, DWORD b = 0, DWORD c = 0)
{
    if (on) utl_LogLine(kModule, kPrefix, fmt, a, b, c);
}

void TraceText(int on, const char* label, const char* text)
{
    if (on) utl_LogLine(kModule, kPrefix, "%s%s", label, text);
}

DWORD Fail(DWORD* error, DWORD code)
{
    *error = code;
    return 0;
}

// Reads len bytes at the file's position: 1 when all of them came.
int ReadRaw(HANDLE file, BYTE* buffer, DWORD len)
{
    DWORD got = 0;
    return ReadFile(file, buffer, len, &got, NULL) && got == len ? 1 : 0;
}

// ReadAndUnmix, with the stored bytes fed to the payload digest on the way when there is one.
int ReadUnmixDigest(HANDLE file, BYTE* buffer, DWORD len, PayloadDigest* digest)
{
    if (!digest) return ReadAndUnmix(file, buffer, len);
    if (!ReadRaw(file, buffer, len)) return 0;
    // Digest and transform go over the piece in slices that stay in the first-level cache.
    const DWORD slice = 16 * 1024;
    for (DWORD at = 0; at < len; at += slice) {
        DWORD n = len - at < slice ? len - at : slice;
        utl_DigestUpdate(digest, buffer + at, n);
        MixBytes(buffer + at, n);
    }
    return 1;
}

// Reads one plain little-endian length field into raw and value. Returns the bytes read, or -1
// when the read failed.
int ReadLength(HANDLE file, BYTE* raw, DWORD* value)
{
    DWORD got = 0;
    raw[0] = raw[1] = raw[2] = raw[3] = 0;
    if (!ReadFile(file, raw, 4, &got, NULL)) return -1;
    *value = (DWORD)raw[0] | ((DWORD)raw[1] << 8) | ((DWORD)raw[2] << 16) | ((DWORD)raw[3] << 24);
    return (int)got;
}

int AcpLeadByte(BYTE b) { return IsDBCSLeadByte(b) ? 1 : 0; }

// The end record's content against the digest of everything before it. 0 or 167.
DWORD CheckEndRecord(HANDLE src, DWORD dataLen, PayloadDigest* digest, PackDigestCheck* check)
{
    check->computed = utl_DigestValue(digest);
    if (dataLen == 0) return 0;  // an end record with nothing in it: no digest
    check->state = kDigestMismatch;
    BYTE data[kEndDataMax];
    if (dataLen > kEndDataMax || !ReadAndUnmix(src, data, dataLen) ||
        !utl_DecodeEndData(data, dataLen, &check->stored))
        return kErrDigestMismatch;
    if (check->stored != check->computed) return kErrDigestMismatch;
    check->state = kDigestOk;
    return 0;
}

// The walk proper, over an open source whose size is known and checked against dwOffset.
int Walk(HANDLE src, DWORD dwOffset, DWORD packageLen, const PackVisitor* v, DWORD* error)
{
    const int tr = v->trace;
    // As an unsigned 64-bit distance: an offset of 2 GiB or more is no backward move.
    LARGE_INTEGER start;
    start.QuadPart = (LONGLONG)dwOffset;
    if (!SetFilePointerEx(src, start, NULL, FILE_BEGIN)) return Fail(error, 159);

    PackDigestCheck* check = v->digest;
    PayloadDigest state;
    PayloadDigest* digest = NULL;
    if (check) {
        check->state = kDigestNone;
        check->stored = check->computed = 0;
        check->endOffset = packageLen;
        utl_DigestBegin(&state);
        digest = &state;
    }

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
    if (!ReadUnmixDigest(src, buffer, kPackageMagicLen, digest)) return Fail(error, 159);
    if (memcmp(buffer, kPackageMagic, kPackageMagicLen) != 0) return Fail(error, 160);

    DWORD total = kPackageMagicLen;  // dwCurTotalLen
    Trace(tr, "dwCurTotalLen = %d", total);
    DWORD index = 0;
    while (total < packageLen) {
        ++index;
        Trace(tr, "unpack time = %d", index);
        const DWORD recordStart = total;

        // The length fields and the name go into the digest only once the record is known not
        // to be the end record, which the digest does not cover.
        BYTE fields[8], rawName[kPackageMaxNameLen];
        DWORD nameLen = 0, dataLen = 0;
        int got = ReadLength(src, fields, &nameLen);
        if (got < 0) {
            Trace(tr, "ReadFile failed with err. %d", GetLastError());
            return Fail(error, 161);
        }
        Trace(tr, "dwBufDataLen = %d dwCurFileNameLen = %d sizeof(DWORD) = %d", (DWORD)got, nameLen,
              (DWORD)sizeof(DWORD));
        // v->dstLen < 260, nameLen <= 64: the sum cannot wrap.
        if (got < 4 || nameLen > kPackageMaxNameLen || nameLen + v->dstLen >= MAX_PATH)
            return Fail(error, 161);
        if (ReadLength(src, fields + 4, &dataLen) != 4) return Fail(error, 162);

        // Summed in 64 bits: a corrupt data length near 2^32 must not wrap round to a small total.
        unsigned long long next = (unsigned long long)total + 8u + nameLen + dataLen;
        Trace(tr, "dwCurTotalLen = %d", (DWORD)next);
        if (next > packageLen) return Fail(error, 163);
        total = (DWORD)next;

        if (!ReadRaw(src, buffer, nameLen)) return Fail(error, 164);
        memcpy(rawName, buffer, nameLen);
        MixBytes(buffer, nameLen);
        buffer[nameLen] = '\0';
        PackRecord record;
        record.index = index;
        record.nameLen = nameLen;
        record.dataLen = dataLen;
        record.name = reinterpret_cast<const char*>(buffer);
        record.isEnd = nameLen == kPackageEndNameLen && memcmp(buffer, kPackageEndName, nameLen) == 0;
        if (digest && !record.isEnd) {
            utl_DigestUpdate(digest, fields, sizeof fields);
            utl_DigestUpdate(digest, rawName, nameLen);
        }
        // Checked before anything is opened: a name must never reach outside the destination.
        if (!record.isEnd && !utl_IsSafeRecordName(record.name, nameLen, AcpLeadByte))
            return Fail(error, 165);
        if (v->begin) {
            DWORD code = v->begin(v->ctx, &record);
            if (code) return Fail(error, code);
        }
        if (record.isEnd) {
            Trace(tr, "The file is end.");
            if (check) {
                check->endOffset = recordStart;
                if (DWORD code = CheckEndRecord(src, dataLen, digest, check)) return Fail(error, code);
            }
            return 1;
        }

        if (!v->piece && !digest) {
            // Nobody looks at the content: stepped over (the bound above keeps it in the file).
            LARGE_INTEGER skip;
            skip.QuadPart = (LONGLONG)dataLen;
            if (!SetFilePointerEx(src, skip, NULL, FILE_CURRENT)) return Fail(error, 166);
            if (v->finish) v->finish(v->ctx);
            continue;
        }
        // The name is no longer needed: the buffer now carries the content piece by piece.
        DWORD copied = 0;
        while (copied < dataLen) {
            DWORD piece = dataLen - copied < pieceSize ? dataLen - copied : pieceSize;
            if (!ReadUnmixDigest(src, content, piece, digest)) return Fail(error, 166);
            if (v->piece) {
                DWORD code = v->piece(v->ctx, content, piece);
                if (code) return Fail(error, code);
            }
            copied += piece;
        }
        if (v->finish) v->finish(v->ctx);
    }
    if (check) check->computed = utl_DigestValue(digest);
    return 1;
}

// The size checks before a walk: 1 with the package length, or 0 with 155.
int PackageLength(int sized, DWORD sizeHigh, DWORD sizeLow, DWORD dwOffset, int tr, DWORD* packageLen,
                  DWORD* error)
{
    Trace(tr, "dwSizeHigh = %d dwSizeLow = %d", sizeHigh, sizeLow);
    if (!sized || sizeHigh != 0 || dwOffset >= sizeLow) return Fail(error, 155);
    *packageLen = sizeLow - dwOffset;
    Trace(tr, "dwSizeLow = dwSizeLow - dwOffset= %d", *packageLen);
    return 1;
}

}  // namespace

int utl_WalkPackage(const char* srcAbsFile, DWORD dwOffset, const PackVisitor* v, DWORD* error)
{
    DWORD sizeHigh = 0, sizeLow = 0, packageLen = 0;
    int sized = utl_GetFileSize(srcAbsFile, &sizeHigh, &sizeLow);
    if (!PackageLength(sized, sizeHigh, sizeLow, dwOffset, v->trace, &packageLen, error)) return 0;
    FileHandle src(utl_OpenFileForRead(srcAbsFile));
    if (!src.Valid()) return Fail(error, 156);
    return Walk(src.Get(), dwOffset, packageLen, v, error);
}

int utl_WalkPackageFile(HANDLE src, DWORD dwOffset, const PackVisitor* v, DWORD* error)
{
    LARGE_INTEGER size;
    int sized = GetFileSizeEx(src, &size) ? 1 : 0;
    DWORD sizeHigh = sized ? (DWORD)(size.QuadPart >> 32) : 0, sizeLow = sized ? (DWORD)size.QuadPart : 0;
    DWORD packageLen = 0;
    if (!PackageLength(sized, sizeHigh, sizeLow, dwOffset, v->trace, &packageLen, error)) return 0;
    return Walk(src, dwOffset, packageLen, v, error);
}

namespace {

// The unpacker's visitor: one destination file at a time, and the names of the files made so
// far (NUL-separated), so that a package found damaged at its end leaves none of them behind.
struct UnpackTarget {
    const char* dstPath;
    int createNew;
    FileHandle file;
    HeapBlock made;
    DWORD madeLen = 0, madeCap = 0;
};

bool Remember(UnpackTarget* t, const char* name, DWORD len)
{
    if (t->madeLen + len + 1 > t->madeCap) {
        DWORD cap = t->madeCap ? t->madeCap * 2 : 4096;
        while (cap < t->madeLen + len + 1) cap *= 2;
        void* grown = t->made.Valid() ? HeapReAlloc(GetProcessHeap(), 0, t->made.Get(), cap)
                                      : HeapAlloc(GetProcessHeap(), 0, cap);
        if (!grown) return false;
        t->made.Release();
        t->made.Reset(grown);
        t->madeCap = cap;
    }
    char* names = static_cast<char*>(t->made.Get());
    memcpy(names + t->madeLen, name, len);
    names[t->madeLen + len] = '\0';
    t->madeLen += len + 1;
    return true;
}

void DeleteMade(UnpackTarget* t)
{
    t->file.Close();
    const char* names = static_cast<const char*>(t->made.Get());
    for (DWORD at = 0; at < t->madeLen;) {
        char path[MAX_PATH];
        if (utl_JoinPath(path, sizeof path, t->dstPath, names + at)) DeleteFileA(path);
        at += (DWORD)strlen(names + at) + 1;
    }
    t->madeLen = 0;
}

DWORD UnpackBegin(void* ctx, const PackRecord* record)
{
    UnpackTarget* t = static_cast<UnpackTarget*>(ctx);
    char dstAbsFile[MAX_PATH];
    // N + the folder's length may be 259, one more than a joined path holds.
    if (!utl_JoinPath(dstAbsFile, sizeof dstAbsFile, t->dstPath, record->name)) return 165;
    // Remembered before the open: whatever name was opened or made goes again on a mismatch.
    if (!Remember(t, record->name, record->nameLen)) return 165;
    if (t->createNew) {
        // Into a folder that was just emptied: a name that is there already was put there by
        // somebody else and is never written into.
        t->file.Reset(CreateFileA(dstAbsFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL));
        if (!t->file.Valid()) t->madeLen -= record->nameLen + 1;  // not ours: never deleted
    } else {
        t->file.Reset(utl_NewOrOpenFileForWrite(dstAbsFile));
    }
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

void TraceDigest(const PackDigestCheck& check)
{
    char line[160];
    if (check.state == kDigestNone) {
        utl_Format(line, sizeof line, "%sthe package carries no payload digest.", kPrefix);
    } else if (check.state == kDigestOk) {
        utl_Format(line, sizeof line, "%spayload digest XXH3-64 %08x%08x verified.", kPrefix,
                   (DWORD)(check.stored >> 32), (DWORD)check.stored);
    } else {
        utl_Format(line, sizeof line, "%spayload digest mismatch: the end record carries %08x%08x, the "
                   "package gives %08x%08x.", kPrefix, (DWORD)(check.stored >> 32), (DWORD)check.stored,
                   (DWORD)(check.computed >> 32), (DWORD)check.computed);
    }
    utl_WriteLog(kModule, line, 0);
}

// Both unpackers: held is the open source, or INVALID_HANDLE_VALUE to open it by name.
int Unpack(HANDLE held, const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath, DWORD* error,
           DWORD dwOffset)
{
    if (!error) return 0;
    // The trace has a line for every step: the day's file stays open for the whole unpack.
    LogSession session;
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
    // A held source is there whatever its name now shows.
    int exists = held != INVALID_HANDLE_VALUE || utl_FileExists(srcAbsFile);
    TraceText(1, "szSrcAbsFile = ", srcAbsFile);
    if (!exists) return UnpackFail(error, 152);
    if (!utl_DirExists(pszDstPath)) return UnpackFail(error, 158);

    UnpackTarget target;
    target.dstPath = pszDstPath;
    target.createNew = held != INVALID_HANDLE_VALUE;
    PackDigestCheck check;
    PackVisitor visitor;
    visitor.begin = UnpackBegin;
    visitor.piece = UnpackPiece;
    visitor.finish = UnpackFinish;
    visitor.ctx = &target;
    visitor.dstLen = (DWORD)strlen(pszDstPath);
    visitor.trace = 1;
    visitor.pieceSize = kUnpackPiece;
    visitor.digest = &check;
    DWORD code = 0;
    int walked = held != INVALID_HANDLE_VALUE ? utl_WalkPackageFile(held, dwOffset, &visitor, &code)
                                              : utl_WalkPackage(srcAbsFile, dwOffset, &visitor, &code);
    if (!walked) {
        target.file.Close();
        if (code == kErrDigestMismatch) {
            TraceDigest(check);
            DeleteMade(&target);
        }
        return UnpackFail(error, code);
    }
    TraceDigest(check);
    return 1;
}

}  // namespace

int utl_FileUnpack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                   DWORD* error, DWORD dwOffset)
{
    return Unpack(INVALID_HANDLE_VALUE, pszSrcPath, pszSrcFile, pszDstPath, error, dwOffset);
}

int utl_FileUnpackHeld(HANDLE src, const char* pszSrcPath, const char* pszSrcFile,
                       const char* pszDstPath, DWORD* error, DWORD dwOffset)
{
    if (src == INVALID_HANDLE_VALUE || src == NULL) {
        if (!error) return 0;
        return UnpackFail(error, 156);
    }
    return Unpack(src, pszSrcPath, pszSrcFile, pszDstPath, error, dwOffset);
}
