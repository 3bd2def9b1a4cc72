// Runtime utilities of the common module: run directory, file version, thread start, handle wait.
#include <errno.h>
#include <process.h>
#include <string.h>

#include "base/handles.h"
#include "base/text.h"
#include "base/version.h"
#include "log/log.h"

namespace {

const char kCommonTag[] = "UtlCommon";

void RunPathFailure(const char* text, const char* more = "")
{
    utl_LogLine(kCommonTag, "getCurRunPath: ", "%s%s", text, more);
}

}  // namespace

int getCurRunPath(char* buffer, DWORD size, int keepSeparator)
{
    if (!buffer || size == 0) {
        RunPathFailure("invalid paras.");
        return 0;
    }
    memset(buffer, 0, size);
    DWORD n = GetModuleFileNameA(NULL, buffer, size);
    if (n == 0) {
        char text[96];
        utl_Format(text, sizeof text, "calling getModuleFileName failed with ErrNo %u.", GetLastError());
        RunPathFailure(text);
        return 0;
    }
    if (n >= size) {
        buffer[size - 1] = '\0';
        RunPathFailure("insufficient buffer -- ", buffer);
        return 0;
    }
    char* slash = const_cast<char*>(utl_FindLastBackslash(buffer));
    if (!slash) {
        RunPathFailure("lack of separator -- ", buffer);
        return 0;
    }
    slash[keepSeparator ? 1 : 0] = '\0';
    return 1;
}

int getVer(const char* tag, const char* fileName, DWORD* versionMS, DWORD* versionLS)
{
    auto fail = [tag](const char* why) {
        utl_LogLine(tag, "getVer:", "%s", why);
        return 0;
    };
    VersionApi api;
    DWORD handle = 0, size = 0;
    if (utl_LoadVersionApi(&api) != 0 || !fileName || !versionMS || !versionLS ||
        (size = api.getSize(fileName, &handle)) == 0)
        return fail("get-size failed.");

    HeapBlock info(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (!info.Valid()) return fail("new-mem failed.");
    if (!api.getInfo(fileName, 0, size, info.Get())) return fail("get version info failed.");
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT fixedLen = 0;
    if (!api.query(info.Get(), "\\", reinterpret_cast<LPVOID*>(&fixed), &fixedLen) || !fixed ||
        fixedLen < sizeof(VS_FIXEDFILEINFO))
        return fail("qury-ver failed.");
    *versionMS = fixed->dwFileVersionMS;
    *versionLS = fixed->dwFileVersionLS;
    return 1;
}

HANDLE utl_BeginThread(void* security, unsigned stackSize, UtlThreadRoutine start, void* arg,
                       unsigned flags, unsigned* threadId, const char* text)
{
    char tag[32];
    utl_Format(tag, sizeof tag, "Proc_%x_", GetCurrentProcessId());
    unsigned id = 0;
    uintptr_t thread = start ? _beginthreadex(security, stackSize, start, arg, flags, &id) : 0;
    char more[160];
    if (thread) {
        if (threadId) *threadId = id;
        utl_Format(more, sizeof more, " id-%x.", id);
    } else {
        int err = start ? errno : EINVAL;
        utl_Format(more, sizeof more, " failed.%s", strerror(err));
    }
    utl_LogLine(tag, "", "%s%s", text ? text : "", more);
    return reinterpret_cast<HANDLE>(thread);
}

int utl_WaitForHandle(HANDLE handle, const char* tag, const char* text)
{
    DWORD result = WaitForSingleObject(handle, INFINITE);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return 1;
    char more[48];
    utl_Format(more, sizeof more, " mtx-waiting returned %u.", result);
    utl_LogLine(tag, "", "%s%s", text ? text : "", more);
    return 0;
}
