// Process presence probe: is a process with a given image name running now?
#include <windows.h>
#include <tlhelp32.h>
#include <string.h>

#include "base/handles.h"
#include "base/text.h"
#include "log/log.h"
#include "setup/setup.h"

namespace {

void LogProbeFailure(const char* tag, const char* what, DWORD err)
{
    utl_LogLine(tag, "chkProcExist: ", "%s%d", what, (int)err);
}

}  // namespace

const char* BareImageName(const char* path)
{
    const char* last = utl_FindLastBackslash(path);
    return last ? last + 1 : path;
}

int chkProcExist(const char* tag, const char* name)
{
    FileHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap.Valid()) {
        LogProbeFailure(tag, "createToolSnap failed with err: ", GetLastError());
        return kProcListUnreadable;
    }
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    if (!Process32First(snap.Get(), &entry)) {
        LogProbeFailure(tag, "process32First failed with err: ", GetLastError());
        return kProcListUnreadable;
    }
    do {
        entry.szExeFile[sizeof entry.szExeFile - 1] = '\0';
        if (_stricmp(entry.szExeFile, name) == 0) return kProcRunning;
    } while (Process32Next(snap.Get(), &entry));
    return kProcNotFound;
}

void LogProcEnumError(const char* tag, DWORD procId, DWORD err1, DWORD err2)
{
    char line[200];
    utl_Format(line, sizeof line, "procEnumRequest from %s: Err1 = %u, Err2 = %u, ProcId = %u",
               tag ? tag : "", err1, err2, procId);
    utl_WriteLog("utlProc", line, (procId == 0 || procId == 4) ? 1 : 0);
}

SnapshotHolder::SnapshotHolder(DWORD flags, DWORD processId) : snapshot_(INVALID_HANDLE_VALUE)
{
    if (flags) snapshot_ = CreateToolhelp32Snapshot(flags, processId);
}

SnapshotHolder::~SnapshotHolder() { Close(); }

bool SnapshotHolder::Retake(DWORD flags, DWORD processId)
{
    Close();
    if (!flags) return false;
    snapshot_ = CreateToolhelp32Snapshot(flags, processId);
    return snapshot_ != INVALID_HANDLE_VALUE;
}

BOOL SnapshotHolder::First(PROCESSENTRY32* entry)
{
    if (!Process32First(snapshot_, entry)) return FALSE;
    if (entry->th32ProcessID != 0) return TRUE;
    return Next(entry);
}

BOOL SnapshotHolder::Next(PROCESSENTRY32* entry)
{
    do {
        if (!Process32Next(snapshot_, entry)) return FALSE;
    } while (entry->th32ProcessID == 0);
    return TRUE;
}

void SnapshotHolder::Close()
{
    if (snapshot_ != INVALID_HANDLE_VALUE) {
        CloseHandle(snapshot_);
        snapshot_ = INVALID_HANDLE_VALUE;
    }
}

int FindProcessWhere(const char* tag, const char* const* names, int count, bool (*accept)(DWORD processId))
{
    SnapshotHolder snap(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    if (!snap.First(&entry)) {
        LogProcEnumError(tag, 0, 101, GetLastError());
        return kProcListUnreadable;
    }
    do {
        entry.szExeFile[sizeof entry.szExeFile - 1] = '\0';
        for (int i = 0; i < count; ++i)
            if (_stricmp(BareImageName(entry.szExeFile), names[i]) == 0 && (!accept || accept(entry.th32ProcessID)))
                return kProcRunning;
    } while (snap.Next(&entry));
    return kProcNotFound;
}

int procEnumRequest(const char* tag, const char* name) { return FindProcessWhere(tag, &name, 1, nullptr); }
