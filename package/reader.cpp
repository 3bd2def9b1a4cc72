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

int AcpLeadByte(uint8_t b) { return IsDBCSLeadByte(b) ? 1 : 0; }

// The second thread that digests and unmixes large contents beside the writes, started at the
// first one of a walk. A piece is handed over through one word, with brief spinning and then
// yielding the processor: never a kernel object per piece (under Wine each wait on one goes
// through its server, which made an event per piece slower than hashing inline). A piece the
// thread has not taken up by the time the walk needs it done (no processor was free for it) is
// taken back and done by the walk itself, so a busy machine costs a hand-over, not a wait; a
// thread that cannot be had leaves every piece to the walk. The walk never waits for the thread
// to end: the word they share is freed by whichever of them lets go last.
enum { kJobNone = 0, kJobPosted = 1, kJobTaken = 2 };
struct HashJob {
    volatile LONG job, quit, holders;
    PayloadDigest* digest;
    const uint8_t* data;
    uint8_t* out;
    uint32_t len;
};

void LetGo(HashJob* j)
{
    if (InterlockedDecrement(&j->holders) == 0) HeapFree(GetProcessHeap(), 0, j);
}

// One round of a wait: a piece takes a fraction of a millisecond, so the first rounds spin; then
// the processor is yielded, and a wait grown long (the walk found only small contents, or its
// writes are slow) sleeps between looks.
void Backoff(DWORD round, DWORD since)
{
    if (round < 256)
        YieldProcessor();
    else if (GetTickCount() - since < 8)
        SwitchToThread();
    else
        Sleep(1);
}

// The i686 stub promises threads only 4-byte stack alignment: realigned here for the digest.
#if defined(__i386__)
__attribute__((force_align_arg_pointer))
#endif
DWORD WINAPI HashLoop(void* param)
{
    HashJob* j = static_cast<HashJob*>(param);
    for (;;) {
        DWORD since = GetTickCount();
        for (DWORD round = 0; j->job != kJobPosted && !j->quit; ++round) Backoff(round, since);
        if (j->quit) break;
        if (InterlockedCompareExchange(&j->job, kJobTaken, kJobPosted) != kJobPosted) continue;  // taken back
        core_DigestUpdate(j->digest, j->data, j->len);
        core_MixBytesInto(j->out, j->data, j->len);
        InterlockedExchange(&j->job, kJobNone);
    }
    LetGo(j);
    return 0;
}

struct HashBeside {
    CoreHasher core;
    HashJob* shared = nullptr;
    int broken = 0;
    HeapBlock stored;
    ~HashBeside()
    {
        if (!shared) return;
        InterlockedExchange(&shared->quit, 1);
        LetGo(shared);
    }
};

void HashWait(void* ctx)
{
    HashJob* j = static_cast<HashBeside*>(ctx)->shared;
    if (InterlockedCompareExchange(&j->job, kJobNone, kJobPosted) == kJobPosted) {
        core_DigestUpdate(j->digest, j->data, j->len);  // never taken up: done here
        core_MixBytesInto(j->out, j->data, j->len);
        return;
    }
    // Taken up: it ends within a piece's time, unless the thread is descheduled meanwhile.
    for (DWORD round = 0; j->job != kJobNone; ++round) {
        if (round < 256)
            YieldProcessor();
        else
            SwitchToThread();
    }
    MemoryBarrier();
}

int HashStart(void* ctx, PayloadDigest* d, const uint8_t* data, uint8_t* out, uint32_t len)
{
    HashBeside* h = static_cast<HashBeside*>(ctx);
    if (!h->shared && !h->broken) {
        HashJob* j = static_cast<HashJob*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(HashJob)));
        HANDLE thread = NULL;
        if (j) {
            j->holders = 2;
            thread = CreateThread(NULL, 64 * 1024, HashLoop, j, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
        }
        if (thread) {
            CloseHandle(thread);
            h->shared = j;
        } else {
            if (j) HeapFree(GetProcessHeap(), 0, j);
            h->broken = 1;
        }
    }
    if (!h->shared) return 0;
    HashJob* j = h->shared;
    j->digest = d;
    j->data = data;
    j->out = out;
    j->len = len;
    InterlockedExchange(&j->job, kJobPosted);
    return 1;
}

// One walk of the core's walker over a file the library holds, with the library's visitor seen
// through the core's: the same callbacks with the library's types.
struct FileWalk {
    const PackVisitor* v;
    HANDLE file;
    CoreByteSource src;
    CoreVisitor core;
    HeapBlock large;
    HashBeside hash;
    FileWalk(const PackVisitor* visitor, HANDLE f);
};

