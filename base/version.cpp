// The one loader of version.dll: from the system folder, never from beside the program.
#include "base/version.h"

#include "base/text.h"

DWORD utl_LoadVersionApi(VersionApi* api)
{
    api->dll.Reset(LoadLibraryExA("version.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!api->dll.Valid() && GetLastError() == ERROR_INVALID_PARAMETER) {
        // A system without the search flags (no KB2533623): the same file by its full path.
        char system[MAX_PATH], path[MAX_PATH];
        UINT n = GetSystemDirectoryA(system, sizeof system);
        if (n == 0 || n >= sizeof system || !utl_JoinPath(path, sizeof path, system, "version.dll"))
            return ERROR_PATH_NOT_FOUND;
        api->dll.Reset(LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH));
    }
    if (!api->dll.Valid()) {
        DWORD err = GetLastError();
        return err ? err : ERROR_MOD_NOT_FOUND;
    }
    api->getSize = reinterpret_cast<VerGetSizeFn>(GetProcAddress(api->dll.Get(), "GetFileVersionInfoSizeA"));
    api->getInfo = reinterpret_cast<VerGetInfoFn>(GetProcAddress(api->dll.Get(), "GetFileVersionInfoA"));
    api->query = reinterpret_cast<VerQueryFn>(GetProcAddress(api->dll.Get(), "VerQueryValueA"));
    if (!api->getSize || !api->getInfo || !api->query) return ERROR_PROC_NOT_FOUND;
    return 0;
}
