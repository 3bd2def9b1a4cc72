// Entry point of Setup.exe.
#include <windows.h>

#include "setup/setup.h"

namespace {

// Before anything else can load a DLL: take DLLs from the system folder only, never from the
// folder the setup was started from (usually Downloads, where anybody may have planted one).
void RestrictDllSearch()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesFn restrict =
        kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(GetProcAddress(kernel, "SetDefaultDllDirectories"))
               : NULL;
    if (restrict) restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryA("");  // also drops the current directory on systems without the above
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    RestrictDllSearch();
    // Held from the first moment: renaming or replacing Setup.exe while it waits for a password
    // must not change the package it installs.
    g_hSetupFile = OpenOwnImage(g_szSetupPath, sizeof g_szSetupPath);
    return SetupMain(instance, commandLine);
}