int32_t FileRead(void* ctx, uint8_t* buffer, uint32_t len)
{
    FileWalk* w = static_cast<FileWalk*>(ctx);
    DWORD got = 0;
    if (!ReadFile(w->file, buffer, len, &got, NULL)) {
        w->src.lastError = GetLastError();
        return -1;
    }
    return (int32_t)got;
}

int FileSeek(void* ctx, uint64_t position)
{
    // As an unsigned 64-bit distance: an offset of 2 GiB or more is no backward move.
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)position;
    return SetFilePointerEx(static_cast<FileWalk*>(ctx)->file, at, NULL, FILE_BEGIN) ? 1 : 0;
}

uint32_t VisitBegin(void* ctx, const CoreRecord* r)
{
    const PackVisitor* v = static_cast<FileWalk*>(ctx)->v;
    PackRecord record;
    record.index = r->index;
    record.nameLen = r->nameLen;
    record.dataLen = r->dataLen;
    record.name = r->name;
    record.isEnd = r->isEnd;
    record.compressed = r->compressed;
    record.contentLen = r->contentLen;
    return v->begin(v->ctx, &record);
}

uint32_t VisitPiece(void* ctx, const uint8_t* data, uint32_t len)
{
    const PackVisitor* v = static_cast<FileWalk*>(ctx)->v;
    return v->piece(v->ctx, data, len);
}

void VisitFinish(void* ctx)
{
    const PackVisitor* v = static_cast<FileWalk*>(ctx)->v;
    v->finish(v->ctx);
}

void VisitTrace(void*, const char* format, uint32_t a, uint32_t b, uint32_t c) { Trace(1, format, a, b, c); }

FileWalk::FileWalk(const PackVisitor* visitor, HANDLE f) : v(visitor), file(f)
{
    src.read = FileRead;
    src.seek = FileSeek;
    src.ctx = this;
    src.lastError = 0;
    core.begin = v->begin ? VisitBegin : nullptr;
    core.piece = v->piece ? VisitPiece : nullptr;
    core.finish = v->finish ? VisitFinish : nullptr;
    core.trace = v->trace ? VisitTrace : nullptr;
    core.ctx = this;
    core.dstLen = v->dstLen;
    core.isLeadByte = AcpLeadByte;
    core.pieceBuffer = nullptr;
    core.pieceSize = 0;
    core.digest = v->digest;
    // Content is taken in pieces of v->pieceSize from the heap when asked (4096 bytes on the
    // walker's stack when that fails), so memory stays constant.
    if (v->pieceSize > kPackagePiece) {
        large.Reset(HeapAlloc(GetProcessHeap(), 0, v->pieceSize));
        if (large.Valid()) {
            core.pieceBuffer = static_cast<uint8_t*>(large.Get());
            core.pieceSize = v->pieceSize;
        }
    }
    core.hasher = nullptr;
    if (core.pieceBuffer && v->digest) {
        hash.stored.Reset(HeapAlloc(GetProcessHeap(), 0, 4 * (SIZE_T)v->pieceSize));
        if (hash.stored.Valid()) {
            hash.core.start = HashStart;
            hash.core.wait = HashWait;
            hash.core.ctx = &hash;
            hash.core.stored[0] = static_cast<uint8_t*>(hash.stored.Get());
            hash.core.stored[1] = hash.core.stored[0] + v->pieceSize;
            hash.core.plain[0] = hash.core.stored[1] + v->pieceSize;
            hash.core.plain[1] = hash.core.plain[0] + v->pieceSize;
            core.hasher = &hash.core;
        }
    }
}

int PackageLength(const FileWalk& w, int sized, unsigned long long size, DWORD dwOffset, uint32_t* packageLen,
                  DWORD* error)
{
    uint32_t code = 0;
    if (core_PackageLength(&w.core, sized, size, dwOffset, packageLen, &code)) return 1;
    *error = code;
    return 0;
}

int Walk(FileWalk& w, DWORD dwOffset, uint32_t packageLen, DWORD* error)
{
    uint32_t code = 0;
    if (core_WalkPackage(&w.src, dwOffset, packageLen, &w.core, &code)) return 1;
    *error = code;
    return 0;
}

}  // namespace

