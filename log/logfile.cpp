// The three log writers: one dated file per day and writer under c:\VemloLog, one line per call.
#include <string.h>

#include "log/handles.h"
#include "log/log.h"
#include "package/package.h"

int g_bLogDetail = 0;

namespace {

const char kLogDir[] = "c:\\VemloLog";

HANDLE OpenExisting(const char* path)
{
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       0, NULL);
}

// Several processes may append to one file. Between a seek to the end and the write, another
// process can write at the same offset and one line overwrites the other. So the seek and the
// write happen under a byte-range lock far beyond any real data (it never hinders readers).
// The lock is waited for a bounded time only: a line is never worth hanging the setup for.
const DWORD kLockOffsetHigh = 0x7FFFFFFF;
const DWORD kLockOffsetLow = 0xFFFFFFF0;

bool LockForAppend(HANDLE file, OVERLAPPED* ov)
{
    for (int i = 0; i < 2000; ++i) {
        ZeroMemory(ov, sizeof *ov);
        ov->Offset = kLockOffsetLow;
        ov->OffsetHigh = kLockOffsetHigh;
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, ov))
            return true;
        Sleep(i < 50 ? 0 : 1);
    }
    return false;
}

void AppendLine(HANDLE file, const char* data, DWORD len)
{
    OVERLAPPED ov;
    bool locked = LockForAppend(file, &ov);
    SetFilePointer(file, 0, NULL, FILE_END);
    DWORD done = 0;
    WriteFile(file, data, len, &done, NULL);
    if (locked) UnlockFileEx(file, 0, 1, 0, &ov);
}

// The procedure the three writers share. stem is the file name before the date stamp.
void WriteLine(const char* stem, bool detail, const char* threadFormat, const char* message)
{
    if (!stem || !message) return;
    // The attribute queries stand for the directory searches of the folder and the file: the
    // same answers for a plain path, at a fraction of the cost on every line.
    DWORD dirAttrs = GetFileAttributesA(kLogDir);
    if (dirAttrs == INVALID_FILE_ATTRIBUTES) {
        CreateDirectoryA(kLogDir, NULL);
        dirAttrs = GetFileAttributesA(kLogDir);
    }
    // A log folder that is a junction or symbolic link is not followed: an elevated setup would
    // otherwise create and delete files wherever a standard user pointed it.
    if (dirAttrs == INVALID_FILE_ATTRIBUTES || !(dirAttrs & FILE_ATTRIBUTE_DIRECTORY) ||
        (dirAttrs & FILE_ATTRIBUTE_REPARSE_POINT))
        return;

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

    FileHandle file;
    DWORD attrs = GetFileAttributesA(path);
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        return;  // a folder of the file's name: no line can go there
    } else if (attrs != INVALID_FILE_ATTRIBUTES) {
        // A read-only day's file takes no more lines (checked here as well, since not every
        // file system refuses write access to it).
        if (attrs & FILE_ATTRIBUTE_READONLY) return;
        file.Reset(OpenExisting(path));
    } else {
        // The files of the same weekday of earlier weeks go. Today's own file matches the
        // pattern as well: another process may have made it since we looked, so it is spared.
        utl_DeleteFilesInDirExcept(kLogDir, pattern, name);
        // Shared for writing from the start: a second process that finds the new file must be
        // able to append its own line instead of losing it.
        file.Reset(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, NULL));
        if (!file.Valid() && GetLastError() == ERROR_FILE_EXISTS) file.Reset(OpenExisting(path));
    }
    if (!file.Valid()) return;

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
        AppendLine(file.Get(), line, (DWORD)total);
    } else {
        // No memory for the whole line: its pieces go out one after another.
        AppendLine(file.Get(), head, (DWORD)headLen);
        AppendLine(file.Get(), message, (DWORD)msgLen);
        AppendLine(file.Get(), "\r\n", 2);
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
