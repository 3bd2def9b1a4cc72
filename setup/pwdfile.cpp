// The password file of an unattended upgrade: read by the elevated setup through one handle,
// and only when no user but an administrator could have put its line there.
#include <windows.h>
#include <aclapi.h>

#include "base/files.h"
#include "base/handles.h"
#include "setup/setup.h"

namespace {

// Rights that change what the file says, or who may change it.
const DWORD kWriteRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// A line of 32 double-byte characters, its CR LF, and one byte to see that it goes on.
const int kReadBytes = kPwdMaxChars * 2 + 3;

// NT SERVICE\TrustedInstaller, which owns the system's own files.
bool IsTrustedInstaller(PSID sid)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID ti = NULL;
    if (!AllocateAndInitializeSid(&nt, 6, 80, 956008885, 3418522649u, 1831038044, 1853292631, 2271478464u, 0, 0,
                                  &ti))
        return false;
    bool same = EqualSid(ti, sid) != 0;
    FreeSid(ti);
    return same;
}

PwdPrincipal Principal(PSID sid)
{
    if (!sid || !IsValidSid(sid)) return kPwdOther;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
        IsTrustedInstaller(sid) || IsOwnUser(sid))
        return kPwdTrusted;
    // S-1-3-4: the owner's rights, whoever owns it.
    if (IsWellKnownSid(sid, WinCreatorOwnerRightsSid)) return kPwdOwnerRights;
    return kPwdOther;
}

// What the DACL says, ACE by ACE. An allowing ACE whose SID cannot be found where the plain
// ACE keeps it (object ACEs) counts as a grant to anybody.
PwdAceFact AceFact(const ACE_HEADER* header)
{
    PwdAceFact fact = {false, (header->AceFlags & INHERIT_ONLY_ACE) != 0, 0, kPwdOther};
    switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        const ACCESS_ALLOWED_ACE* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        fact.allows = true;
        fact.mask = ace->Mask;
        fact.who = Principal(const_cast<DWORD*>(&ace->SidStart));
        break;
    }
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        fact.allows = true;
        fact.mask = reinterpret_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(header)->Mask;
        break;
    default:  // deny and system ACEs
        break;
    }
    return fact;
}

PwdRefusal JudgeSecurity(HANDLE file, DWORD* systemError)
{
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR sd = NULL;
    DWORD rc = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                               NULL, &dacl, NULL, &sd);
    if (rc != ERROR_SUCCESS) {
        *systemError = rc;
        return kPwdFileNoSecurity;
    }
    const int kMaxAces = 64;
    PwdAceFact facts[kMaxAces];
    int count = 0;
    bool tooMany = false;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* ace = NULL;
        if (!GetAce(dacl, i, &ace)) continue;
        if (count == kMaxAces) {
            tooMany = true;
            break;
        }
        facts[count++] = AceFact(static_cast<const ACE_HEADER*>(ace));
    }
    PwdRefusal verdict = PwdFileSecurityRule(Principal(owner) == kPwdTrusted, dacl != NULL, facts, count);
    LocalFree(sd);
    // More ACEs than are looked at: not judged, so not trusted.
    return verdict == kPwdUsable && tooMany ? kPwdFileUserWritable : verdict;
}

// The full path with its long names, as the handle's final path spells it.
bool FullLongPath(const char* path, char* full, DWORD size)
{
    char* name = NULL;
    DWORD n = GetFullPathNameA(path, size, full, &name);
    if (n == 0 || n >= size) return false;
    char longer[MAX_PATH];
    n = GetLongPathNameA(full, longer, sizeof longer);
    if (n != 0 && n < sizeof longer && n < size) lstrcpynA(full, longer, (int)size);
    return true;
}

}  // namespace

PwdRefusal PwdFileSecurityRule(bool ownerTrusted, bool hasDacl, const PwdAceFact* aces, int count)
{
    // The owner may always rewrite the DACL, so a user's file is a user's whatever it says.
    if (!ownerTrusted) return kPwdFileUserOwned;
    if (!hasDacl) return kPwdFileNoDacl;
    for (int i = 0; i < count; ++i) {
        const PwdAceFact& a = aces[i];
        if (!a.allows || a.inheritOnly || !(a.mask & kWriteRights)) continue;
        if (a.who == kPwdTrusted || a.who == kPwdOwnerRights) continue;  // the owner is trusted here
        return kPwdFileUserWritable;
    }
    return kPwdUsable;
}

