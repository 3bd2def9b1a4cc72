// Pre-flight checks of the stub: free space on C: and administrator rights.
#include <windows.h>

#include "base/text.h"
#include "log/log.h"
#include "setup/setup.h"

namespace {

const char kAdminLog[] = "IsCurUserAdmin";
const LONGLONG kMegabyte = 1048576;
const LONGLONG kMinimumMegabytes = 50;

typedef BOOL(WINAPI* GetDiskFreeSpaceExFn)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

}  // namespace

LONGLONG GetFreeDiskSpace(const char* root)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    GetDiskFreeSpaceExFn ex =
        kernel ? reinterpret_cast<GetDiskFreeSpaceExFn>(GetProcAddress(kernel, "GetDiskFreeSpaceExA")) : NULL;
    if (ex) {
        ULARGE_INTEGER available, total, totalFree;
        if (!ex(root, &available, &total, &totalFree)) return -1;
        return (LONGLONG)available.QuadPart;
    }
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, clusters;
    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) return -1;
    return (LONGLONG)(DWORD)(sectorsPerCluster * bytesPerSector * freeClusters);
}

bool IsFreeSpaceEnough(LONGLONG freeBytes, int* megabytesOut)
{
    if (freeBytes < 0) {  // unknown: the setup goes on
        if (megabytesOut) *megabytesOut = 0;
        return true;
    }
    LONGLONG mb = freeBytes / kMegabyte;
    if (megabytesOut) *megabytesOut = (int)(DWORD)(ULONGLONG)mb;
    return mb >= kMinimumMegabytes;
}

int IsCurUserAdmin()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = NULL;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                  0, 0, 0, &admins)) {
        DWORD err = GetLastError();
        char line[96];
        utl_Format(line, sizeof line, "Cannot create SID for Administrators with Err:%u.", err);
        utl_WriteNamedLog(kAdminLog, line);
        return 0;
    }
    // Asked of the system, not read from the token's group list: a filtered token lists the
    // Administrators group too, marked for deny only, and it grants nothing. The token is the
    // one this thread acts with (its impersonation token, else the process's).
    BOOL member = FALSE;
    if (!CheckTokenMembership(NULL, admins, &member)) {
        DWORD err = GetLastError();
        char line[96];
        utl_Format(line, sizeof line, "CheckTokenMembership failed with Err:%u.", err);
        utl_WriteNamedLog(kAdminLog, line);
        member = FALSE;
    }
    FreeSid(admins);
    return member ? 1 : 0;
}
