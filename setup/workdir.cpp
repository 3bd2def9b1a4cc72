// The work folder of an elevated setup belongs to the administrators: owned by them, with a
// protected DACL, so a standard user can neither plant nor swap what the setup unpacks and runs.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "log/handles.h"
#include "log/log.h"
#include "package/package.h"
#include "setup/setup.h"

namespace {

const DWORD kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

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

bool IsLink(const char* path)
{
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Sets owner and protected DACL on an existing folder.
bool Apply(const char* path, WorkDirSecurity* s)
{
    return SetNamedSecurityInfoA(const_cast<char*>(path), SE_FILE_OBJECT,
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                     PROTECTED_DACL_SECURITY_INFORMATION,
                                 s->admins, NULL, reinterpret_cast<PACL>(s->acl), NULL) == ERROR_SUCCESS;
}

// What the folder's security says: whether Administrators or SYSTEM own it, and whether its
// DACL is protected from inheritance.
bool ReadSecurity(const char* path, bool* adminOwned, bool* protectedDacl)
{
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR sd = NULL;
    if (GetNamedSecurityInfoA(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, NULL, &dacl, NULL, &sd) != ERROR_SUCCESS)
        return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    *adminOwned = owner && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid));
    *protectedDacl = dacl && GetSecurityDescriptorControl(sd, &control, &revision) && (control & SE_DACL_PROTECTED);
    LocalFree(sd);
    return true;
}

}  // namespace

int WorkDirIsSecure(const char* path)
{
    bool adminOwned = false, protectedDacl = false;
    return ReadSecurity(path, &adminOwned, &protectedDacl) && adminOwned && protectedDacl ? 1 : 0;
}

int SecureWorkDir(const char* path)
{
    WorkDirSecurity s;
    if (!path || !BuildSecurity(&s)) return 0;

    // The folder above must be a real folder: through a link, the work folder would lie wherever
    // the link's maker wanted it.
    char parent[MAX_PATH];
    lstrcpynA(parent, path, sizeof parent);
    if (char* slash = const_cast<char*>(utl_FindLastBackslash(parent))) {
        *slash = '\0';
        if (IsLink(parent)) return 0;
        if (!utl_DirExists(parent) && !CreateDirectoryA(parent, NULL)) return 0;
    }

    if (IsLink(path)) {
        // Planted link: remove the link itself, never what it points to.
        if (!RemoveDirectoryA(path) || Exists(path)) return 0;
    } else if (utl_FileExists(path)) {
        return 0;  // a plain file in the way: the work folder cannot be made (as before)
    } else if (utl_DirExists(path)) {
        // Somebody else's folder: its content cannot be trusted, so it goes whole. The
        // administrators' own folder is reused and (re)secured below.
        bool adminOwned = false, protectedDacl = false;
        if (!ReadSecurity(path, &adminOwned, &protectedDacl) || !adminOwned) {
            if (!utl_DeleteDirTree(path)) return 0;
        }
    }

    if (!utl_DirExists(path)) {
        SECURITY_ATTRIBUTES sa = {sizeof sa, &s.sd, FALSE};
        if (!CreateDirectoryA(path, &sa)) return 0;
    }
    if (Apply(path, &s)) return 1;
    // It could not be secured: made anew once, then given up.
    if (!utl_DeleteDirTree(path)) return 0;
    SECURITY_ATTRIBUTES sa = {sizeof sa, &s.sd, FALSE};
    return CreateDirectoryA(path, &sa) && Apply(path, &s) ? 1 : 0;
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

HANDLE HoldWorkDir(const char* path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
}
