// The three log writers: one dated file per day and writer under c:\VemloLog, one line per call.
#include <string.h>

#include "base/files.h"
#include "base/handles.h"
#include "base/text.h"
#include "log/log.h"

int g_bLogDetail = 0;

namespace {

const char kLogDir[] = "c:\\VemloLog";

// Several processes may append to one file. Between a seek to the end and the write, another
// process can write at the same offset and one line overwrites the other. So the seek and the
// write happen under a byte-range lock far beyond any real data (it never hinders readers).
// The lock is waited for a bounded time only: a line is never worth hanging the setup for. When
// the wait runs out (somebody holds the lock), the line is appended all the same, unlocked, and
// later lines of this process try the lock once without waiting: a user who keeps the lock can
// at worst mix lines, never lose them or stall the setup.
const DWORD kLockOffsetHigh = 0x7FFFFFFF;
const DWORD kLockOffsetLow = 0xFFFFFFF0;
const DWORD kLockWaitMs = 500;
DWORD g_lockWaitMs = kLockWaitMs;

bool LockForAppend(HANDLE file, OVERLAPPED* ov)
{
    const DWORD started = GetTickCount();
    for (int round = 0;; ++round) {
        ZeroMemory(ov, sizeof *ov);
        ov->Offset = kLockOffsetLow;
        ov->OffsetHigh = kLockOffsetHigh;
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, ov))
            return true;
        if (GetTickCount() - started >= g_lockWaitMs) {
            g_lockWaitMs = 0;
            return false;
        }
        Sleep(round < 50 ? 0 : 1);
    }
}

void AppendLine(HANDLE file, const char* data, DWORD len)
{
    OVERLAPPED ov;
    bool locked = LockForAppend(file, &ov);
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    SetFilePointerEx(file, zero, NULL, FILE_END);  // 64-bit: a file past 4 GiB still appends
    DWORD done = 0;
    WriteFile(file, data, len, &done, NULL);
    if (locked) UnlockFileEx(file, 0, 1, 0, &ov);
}

// The day's file is opened without following a link in its own name, inside the log folder that
// the caller holds (so the folder cannot be swapped for a link between the checks and the open).
// What was opened is then checked on the handle: the folder it really lies in must be the log
// folder, and it must have no other name. c:\VemloLog is open to every user (see the README),
// so a file there with a second link is one that a user pointed at a file of her choosing: an
// elevated writer would append to that file. Such a file, like a misplaced one, gets no line.
HANDLE OpenDayFile(const char* path, DWORD disposition)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE) return file;
    DWORD err = GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!utl_IsHandleAtPath(file, path) || !GetFileInformationByHandle(file, &info) || info.nNumberOfLinks != 1) {
        CloseHandle(file);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(err);
    return file;
}

// ---- Log sessions: the day's files stay open between lines -------------------------------------

struct HeldLog {
    char path[MAX_PATH];
    HANDLE file;  // INVALID_HANDLE_VALUE: the day's file was refused (see WriteLine)
};
const int kHeldLogs = 4;
HeldLog g_held[kHeldLogs];
int g_heldCount = 0;
DWORD g_sessionDepth = 0;
DWORD g_sessionThread = 0;

bool InSession() { return g_sessionDepth > 0 && GetCurrentThreadId() == g_sessionThread; }

const HeldLog* FindHeld(const char* path)
{
    for (int i = 0; i < g_heldCount; ++i)
        if (lstrcmpiA(g_held[i].path, path) == 0) return &g_held[i];
    return nullptr;
}

// Keeps file open for the rest of the session. false when there is no room: the caller closes it.
bool Hold(const char* path, HANDLE file)
{
    if (g_heldCount >= kHeldLogs) return false;
    lstrcpynA(g_held[g_heldCount].path, path, MAX_PATH);
    g_held[g_heldCount].file = file;
    ++g_heldCount;
    return true;
}

