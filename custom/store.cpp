// Customisation store: the common program files folder and the reginfo folder, with the move
// of the customisation files from the older "Tolmar-7Vex" place.
#include <string.h>

#include "custom/custom.h"
// MakeSureDirectoryPathExists: imagehlp.dll, a known DLL that is always loaded from the system
// folder (after windows.h, which it needs).
#include <imagehlp.h>
#include "base/files.h"
#include "base/text.h"
#include "log/log.h"

namespace {

// The process-wide cache of the common program files folder; empty until a lookup succeeds.
char g_szCommonProgramFiles[MAX_PATH + 1];

const char kOldReginfoSub[] = "Tolmar-7Vex\\Pelvar Client\\reginfo";
const char kOldTopSub[] = "Tolmar-7Vex";

// The four files moved from the old place, in the order they are copied, with the line that
// names a failed copy.
struct MovedFile {
    const char* name;
    const char* failure;
};
const MovedFile kMovedFiles[] = {
    {CUSTOM_INI, "CopyFile VemloCustom.ini return false!"},
    {CUSTOM_VRF, "CopyFile VemloCustom.vrf return false!"},
    {UNINSTALL_INFO_INI, "CopyFile VemloUninstallInfo.ini return false!"},
    {UNINSTALL_INFO_VRF, "CopyFile VemloUninstallInfo.vrf return false!"},
};

void Log(const char* module, const char* text)
{
    utl_LogLine(module, "utl_LoadCusIniFile:", "%s", text);
}

// Creates dir with all missing parents. Returns 0 on success, else the system error number.
DWORD MakeDirectoryPath(const char* dir)
{
    char withSlash[MAX_PATH];
    withSlash[0] = '\0';
    // The helper creates the directories of a path up to its last backslash.
    if (!utl_Append(withSlash, sizeof withSlash, dir) || !utl_Append(withSlash, sizeof withSlash, "\\"))
        return ERROR_FILENAME_EXCED_RANGE;
    if (MakeSureDirectoryPathExists(withSlash)) return 0;
    DWORD err = GetLastError();
    return err ? err : ERROR_PATH_NOT_FOUND;
}

// Copies the four files from oldDir to newDir; NULL when all were copied, else the failure line.
const char* CopyMovedFiles(const char* oldDir, const char* newDir)
{
    for (const MovedFile& f : kMovedFiles) {
        char from[MAX_PATH], to[MAX_PATH];
        if (!utl_JoinPath(from, sizeof from, oldDir, f.name) || !utl_JoinPath(to, sizeof to, newDir, f.name) ||
            !CopyFileA(from, to, FALSE))
            return f.failure;
    }
    return NULL;
}

}  // namespace

const char* utl_GetCommonProgramFiles()
{
    if (g_szCommonProgramFiles[0]) return g_szCommonProgramFiles;

    DWORD n = GetEnvironmentVariableA("CommonProgramFiles", g_szCommonProgramFiles,
                                      sizeof g_szCommonProgramFiles);
    // A value too long for the buffer is reported by its needed size with nothing (or, on some
    // systems, a part) written: it is not taken, the fallback below is used instead.
    if (n > 0 && n < sizeof g_szCommonProgramFiles) return g_szCommonProgramFiles;
    g_szCommonProgramFiles[0] = '\0';

    char system[MAX_PATH + 1];
    UINT len = GetSystemDirectoryA(system, sizeof system);
    if (len == 0 || len > MAX_PATH) return NULL;
    g_szCommonProgramFiles[0] = system[0];
    g_szCommonProgramFiles[1] = '\0';
    utl_Append(g_szCommonProgramFiles, sizeof g_szCommonProgramFiles, ":\\Program Files\\Common Files");
    return g_szCommonProgramFiles;
}

int utl_LoadCusIniFile(const char* module)
{
    const char* common = utl_GetCommonProgramFiles();
    if (!common) {
        Log(module, " utl_GetCommonProgramFiles failed!");
        return 0;
    }

    char reginfo[MAX_PATH];
    DWORD err = 0;
    if (!utl_JoinPath(reginfo, sizeof reginfo, common, REGINFO_SUBFOLDER))
        err = ERROR_FILENAME_EXCED_RANGE;
    else if (!utl_DirExists(reginfo))
        err = MakeDirectoryPath(reginfo);
    if (err) {
        char text[96];
        utl_Format(text, sizeof text, "Create directory \"reginfo\" failed with ErrNo: %u.", err);
        Log(module, text);
        return 0;
    }

    if (CusIniVerify(reginfo, 0)) return 1;
    Log(module, "CusIniVerify new failed,try for old.");

    char oldReginfo[MAX_PATH];
    if (!utl_JoinPath(oldReginfo, sizeof oldReginfo, common, kOldReginfoSub) || !CusIniVerify(oldReginfo, 0)) {
        Log(module, "CusIniVerify old failed,return false.");
        return 0;
    }
    Log(module, "CusIniVerify old true,so copy files.");

    if (const char* failure = CopyMovedFiles(oldReginfo, reginfo)) {
        Log(module, failure);
        return 0;
    }
    char oldTop[MAX_PATH];
    if (utl_JoinPath(oldTop, sizeof oldTop, common, kOldTopSub)) utl_DeleteDirTree(oldTop);
    return 1;
}