int utl_WalkPackage(const char* srcAbsFile, DWORD dwOffset, const PackVisitor* v, DWORD* error)
{
    DWORD sizeHigh = 0, sizeLow = 0;
    uint32_t packageLen = 0;
    int sized = utl_GetFileSize(srcAbsFile, &sizeHigh, &sizeLow);
    FileWalk w(v, INVALID_HANDLE_VALUE);
    if (!PackageLength(w, sized, ((unsigned long long)sizeHigh << 32) | sizeLow, dwOffset, &packageLen, error))
        return 0;
    FileHandle src(utl_OpenFileForRead(srcAbsFile));
    if (!src.Valid()) return Fail(error, 156);
    w.file = src.Get();
    return Walk(w, dwOffset, packageLen, error);
}

int utl_WalkPackageFile(HANDLE src, DWORD dwOffset, const PackVisitor* v, DWORD* error)
{
    LARGE_INTEGER size;
    int sized = GetFileSizeEx(src, &size) ? 1 : 0;
    uint32_t packageLen = 0;
    FileWalk w(v, src);
    if (!PackageLength(w, sized, sized ? (unsigned long long)size.QuadPart : 0, dwOffset, &packageLen, error))
        return 0;
    return Walk(w, dwOffset, packageLen, error);
}

DWORD utl_PackageContentBytes(HANDLE src, DWORD dwOffset)
{
    struct Sum {
        static DWORD Begin(void* ctx, const PackRecord* record)
        {
            unsigned long long* total = static_cast<unsigned long long*>(ctx);
            if (!record->isEnd) *total += record->contentLen;
            return 0;
        }
    };
    unsigned long long total = 0;
    PackVisitor v;
    ZeroMemory(&v, sizeof v);
    v.begin = Sum::Begin;
    v.ctx = &total;
    DWORD error = 0;
    if (!utl_WalkPackageFile(src, dwOffset, &v, &error)) return 0;
    return total > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)total;
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
    volatile LONG* bytesDone = nullptr;  // content bytes written, for a progress display
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
    if (t->bytesDone) InterlockedExchangeAdd(t->bytesDone, (LONG)len);
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
    char line[256], stored[2 * kDigestMaxLen + 1], computed[2 * kDigestMaxLen + 1];
    core_DigestHex(&check.stored, stored);
    core_DigestHex(&check.computed, computed);
    if (check.state == kDigestNone) {
        utl_Format(line, sizeof line, "%sthe package carries no payload digest.", kPrefix);
    } else if (check.state == kDigestOk) {
        utl_Format(line, sizeof line, "%spayload digest %s %s verified.", kPrefix,
                   core_DigestName(check.stored.algorithm), stored);
    } else {
        utl_Format(line, sizeof line, "%spayload digest mismatch: the end record carries %s, the package gives %s.",
                   kPrefix, stored, computed);
    }
    utl_WriteLog(kModule, line, 0);
    if (check.expect && !core_DigestEqual(check.expect, &check.stored)) {
        // Sound in itself, but not the package this setup was made and signed for.
        char expected[2 * kDigestMaxLen + 1];
        core_DigestHex(check.expect, expected);
        utl_Format(line, sizeof line, "%sthis setup carries the payload digest %s %s: the package is not its own.",
                   kPrefix, core_DigestName(check.expect->algorithm), expected);
        utl_WriteLog(kModule, line, 0);
    }
}

// Both unpackers: held is the open source, or INVALID_HANDLE_VALUE to open it by name; expect,
// when not null, the digest the package must give.
int Unpack(HANDLE held, const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath, DWORD* error,
           DWORD dwOffset, const DigestValue* expect, volatile LONG* bytesDone = nullptr)
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
    target.bytesDone = bytesDone;
    PackDigestCheck check;
    check.expect = expect;
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
        if (code == kErrDigestMismatch || code == kErrCompressed) {
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
    return Unpack(INVALID_HANDLE_VALUE, pszSrcPath, pszSrcFile, pszDstPath, error, dwOffset, nullptr);
}

int utl_FileUnpackHeld(HANDLE src, const char* pszSrcPath, const char* pszSrcFile,
                       const char* pszDstPath, DWORD* error, DWORD dwOffset, const DigestValue* expect)
{
    return utl_FileUnpackHeldCounted(src, pszSrcPath, pszSrcFile, pszDstPath, error, dwOffset, nullptr, expect);
}

int utl_FileUnpackHeldCounted(HANDLE src, const char* pszSrcPath, const char* pszSrcFile,
                              const char* pszDstPath, DWORD* error, DWORD dwOffset, volatile LONG* bytesDone,
                              const DigestValue* expect)
{
    if (src == INVALID_HANDLE_VALUE || src == NULL) {
        if (!error) return 0;
        return UnpackFail(error, 156);
    }
    return Unpack(src, pszSrcPath, pszSrcFile, pszDstPath, error, dwOffset, expect, bytesDone);
}