// The procedure the three writers share. stem is the file name before the date stamp.
void WriteLine(const char* stem, bool detail, const char* threadFormat, const char* message)
{
    if (!stem || !message) return;
    SYSTEMTIME st;
    GetLocalTime(&st);  // one reading gives both the file name and the time stamp

    char name[MAX_PATH], pattern[MAX_PATH], path[MAX_PATH];
    char stamp[16];
    utl_Format(stamp, sizeof stamp, "%04u%02u%02u%02u", st.wYear, st.wMonth, st.wDay, st.wDayOfWeek);
    char weekday[8];
    utl_Format(weekday, sizeof weekday, "*%02u", st.wDayOfWeek);
    name[0] = pattern[0] = '\0';
    if (!utl_Append(name, sizeof name, stem) || !utl_Append(name, sizeof name, stamp) ||
        !utl_Append(name, sizeof name, ".log"))
        return;
    if (!utl_Append(pattern, sizeof pattern, stem) || !utl_Append(pattern, sizeof pattern, weekday) ||
        !utl_Append(pattern, sizeof pattern, ".log"))
        return;
    if (!utl_JoinPath(path, sizeof path, kLogDir, name)) return;

    const bool session = InSession();
    const HeldLog* held = session ? FindHeld(path) : nullptr;
    // Refused once in this session: not looked at again on every line (a planted link would
    // otherwise cost each line of an unpack a folder hold and two opens).
    if (held && held->file == INVALID_HANDLE_VALUE) return;
    FileHandle owned;
    HANDLE file = held ? held->file : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        // The log folder is held from here until the file is open: a folder that is a junction
        // or symbolic link, or one swapped for a link meanwhile, would let an elevated setup
        // create and delete files wherever a standard user pointed it.
        FileHandle folder(utl_HoldOrMakeDir(kLogDir));
        if (!folder.Valid()) return;

        // The attribute query stands for the directory search of the file: the same answer for
        // a plain path, at a fraction of the cost on every line.
        DWORD attrs = GetFileAttributesA(path);
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
            if (session) Hold(path, INVALID_HANDLE_VALUE);
            return;  // a folder or a link of the file's name: no line can go there
        } else if (attrs != INVALID_FILE_ATTRIBUTES) {
            // A read-only day's file takes no more lines (checked here as well, since not every
            // file system refuses write access to it).
            if (attrs & FILE_ATTRIBUTE_READONLY) {
                if (session) Hold(path, INVALID_HANDLE_VALUE);
                return;
            }
            owned.Reset(OpenDayFile(path, OPEN_EXISTING));
        } else {
            // The files of the same weekday of earlier weeks go. Today's own file matches the
            // pattern as well: another process may have made it since we looked, so it is spared.
            utl_DeleteFilesInDirExcept(kLogDir, pattern, name);
            // Shared for writing from the start: a second process that finds the new file must
            // be able to append its own line instead of losing it.
            owned.Reset(OpenDayFile(path, CREATE_NEW));
            if (!owned.Valid() && GetLastError() == ERROR_FILE_EXISTS) owned.Reset(OpenDayFile(path, OPEN_EXISTING));
        }
        if (!owned.Valid()) {
            // Refused (a second name, a file elsewhere, no write access): so for the session. A
            // file held by another for a moment is looked at again on the next line.
            if (session && GetLastError() == ERROR_ACCESS_DENIED) Hold(path, INVALID_HANDLE_VALUE);
            return;
        }
        file = owned.Get();
        if (session && Hold(path, file)) owned.Release();
    }

    char head[96];
    int headLen = utl_Format(head, sizeof head, "[%04u-%02u-%02u %02u:%02u:%02u] %s",
                             st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                             detail ? "[DTL] " : "");
    headLen += utl_Format(head + headLen, sizeof head - headLen, threadFormat, GetCurrentThreadId());

    // The whole line goes out in one write, so lines of concurrent writers never mix.
    size_t msgLen = strlen(message);
    size_t total = (size_t)headLen + msgLen + 2;
    char small[1024];
    char* line = small;
    HeapBlock block;
    if (total > sizeof small) {
        block.Reset(HeapAlloc(GetProcessHeap(), 0, total));
        line = static_cast<char*>(block.Get());
    }
    if (line && total <= 0xFFFFFFFFu) {
        memcpy(line, head, (size_t)headLen);
        memcpy(line + headLen, message, msgLen);
        line[headLen + msgLen] = '\r';
        line[headLen + msgLen + 1] = '\n';
        AppendLine(file, line, (DWORD)total);
    } else {
        // No memory for the whole line: its pieces go out one after another.
        AppendLine(file, head, (DWORD)headLen);
        AppendLine(file, message, (DWORD)msgLen);
        AppendLine(file, "\r\n", 2);
    }
}

}  // namespace

void WriteSetupLog(const char* message) { WriteLine("setup", false, "[%x] ", message); }

void utl_WriteLog(const char* tag, const char* message, int isDetail)
{
    if (isDetail && !g_bLogDetail) return;  // before any file work: detail lines cost nothing
    if (!tag) return;
    char stem[MAX_PATH] = "stp_";
    if (!utl_Append(stem, sizeof stem, tag)) return;
    WriteLine(stem, isDetail != 0, "[0x%x] ", message);
}

void utl_WriteNamedLog(const char* name, const char* message) { WriteLine(name, false, "[%x] ", message); }

void utl_BeginLogSession()
{
    if (g_sessionDepth > 0 && GetCurrentThreadId() != g_sessionThread) return;  // one thread's only
    if (g_sessionDepth++ == 0) g_sessionThread = GetCurrentThreadId();
}

void utl_EndLogSession()
{
    if (g_sessionDepth == 0 || GetCurrentThreadId() != g_sessionThread) return;
    if (--g_sessionDepth > 0) return;
    for (int i = 0; i < g_heldCount; ++i)
        if (g_held[i].file != INVALID_HANDLE_VALUE) CloseHandle(g_held[i].file);
    g_heldCount = 0;
    g_sessionThread = 0;
}

void utl_SetLogLockWait(DWORD ms) { g_lockWaitMs = ms; }
