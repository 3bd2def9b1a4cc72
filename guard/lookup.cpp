// Uninstall-password lookup: is the installed client protected, and what is its stored
// password? Settings files first (restored from the system folder's backups), then the registry.
#include <string.h>

#include "base/files.h"
#include "base/text.h"
#include "custom/custom.h"
#include "guard/guard.h"
#include "log/log.h"

namespace {

const char kPrefix[] = "IsUninstallPrompt:";
const char kWbqPrefix[] = "IsWBQUninstallPrompt:";

// The lookups write at most this many bytes into the caller's password buffer.
const DWORD kPasswordBuffer = 128;

const char kRegKey[] = "SOFTWARE\\Vemlo";
const char kOldRegKey[] = "SOFTWARE\\R9D\\Vemlo";
const char kWbqRegKey[] = "SOFTWARE\\Vemlo\\WBQ";
const char kNewUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{8E41B2D6-3C7A-4A95-B1F0-6D2C8E9A7B43}";
const char kOldUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5A3E7C21-9B4D-4F10-8C2E-1D6B9A0E4F37}";

void Log(const char* module, const char* prefix, const char* text, const char* more = "")
{
    utl_LogLine(module, prefix, "%s%s", text, more);
}

// Lines noted during the file checks go out together as one line.
struct Note {
    char text[512] = "";
    void Add(const char* s) { utl_Append(text, sizeof text, s); }
    void Flush(const char* module)
    {
        if (text[0]) Log(module, kPrefix, text);
        text[0] = '\0';
    }
};

// The system folder that holds the backup copies: %SystemRoot%\system32. 0 when SystemRoot is
// not set (or too long): then there is no backup to copy, and every restore fails.
int GetSystemFolder(char* out, DWORD size)
{
    char root[MAX_PATH + 1];
    DWORD n = GetEnvironmentVariableA("SystemRoot", root, sizeof root);
    if (n == 0 || n >= sizeof root) return 0;
    return utl_JoinPath(out, size, root, "system32");
}

// Copies the backup of name from the system folder over folder\name. A folder or system folder
// of NULL, or a path that does not fit, is a failed copy.
int CopyBackup(const char* system, const char* folder, const char* name)
{
    char from[MAX_PATH], to[MAX_PATH];
    if (!system || !folder || !utl_JoinPath(from, sizeof from, system, name) ||
        !utl_JoinPath(to, sizeof to, folder, name))
        return 0;
    return CopyFileA(from, to, FALSE) ? 1 : 0;
}

// Source 1 or 2: the flag and the password from folder\name, section "Functions".
int ReadFromSettings(const char* module, const char* folder, const char* name, const char* success,
                     char* password)
{
    char path[MAX_PATH];
    if (!utl_JoinPath(path, sizeof path, folder, name)) {
        password[0] = '\0';  // as if the file had no such keys
        return 0;
    }
    int flag = (int)GetPrivateProfileIntA("Functions", "Uninstall", 0, path);
    if (GetPrivateProfileStringA("Functions", "Install", "", password, kPasswordBuffer, path) > 0)
        Log(module, kPrefix, success);
    return flag;
}

// Source 0: the registry, "SOFTWARE\Vemlo" before "SOFTWARE\R9D\Vemlo".
int ReadFromRegistry(const char* module, char* password)
{
    DWORD flag = 0;
    const char* key = kRegKey;
    if (utl_RegReadDword(HKEY_LOCAL_MACHINE, kRegKey, "Uninstall", &flag)) {
        Log(module, kPrefix, "Get Uninstall from reg succ");
    } else {
        Log(module, kPrefix, "Get Uninstall from reg failed");
        if (utl_RegReadDword(HKEY_LOCAL_MACHINE, kOldRegKey, "Uninstall", &flag))
            key = kOldRegKey;
        else
            Log(module, kPrefix, "Get Uninstall from old reg failed");
    }
    if (utl_RegReadString(HKEY_LOCAL_MACHINE, key, "UninstallPwd", password, kPasswordBuffer))
        Log(module, kPrefix, "Get UninstallPwd from reg Succ.");
    else
        Log(module, kPrefix, "Get UninstallPwd from reg fail,Return true.");
    return (int)flag;
}

}  // namespace

