// The single-instance guard: an event in a private namespace that only administrators can make,
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
// so only a process with that group enabled can make it, and its security lets only
// Administrators and SYSTEM open it.
const wchar_t kBoundary[] = L"Vemlo";
const char kNamespace[] = "VemloSetup";
const char kNamespaceEvent[] = "VemloSetup\\evnt_Vemlo_stpDamon";
const char kAdminsOnly[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";
const char kOwnedByAdmins[] = "O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

HANDLE g_namespace = NULL;
HANDLE g_namespaceEvent = NULL;

// Owns a security descriptor made from SDDL text.
struct Security {
    explicit Security(const char* sddl)
    {
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = NULL;
        attributes.bInheritHandle = FALSE;
        made = ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                     &attributes.lpSecurityDescriptor, NULL) != 0;
    }
    ~Security()
    {
        if (attributes.lpSecurityDescriptor) LocalFree(attributes.lpSecurityDescriptor);
    }
    Security(const Security&) = delete;
    Security& operator=(const Security&) = delete;
    SECURITY_ATTRIBUTES* Get() { return made ? &attributes : NULL; }
    SECURITY_ATTRIBUTES attributes;
    bool made;
};

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof known;
    return sid && CreateWellKnownSid(type, NULL, known, &size) && EqualSid(sid, known);
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
    bool admins = IsWellKnown(owner, WinBuiltinAdministratorsSid) || IsWellKnown(owner, WinLocalSystemSid);
    LocalFree(security);
    return admins;
}

// The global event, made owned by Administrators (by the token's default owner when the token may
// not name that group, as a standard user's; she is stopped later as no administrator).
InstanceName ClaimGlobal(HANDLE* event)
{
    Security owned(kOwnedByAdmins);
    *event = CreateEventA(owned.Get(), FALSE, FALSE, kGlobalEvent);
    if (!*event && GetLastError() == ERROR_INVALID_OWNER) {
        Security plain(kAdminsOnly);
        *event = CreateEventA(plain.Get(), FALSE, FALSE, kGlobalEvent);
    }
    // No event of that name can be had: another kind of object, or one that denies us.
    if (!*event) return kNameTaken;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return kNameOurs;
    InstanceName found = OwnedByAdministrators(*event) ? kNameSetup : kNameTaken;
    CloseHandle(*event);
    *event = NULL;
    return found;
}

// The event in the private namespace; the namespace stays held in g_namespace.
InstanceName ClaimPrivate(HANDLE* event)
{
    *event = NULL;
    // Wine has no private namespaces: its boundary descriptor is always null.
    HANDLE boundary = CreateBoundaryDescriptorW(kBoundary, 0);
    if (!boundary) return kNameUnsupported;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    InstanceName found = kNameFailed;
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, admins, &size) &&
        AddSIDToBoundaryDescriptor(&boundary, admins)) {
        Security adminsOnly(kAdminsOnly);
        g_namespace = CreatePrivateNamespaceA(adminsOnly.Get(), boundary, kNamespace);
        if (!g_namespace && GetLastError() == ERROR_ALREADY_EXISTS) g_namespace = OpenPrivateNamespaceA(boundary, kNamespace);
        if (g_namespace) {
            *event = CreateEventA(adminsOnly.Get(), FALSE, FALSE, kNamespaceEvent);
            if (*event) {
                found = GetLastError() == ERROR_ALREADY_EXISTS ? kNameSetup : kNameOurs;
                if (found == kNameSetup) {
                    CloseHandle(*event);
                    *event = NULL;
                }
            }
        }
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
    HANDLE global = NULL, privateEvent = NULL;
    InstanceName g = ClaimGlobal(&global);
    InstanceName p = ClaimPrivate(&privateEvent);
    g_hInstanceEvent = global;
    g_namespaceEvent = privateEvent;
    InstanceVerdict verdict = DecideInstance(g, p);
    if (verdict == kInstanceAnotherSetup || verdict == kInstanceNoGuard) ReleaseSetupInstance();
    return verdict;
}

void ReleaseSetupInstance()
{
    HANDLE* held[] = {&g_hInstanceEvent, &g_namespaceEvent};
    for (HANDLE* h : held) {
        if (*h) CloseHandle(*h);
        *h = NULL;
    }
    if (g_namespace) ClosePrivateNamespace(g_namespace, 0);
    g_namespace = NULL;
}
