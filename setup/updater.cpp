// Is the client's customisation updater running? A process of its name counts unless it is
// plainly not the installed client's: run by a standard user from a folder that users can write.
#include <windows.h>
#include <aclapi.h>
#include <string.h>

#include "base/handles.h"
#include "base/text.h"
#include "setup/setup.h"

namespace {

// Its name, and the name cut to 15 characters as some process lists show it.
const char* const kUpdaterNames[] = {"RefreshCusCfg.exe", "RefreshCusCfg.e"};

// Those who may write the installed client's folders: SYSTEM, Administrators, the owner of what
// is made in them, and the system's services (NT SERVICE\..., TrustedInstaller among them).
bool MayWriteClientFolders(PSID sid)
{
    const SID* s = static_cast<const SID*>(sid);
    const BYTE kNtAuthority = 5, kServiceRid = 80;
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           IsWellKnownSid(sid, WinCreatorOwnerSid) ||
           (s->IdentifierAuthority.Value[5] == kNtAuthority && s->SubAuthorityCount > 1 &&
            s->SubAuthority[0] == kServiceRid);
}

// Whether somebody other than those may add or replace files in folder (its owner may change
// its security, so an owner of another kind counts too). false with *known false when its
// security cannot be read.
bool UsersCanWrite(const char* folder, bool* known)
{
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR security = NULL;
    FileHandle dir(CreateFileA(folder, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL));
    *known = dir.Valid() && GetSecurityInfo(dir.Get(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, NULL,
                                            &dacl, NULL, &security) == ERROR_SUCCESS;
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

// Whether the process runs with the Administrators group enabled (SYSTEM has it too; a group kept
// for deny only, as in a filtered token, is not). false with *known false when its token cannot
// be read.
bool RunsAsAdministrator(HANDLE process, bool* known)
{
    *known = false;
    HANDLE token = NULL;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
    KernelHandle own(token);
    union {
        TOKEN_GROUPS groups;
        BYTE bytes[2048];
    } info;
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenGroups, &info, sizeof info, &size)) return false;
    *known = true;
    for (DWORD i = 0; i < info.groups.GroupCount; ++i)
        if (IsWellKnownSid(info.groups.Groups[i].Sid, WinBuiltinAdministratorsSid) &&
            (info.groups.Groups[i].Attributes & (SE_GROUP_ENABLED | SE_GROUP_USE_FOR_DENY_ONLY)) == SE_GROUP_ENABLED)
            return true;
    return false;
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