int IsUninstallPrompt(const char* module, char* password)
{
    if (!password) {
        Log(module, kPrefix, "parameter err.");
        return 0;
    }
    int flag = 0;
    int source = 0;
    Note note;
    char reginfoBuf[MAX_PATH], systemBuf[MAX_PATH];
    const char* reginfo = NULL;

    const char* common = utl_GetCommonProgramFiles();
    if (!common) {
        note.Add(" utl_GetCommonProgramFiles failed!");
    } else {
        if (utl_JoinPath(reginfoBuf, sizeof reginfoBuf, common, REGINFO_SUBFOLDER)) reginfo = reginfoBuf;
        const char* system = GetSystemFolder(systemBuf, sizeof systemBuf) ? systemBuf : NULL;

        if (utl_LoadCusIniFile(module)) {
            source = 1;
        } else {
            note.Add("verifying VemloCustom info FAILED with Err ");
            note.Add(" ,So copy bak files!");
            if (!CopyBackup(system, reginfo, CUSTOM_INI))
                note.Add("CopyFile VemloCustom.ini return false!");
            else if (!CopyBackup(system, reginfo, CUSTOM_VRF))
                note.Add("CopyFile VemloCustom.vrf return false!");
            else if (CusIniVerify(reginfo, 0))
                source = 1;
            else
                note.Add("verifying VemloCustom info FAILED again!");
        }
        note.Flush(module);

        if (source == 0) {
            if (reginfo && UninstallInfoVerify(reginfo)) {
                source = 2;
            } else {
                note.Add("verifying uninstall info FAILED with Err ");
                note.Add(" ,So copy bak files!");
                if (!CopyBackup(system, reginfo, UNINSTALL_INFO_INI))
                    note.Add("CopyFile VemloUninstallInfo.ini return false!");
                else if (!CopyBackup(system, reginfo, UNINSTALL_INFO_VRF))
                    note.Add("CopyFile VemloUninstallInfo.vrf return false!");
                else if (UninstallInfoVerify(reginfo))
                    source = 2;
                else
                    note.Add("verifying Uninstall info FAILED again!");
            }
        }
    }
    note.Flush(module);

    if (source == 1)
        flag = ReadFromSettings(module, reginfo, CUSTOM_INI, "Get UninstallPwd from VemloCustom.ini succ.", password);
    else if (source == 2)
        flag = ReadFromSettings(module, reginfo, UNINSTALL_INFO_INI, "Get UninstallPwd from VemloUninstallInfo.ini succ.",
                                password);
    else
        flag = ReadFromRegistry(module, password);

    if (flag == 0) {
        Log(module, kPrefix, "!dwResult, return false.");
        return 0;
    }

    // Only an installed client is protected: its uninstall entry (of either installer) shows it.
    char version[MAX_PATH] = "";
    if (utl_RegReadString(HKEY_LOCAL_MACHINE, kNewUninstallKey, "DisplayVersion", version, sizeof version)) {
        Log(module, kPrefix, "Get Version from reg succ. ", version);
        Log(module, kPrefix, "Need prompt uninstall password Dlg");
        return 1;
    }
    Log(module, kPrefix, "Get Version from new reg failed, try old.");
    if (utl_RegReadString(HKEY_LOCAL_MACHINE, kOldUninstallKey, "DisplayVersion", version, sizeof version)) {
        Log(module, kPrefix, "Get Version from old reg succ, return true.");
        return 1;
    }
    Log(module, kPrefix, "Get Version from old reg failed, return false.");
    return 0;
}

int IsWBQUninstallPrompt(const char* module, char* password)
{
    if (!password) {
        Log(module, kWbqPrefix, "parameter err.");
        return 0;
    }
    char folder[MAX_PATH] = {};
    if (!utl_RegReadString(HKEY_LOCAL_MACHINE, kWbqRegKey, "WBQPath", folder, sizeof folder)) {
        Log(module, kWbqPrefix, "Get WBQ install path fail.");
        return 0;
    }
    if (!utl_DirExists(folder)) {
        Log(module, kWbqPrefix, "WBQ install path, not exist.");
        return 0;
    }
    char systemBuf[MAX_PATH];
    const char* system = GetSystemFolder(systemBuf, sizeof systemBuf) ? systemBuf : NULL;

    // Missing files are restored before anything is verified.
    char vrf[MAX_PATH], ini[MAX_PATH];
    int haveVrf = utl_JoinPath(vrf, sizeof vrf, folder, WBQ_UNINSTALL_VRF);
    int haveIni = utl_JoinPath(ini, sizeof ini, folder, WBQ_UNINSTALL_INI);
    if ((!haveVrf || !utl_FileExists(vrf)) && !CopyBackup(system, folder, WBQ_UNINSTALL_VRF)) {
        Log(module, kWbqPrefix, "WBQUninstall.vrf not exist, copyBak WBQUninstall.vrf return false!");
        return 0;
    }
    if ((!haveIni || !utl_FileExists(ini)) && !CopyBackup(system, folder, WBQ_UNINSTALL_INI)) {
        Log(module, kWbqPrefix, "WBQUninstall.ini not exist, copyBak WBQUninstall.ini return false!");
        return 0;
    }

    if (!WBQUninstallVerify(folder)) {
        const char* head = "WBQ Uninstall Verify failed. copy bak";
        if (!CopyBackup(system, folder, WBQ_UNINSTALL_INI)) {
            Log(module, kWbqPrefix, head, "CopyFile WBQUninstall.ini return false!");
            return 0;
        }
        if (!CopyBackup(system, folder, WBQ_UNINSTALL_VRF)) {
            Log(module, kWbqPrefix, head, "CopyFile WBQUninstall.vrf return false!");
            return 0;
        }
        if (!WBQUninstallVerify(folder)) {
            Log(module, kWbqPrefix, head, " re Verify fail");
            return 0;
        }
    }

    if (GetPrivateProfileIntA("CusInfo", "WBQUninstall", 0, ini) == 0) {
        Log(module, kWbqPrefix, "NO need uninstall password Dlg");
        return 0;
    }
    if (GetPrivateProfileStringA("CusInfo", "WBQUninstallPass", "", password, kPasswordBuffer, ini) > 0)
        Log(module, kWbqPrefix, "Get UninstallPwd from WBQUninstall.ini succ.");
    Log(module, kWbqPrefix, "Need prompt uninstall password Dlg");
    return 1;
}