PwdRefusal PwdFirstLine(const char* bytes, int n, bool (*isLead)(unsigned char), int* lineBytes)
{
    *lineBytes = 0;
    int end = 0;
    while (end < n && bytes[end] != '\n') ++end;
    int length = end > 0 && bytes[end - 1] == '\r' ? end - 1 : end;
    // A file saved as UTF-16 or with a UTF-8 byte-order mark would give a password nobody typed.
    const unsigned char* u = reinterpret_cast<const unsigned char*>(bytes);
    if (n >= 2 && ((u[0] == 0xFF && u[1] == 0xFE) || (u[0] == 0xFE && u[1] == 0xFF))) return kPwdNotText;
    if (n >= 3 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) return kPwdNotText;
    for (int i = 0; i < length; ++i)
        if (bytes[i] == '\0') return kPwdNotText;
    PwdRefusal rule = PwdTextRule(bytes, length, isLead);
    if (rule == kPwdUsable) *lineBytes = length;
    return rule;
}

PwdRefusal PwdTextRule(const char* text, int n, bool (*isLead)(unsigned char))
{
    if (n == 0) return kPwdEmpty;
    int chars = 0;
    for (int i = 0; i < n; ++i, ++chars)
        if (isLead((unsigned char)text[i]) && i + 1 < n) ++i;
    return chars > kPwdMaxChars ? kPwdTooLong : kPwdUsable;
}

bool PwdIsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

PwdRefusal ReadPwdFile(const char* path, char* password, int* n, DWORD* systemError)
{
    *n = 0;
    *systemError = 0;
    char full[MAX_PATH];
    if (!path || !*path || !FullLongPath(path, full, sizeof full)) {
        *systemError = ERROR_INVALID_NAME;
        return kPwdFileUnopened;
    }
    // Shared for reading only: nobody changes it while it is judged and read.
    FileHandle file(CreateFileA(full, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, NULL));
    if (!file.Valid()) {
        *systemError = GetLastError();
        return *systemError == ERROR_FILE_NOT_FOUND || *systemError == ERROR_PATH_NOT_FOUND ? kPwdFileMissing
                                                                                           : kPwdFileUnopened;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.Get(), &info)) {
        *systemError = GetLastError();
        return kPwdFileUnread;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || GetFileType(file.Get()) != FILE_TYPE_DISK)
        return kPwdFileNotFile;
    // A link could send the elevated setup to a file a user chose: the file is read only where
    // its name says, with nothing on the way that points elsewhere.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !utl_IsHandleAtPath(file.Get(), full))
        return kPwdFileLink;
    if (info.nNumberOfLinks > 1) return kPwdFileManyNames;
    PwdRefusal security = JudgeSecurity(file.Get(), systemError);
    if (security != kPwdUsable) return security;

    char bytes[kReadBytes];
    DWORD got = 0;
    if (!ReadFile(file.Get(), bytes, sizeof bytes, &got, NULL)) {
        *systemError = GetLastError();
        SecureZeroMemory(bytes, sizeof bytes);
        return kPwdFileUnread;
    }
    int length = 0;
    PwdRefusal line = PwdFirstLine(bytes, (int)got, PwdIsLeadByte, &length);
    if (line == kPwdUsable) {
        CopyMemory(password, bytes, (size_t)length);
        password[length] = '\0';
        *n = length;
    }
    SecureZeroMemory(bytes, sizeof bytes);
    return line;
}

const char* PwdRefusalText(PwdRefusal why)
{
    static const char* const kTexts[] = {
        "it can be used",
        "it does not exist",
        "it cannot be opened",
        "it is a link, or its path goes through one",
        "it has a second name (a hard link)",
        "it is not a file",
        "its owner and DACL cannot be read",
        "it belongs to somebody other than SYSTEM, Administrators or the account the setup runs as",
        "it has no DACL, so everybody may change it",
        "somebody other than SYSTEM, Administrators or the account the setup runs as may change it",
        "it cannot be read",
        "its first line is empty",
        "it is longer than 32 characters",
        "it is not text in the system's code page (a NUL byte or a byte-order mark)",
        "it was given more than once",
    };
    return kTexts[why];
}
