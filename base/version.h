// version.dll's three functions, loaded at run time from the system folder only.
#pragma once
#include <windows.h>

#include "base/handles.h"

// version.dll is not a KnownDLL: a static import would let a file of that name beside the
// program be loaded in its place, so it is loaded by hand from the system folder.
using VerGetSizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using VerGetInfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using VerQueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

// The library stays loaded while the holder lives; the function pointers are valid as long.
struct VersionApi {
    ModuleHandle dll;
    VerGetSizeFn getSize = nullptr;  // GetFileVersionInfoSizeA
    VerGetInfoFn getInfo = nullptr;  // GetFileVersionInfoA
    VerQueryFn query = nullptr;      // VerQueryValueA
};

// Loads version.dll from the system folder into api. 0 with all three functions set; else the
// system error number (ERROR_PATH_NOT_FOUND when the system folder's path does not fit,
// ERROR_PROC_NOT_FOUND when a function is missing), and then api may hold the library but no
// function is to be called.
DWORD utl_LoadVersionApi(VersionApi* api);
