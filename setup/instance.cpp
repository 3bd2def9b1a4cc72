// The single-instance guard: a private namespace that only administrators can make,
// and the global event that older setups look for, taken as another setup's only when its owner
// is Administrators or SYSTEM. A name that anybody else holds stops no setup.
#include <windows.h>
#include <sddl.h>
#include <aclapi.h>

#include "setup/setup.h"

namespace {

// In the global namespace: a run as SYSTEM in session 0 and an administrator's in session 1
// would otherwise both pass, and the second one's preparation would empty the first one's work
// folder under it.
const char kGlobalEvent[] = "Global\\evnt_Vemlo_stpDamon";
// A private namespace is seen from every session; its boundary holds the Administrators group,
// so only a process with that group enabled can make it.
const wchar_t kBoundary[] = L"Vemlo";
const char kNamespace[] = "VemloSetup";
const char kAdminsOnly[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";
const char kOwnedByAdmins[] = "O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

HANDLE g_namespace = NULL;

// Security attributes from SDDL text; the caller frees sa->lpSecurityDescriptor with LocalFree
// (null when it could not be made: then the object gets the default security).
SECURITY_ATTRIBUTES* MakeSecurity(const char* sddl, SECURITY_ATTRIBUTES* sa)
{
    sa->nLength = sizeof *sa;
    sa->bInheritHandle = FALSE;
    sa->lpSecurityDescriptor = NULL;
    ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sa->lpSecurityDescriptor, NULL);
    return sa;
}

// Whether the object's owner is Administrators or SYSTEM: only an elevated administrator or the
// system can have made it so (a standard user may not name a group she lacks as owner).
bool OwnedByAdministrators(HANDLE object)
{
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR security = NULL;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL, NULL,
                        &security) != ERROR_SUCCESS)
        return false;
    bool admins = owner && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid));
    LocalFree(security);
    return admins;
}

// The global event, made owned by Administrators. A token that may not name that group as owner
// is no administrator's: that run is stopped as such right after, so the name is left alone.
InstanceName ClaimGlobal(HANDLE* event)
{
    SECURITY_ATTRIBUTES sa;
    *event = CreateEventA(MakeSecurity(kOwnedByAdmins, &sa), FALSE, FALSE, kGlobalEvent);
    DWORD error = GetLastError();
    LocalFree(sa.lpSecurityDescriptor);
    if (!*event) return error == ERROR_INVALID_OWNER ? kNameOurs : kNameTaken;  // else another kind, or denied
    if (error != ERROR_ALREADY_EXISTS) return kNameOurs;
    InstanceName found = OwnedByAdministrators(*event) ? kNameSetup : kNameTaken;
    CloseHandle(*event);
    *event = NULL;
    return found;
}

// The private namespace itself is the guard: only one process can make it, and it lasts while a
// handle to it is open (held in g_namespace).
InstanceName ClaimPrivate()
{
    // Wine has no private namespaces: its boundary descriptor is always null.
    HANDLE boundary = CreateBoundaryDescriptorW(kBoundary, 0);
    if (!boundary) return kNameUnsupported;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    InstanceName found = kNameFailed;
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, admins, &size) &&
        AddSIDToBoundaryDescriptor(&boundary, admins)) {
        SECURITY_ATTRIBUTES sa;
        g_namespace = CreatePrivateNamespaceA(MakeSecurity(kAdminsOnly, &sa), boundary, kNamespace);
        found = g_namespace ? kNameOurs : GetLastError() == ERROR_ALREADY_EXISTS ? kNameSetup : kNameFailed;
        LocalFree(sa.lpSecurityDescriptor);
    }
    DeleteBoundaryDescriptor(boundary);
    return found;
}

}  // namespace

InstanceVerdict DecideInstance(InstanceName global, InstanceName privateName)
{
    if (global == kNameSetup || privateName == kNameSetup) return kInstanceAnotherSetup;
    if (privateName == kNameOurs || global == kNameOurs) return kInstanceGuarded;
    // The global name is taken by somebody else. Where the system has private namespaces, that
    // one could not be made either: nothing guards the run.
    return privateName == kNameUnsupported ? kInstanceUnguarded : kInstanceNoGuard;
}

InstanceVerdict ClaimSetupInstance()
{
    InstanceName global = ClaimGlobal(&g_hInstanceEvent);
    InstanceVerdict verdict = DecideInstance(global, ClaimPrivate());
    if (verdict == kInstanceAnotherSetup || verdict == kInstanceNoGuard) ReleaseSetupInstance();
    return verdict;
}

void ReleaseSetupInstance()
{
    if (g_hInstanceEvent) CloseHandle(g_hInstanceEvent);
    g_hInstanceEvent = NULL;
    if (g_namespace) CloseHandle(g_namespace);  // as ClosePrivateNamespace without its destroy flag
    g_namespace = NULL;
}
