// Is the client's customisation updater running? A process of its name counts unless it is
// plainly not the installed client's: run by a standard user from a folder that users can write.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <string.h>

#include "base/handles.h"
#include "base/text.h"
#include "setup/setup.h"

namespace {

// Its name, and the name cut to 15 characters as some process lists show it.
const char* const kUpdaterNames[] = {"RefreshCusCfg.exe", "RefreshCusCfg.e"};

bool IsOneOf(PSID sid, const WELL_KNOWN_SID_TYPE* types, int n)
{
    for (int i = 0; i < n; ++i) {
        BYTE known[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof known;
        if (sid && CreateWellKnownSid(types[i], NULL, known, &size) && EqualSid(sid, known)) return true;
    }
    return false;
}

// Those who may write the installed client's folders: SYSTEM, Administrators, TrustedInstaller,
// and the owner of what is made in them.
bool MayWriteClientFolders(PSID sid)
{
    static const WELL_KNOWN_SID_TYPE kTrusted[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid,
                                                   WinCreatorOwnerSid};
    if (IsOneOf(sid, kTrusted, 3)) return true;
    // NT SERVICE\TrustedInstaller, which owns the system's folders.
    PSID installer = NULL;
    if (!ConvertStringSidToSidA("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &installer))
        return false;
    bool same = EqualSid(sid, installer) != 0;
    LocalFree(installer);
    return same;
}

// Whether somebody other than those may add or replace files in folder (its owner may change
// its security, so an owner of another kind counts too). false with *known false when its
// security cannot be read.
bool UsersCanWrite(const char* folder, bool* known)
{
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR security = NULL;
    *known = GetNamedSecurityInfoA(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                   &owner, NULL, &dacl, NULL, &security) == ERROR_SUCCESS;
    if (!*known) return false;
    const DWORD kWrites = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER |
                          GENERIC_WRITE | GENERIC_ALL;
    bool writable = !owner || !MayWriteClientFolders(owner) || !dacl;  // a null DACL lets everybody in
    for (DWORD i = 0; !writable && dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = NULL;
        if (!GetAce(dacl, i, (void**)&ace) || ace->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        if (ace->AceFlags & INHERIT_ONLY_ACE) continue;  // for what is made inside, not the folder
        ACCESS_ALLOWED_ACE* allowed = (ACCESS_ALLOWED_ACE*)ace;
        if ((allowed->Mask & kWrites) && !MayWriteClientFolders((PSID)&allowed->SidStart)) writable = true;
    }
    LocalFree(security);
    return writable;
}

// Whether the process runs with the Administrators group enabled (SYSTEM has it too). false
// with *known false when its token cannot be read.
bool RunsAsAdministrator(HANDLE process, bool* known)
{
    *known = false;
    HANDLE token = NULL, probe = NULL;
    if (!OpenProcessToken(process, TOKEN_QUERY | TOKEN_DUPLICATE, &token)) return false;
    KernelHandle own(token);
    if (!DuplicateToken(token, SecurityIdentification, &probe)) return false;
    KernelHandle identification(probe);
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    BOOL member = FALSE;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, admins, &size) ||
        !CheckTokenMembership(probe, admins, &member))
        return false;
    *known = true;
    return member != 0;
}

UpdaterFacts GatherFacts(DWORD processId)
{
    UpdaterFacts facts = UpdaterFacts();
    KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process.Valid()) return facts;
    char path[MAX_PATH];
    DWORD size = sizeof path;
    facts.pathKnown = QueryFullProcessImageNameA(process.Get(), 0, path, &size) != 0 && size < sizeof path;
    facts.elevated = RunsAsAdministrator(process.Get(), &facts.tokenKnown);
    if (!facts.pathKnown) return facts;
    if (char* slash = const_cast<char*>(utl_FindLastBackslash(path))) *slash = '\0';
    facts.folderWritable = UsersCanWrite(path, &facts.folderKnown);
    return facts;
}

}  // namespace

bool CountsAsUpdater(const UpdaterFacts& facts)
{
    // Where the image path cannot be read, the name alone decides, as it always did.
    if (!facts.pathKnown || !facts.tokenKnown || !facts.folderKnown) return true;
    return facts.elevated || !facts.folderWritable;
}

namespace {

bool IsUpdaterProcess(DWORD processId) { return CountsAsUpdater(GatherFacts(processId)); }

}  // namespace

int UpdaterRunning(const char* tag) { return FindProcessWhere(tag, kUpdaterNames, 2, IsUpdaterProcess); }
