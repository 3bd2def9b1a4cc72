// The work folder of an elevated setup belongs to the administrators: owned by them, with a
// protected DACL, so a standard user can neither plant nor swap what the setup unpacks and runs.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <string.h>

#include "base/files.h"
#include "base/handles.h"
#include "base/text.h"
#include "setup/setup.h"
#include "setup/workdir_verdict.h"

namespace {

const DWORD kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
// The held work folder: listed, and its owner and DACL read and set through the handle.
const DWORD kHoldAccess = GENERIC_READ | WRITE_DAC | WRITE_OWNER;

struct WorkDirSecurity {
    BYTE system[SECURITY_MAX_SID_SIZE];
    BYTE admins[SECURITY_MAX_SID_SIZE];
    BYTE users[SECURITY_MAX_SID_SIZE];
    BYTE acl[512];
    SECURITY_DESCRIPTOR sd;
};

bool MakeSid(WELL_KNOWN_SID_TYPE type, BYTE* out)
{
    DWORD size = SECURITY_MAX_SID_SIZE;
    return CreateWellKnownSid(type, NULL, out, &size) != 0;
}

// SYSTEM and Administrators full control, Users read and execute; inherited by everything below.
bool BuildSecurity(WorkDirSecurity* s)
{
    if (!MakeSid(WinLocalSystemSid, s->system) || !MakeSid(WinBuiltinAdministratorsSid, s->admins) ||
        !MakeSid(WinBuiltinUsersSid, s->users))
        return false;
    PACL acl = reinterpret_cast<PACL>(s->acl);
    return InitializeAcl(acl, sizeof s->acl, ACL_REVISION) &&
           AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_ALL_ACCESS, s->system) &&
           AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_ALL_ACCESS, s->admins) &&
           AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, s->users) &&
           InitializeSecurityDescriptor(&s->sd, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorOwner(&s->sd, s->admins, FALSE) &&
           SetSecurityDescriptorDacl(&s->sd, TRUE, acl, FALSE) &&
           SetSecurityDescriptorControl(&s->sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

// Sets owner and protected DACL on the held folder, through its handle.
bool Apply(HANDLE dir, WorkDirSecurity* s)
{
    return SetSecurityInfo(dir, SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           s->admins, NULL, reinterpret_cast<PACL>(s->acl), NULL) == ERROR_SUCCESS;
}

// Whether dacl holds the ACEs of ours, one for one and byte for byte.
bool SameAces(PACL dacl, PACL ours)
{
    if (!dacl || dacl->AceCount != ours->AceCount) return false;
    for (WORD i = 0; i < ours->AceCount; ++i) {
        void* a = NULL;
        void* b = NULL;
        if (!GetAce(dacl, i, &a) || !GetAce(ours, i, &b)) return false;
        WORD size = static_cast<ACE_HEADER*>(b)->AceSize;
        if (static_cast<ACE_HEADER*>(a)->AceSize != size || memcmp(a, b, size) != 0) return false;
    }
    return true;
}


// The facts the rules judge, read off the held folder: its owner and whether its DACL is
// protected and holds our ACEs. One whose security cannot be read is another's, with no DACL
// (false).
bool ReadFacts(HANDLE dir, WorkDirSecurity* s, bool keepsOwners, WorkDirFacts* facts)
{
    *facts = {kOwnerOther, false, false, keepsOwners};
    PSID sid = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR sd = NULL;
    if (GetSecurityInfo(dir, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sid, NULL,
                        &dacl, NULL, &sd) != ERROR_SUCCESS)
        return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    facts->owner = !sid                                                ? kOwnerOther
                   : IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ? kOwnerAdmins
                   : IsWellKnownSid(sid, WinLocalSystemSid)            ? kOwnerSystem
                   : IsOwnUser(sid)                                    ? kOwnerSelf
                                                                       : kOwnerOther;
    facts->daclProtected = GetSecurityDescriptorControl(sd, &control, &revision) && (control & SE_DACL_PROTECTED);
    facts->daclOurs = SameAces(dacl, reinterpret_cast<PACL>(s->acl));
    LocalFree(sd);
    return true;
}

// The verdict on the held folder at place. Above the work folder: whoever owns it can change
// its DACL and delete or rename what lies in it.
WorkDirVerdict Judge(WorkDirPlace place, HANDLE dir, WorkDirSecurity* s, bool keepsOwners)
{
    WorkDirFacts facts;
    ReadFacts(dir, s, keepsOwners, &facts);
    return WorkDirJudge(place, facts);
}

// Whether this system keeps the owner that a new file is given. Wine does not: it reports every
// file as owned by the user who runs it. Asked once, of a file made for it in dir (held by the
// caller) and read back through its own handle, so nothing anybody else made can answer.
bool KeepsOwners(const char* dir, WorkDirSecurity* s)
{
    static int known = -1;
    if (known >= 0) return known == 1;
    char probe[MAX_PATH];
    utl_Format(probe, sizeof probe, "%s\\owner%u.probe", dir, (unsigned)GetCurrentProcessId());
    SECURITY_ATTRIBUTES sa = {sizeof sa, &s->sd, FALSE};
    FileHandle file(CreateFileA(probe, READ_CONTROL | DELETE, 0, &sa, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, NULL));
    // A probe that cannot be made or read tells nothing, and is not remembered.
    WorkDirFacts facts;
    if (!file.Valid() || !ReadFacts(file.Get(), s, true, &facts)) return WorkDirKeepsOwners(kOwnerOther);
    known = WorkDirKeepsOwners(facts.owner) ? 1 : 0;
    return known == 1;
}

// Everything before the last backslash of path.
bool ParentOf(const char* path, char* out, unsigned size)
{
    lstrcpynA(out, path, size);
    char* slash = const_cast<char*>(utl_FindLastBackslash(out));
    if (!slash) return false;
    *slash = '\0';
    return true;
}

}  // namespace

bool IsOwnUser(PSID sid)
{
    HANDLE raw = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    KernelHandle token(raw);
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD size = 0;
    return GetTokenInformation(token.Get(), TokenUser, &info, sizeof info, &size) && EqualSid(info.user.User.Sid, sid);
}

int WorkDirIsSecure(const char* path)
{
    WorkDirSecurity s;
    FileHandle dir(utl_HoldDir(path, READ_CONTROL));
    return dir.Valid() && BuildSecurity(&s) && Judge(kPlaceFound, dir.Get(), &s, true) == kWorkDirUse ? 1 : 0;
}

HANDLE SecureWorkDir(const char* path)
{
    WorkDirSecurity s;
    char parent[MAX_PATH];
    if (!path || !BuildSecurity(&s) || !ParentOf(path, parent, sizeof parent)) return INVALID_HANDLE_VALUE;

    // The folder above is held through the preparation, so it cannot be renamed or replaced
    // meanwhile. One that is a link is refused: through it, the work folder would lie wherever
    // the link's maker wanted it.
    FileHandle base(utl_HoldOrMakeDir(parent));
    if (!base.Valid()) return INVALID_HANDLE_VALUE;
    // A C:\tmp that a standard user made (anybody may make folders in C:\) is hers: it is not
    // used, and not taken from her either.
    const bool keepsOwners = KeepsOwners(parent, &s);
    FileHandle above(utl_HoldDir(parent, READ_CONTROL));
    if (!above.Valid() || Judge(kPlaceParent, above.Get(), &s, keepsOwners) != kWorkDirUse)
        return INVALID_HANDLE_VALUE;

    // Decided on the folder held open, never on its name: a swap after the open cannot change
    // what was decided on, and one before it shows in the handle's final path.
    FileHandle dir(utl_HoldDir(path, kHoldAccess));
    if (dir.Valid() && Judge(kPlaceFound, dir.Get(), &s, keepsOwners) == kWorkDirMakeAnew) dir.Close();
    if (!dir.Valid()) {
        // Not exactly ours (another owner, a DACL open to inheritance, a link): whatever is there
        // goes whole, a link itself and never what it points to, and the folder is made anew, so
        // that no handle opened under the old security can still reach it. A plain file in the
        // way stays, and then the folder cannot be made.
        SECURITY_ATTRIBUTES sa = {sizeof sa, &s.sd, FALSE};
        if (utl_FileExists(path) || !utl_DeleteDirTree(path) || !CreateDirectoryA(path, &sa))
            return INVALID_HANDLE_VALUE;
        dir.Reset(utl_HoldDir(path, kHoldAccess));
        if (!dir.Valid() || Judge(kPlaceMade, dir.Get(), &s, keepsOwners) != kWorkDirUse) return INVALID_HANDLE_VALUE;
    }
    // Emptied, then secured (again) through the handle: whatever a run or anyone else left there
    // goes, and what cannot go fails the preparation. Empty, the folder passes no inherited
    // change down to anything below it.
    if (!utl_EmptyDir(path) || !Apply(dir.Get(), &s)) return INVALID_HANDLE_VALUE;
    return dir.Release();
}

int WorkDirSecurityText(char* out, unsigned size)
{
    WorkDirSecurity s;
    char* text = NULL;
    if (!out || size == 0 || !BuildSecurity(&s) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(&s.sd, SDDL_REVISION_1,
                                                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                              &text, NULL))
        return 0;
    int fits = lstrlenA(text) < (int)size;
    if (fits) lstrcpyA(out, text);
    LocalFree(text);
    return fits;
}

HANDLE HoldForLaunch(const char* path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}
