// Client settings files: bounded reads and writes of ini values, the custom options, the guarded
// change of VemloCustom.ini, section test, file version query and the version caption.
#include <string.h>

#include "custom/custom.h"

#include "base/files.h"
#include "base/handles.h"
#include "base/text.h"
#include "base/version.h"
#include "core/settings_text.h"
#include "log/log.h"

namespace {

// Every value is read through a buffer of this many characters (127 and the NUL).
const DWORD kValueBuffer = 128;

// The version of VemloCustomSet.ini (11 characters) and the caption made from it (20).
char g_szVersion[12];
char g_szVersionCaption[21];

BOOL WriteUnsigned(const char* section, const char* key, DWORD value, const char* path)
{
    char text[16];
    utl_Format(text, sizeof text, "%u", value);
    return WritePrivateProfileStringA(section, key, text, path);
}

int VersionFailure(FileVersionInfo* info, DWORD error, WORD stage)
{
    info->err.dwError = error;
    info->err.wStage = stage;
    return 0;
}

}  // namespace

int utl_ReadIniString(const char* path, const char* section, const char* key, char* out, DWORD capacity)
{
    if (!path || !section || !key || !out || capacity <= kValueBuffer) return 0;
    char value[kValueBuffer];
    DWORD n = GetPrivateProfileStringA(section, key, "", value, sizeof value, path);
    if (n == 0) return 0;
    if (n >= sizeof value) n = sizeof value - 1;
    memcpy(out, value, n);
    memset(out + n, 0, capacity - n);
    return (int)n;
}

BOOL utl_WriteIniString(const char* section, const char* key, const char* text, const char* path)
{
    return WritePrivateProfileStringA(section, key, text, path);
}

BOOL utl_WriteIniInt(const char* section, const char* key, int value, const char* path)
{
    char text[16];
    utl_Format(text, sizeof text, "%d", value);
    return WritePrivateProfileStringA(section, key, text, path);
}

BOOL utl_WriteSupportedConnTypes(const char* section, int connTypes, const char* path)
{
    return utl_WriteIniInt(section, "SupportedConnTypes", connTypes, path);
}

BOOL utl_WriteComponents(DWORD protoComponents, DWORD funcComponents, const char* path)
{
    if (!WriteUnsigned("Components", "ProtoComponents", protoComponents, path)) return 0;
    return WriteUnsigned("Components", "FuncComponents", funcComponents, path);
}

int utl_ReadCustomOptions(const char* folder, CustomOptions* options)
{
    char path[MAX_PATH];
    if (!folder || !options || !utl_JoinPath(path, sizeof path, folder, CUSTOM_INI) || !utl_FileExists(path))
        return 0;
    options->CustomIcon = (int)GetPrivateProfileIntA("LogoOptions", "CustomIcon", 0, path);
    options->SilentInstall = (int)GetPrivateProfileIntA("OtherOptions", "SilentInstall", 0, path);
    options->SilentUpd = (int)GetPrivateProfileIntA("OtherOptions", "SilentUpd", 0, path);
    options->MakeSetup = (int)GetPrivateProfileIntA("WBQ", "MakeSetup", 0, path);
    utl_ReadIniString(path, "LogoOptions", "CusIconName", options->CusIconName, sizeof options->CusIconName);
    return 1;
}

DWORD utl_SetCustomIniValue(const char* folder, const char* section, const char* key, const char* value)
{
    // A null section or key would make the profile write delete a whole section or key.
    char path[MAX_PATH];
    if (!folder || !section || !key || !value || !utl_JoinPath(path, sizeof path, folder, CUSTOM_INI) ||
        !utl_FileExists(path))
        return CUS_ERR_NO_FILE;

    char current[kValueBuffer];
    GetPrivateProfileStringA(section, key, "", current, sizeof current, path);
    if (strcmp(current, value) == 0) return 0;

    if (!CusIniVerify(folder, 0)) return CUS_ERR_NOT_VERIFIED;

    if (!WritePrivateProfileStringA(section, key, value, path)) {
        // The file may now be half written: it is put aside so that nobody trusts it.
        char aside[MAX_PATH];
        aside[0] = '\0';
        if (utl_Append(aside, sizeof aside, path) && utl_Append(aside, sizeof aside, ".lzj"))
            MoveFileA(path, aside);
        return CUS_ERR_WRITE;
    }

    DWORD code = 0;
    if (CusIniMakeVrf(&code, folder)) return 0;
    return code ? code : CUS_ERR_RESIGN;
}

int utl_IniSectionExists(const char* section, const char* path)
{
    if (!section || !path) return 0;
    char small[kValueBuffer] = {};
    DWORD n = GetPrivateProfileSectionNamesA(small, sizeof small, path);
    if (n + 2 < sizeof small) return core_ListHasName(small, n + 1, section);
    // The list did not fit (the platform then returns size - 2): a file with many sections is
    // read again through larger buffers, up to 64 KB of names.
    for (DWORD size = 4096; size <= 65536; size *= 4) {
        HeapBlock block(HeapAlloc(GetProcessHeap(), 0, size));
        if (!block.Valid()) return 0;
        char* list = static_cast<char*>(block.Get());
        list[0] = list[1] = '\0';
        n = GetPrivateProfileSectionNamesA(list, size, path);
        if (n + 2 < size || size == 65536) return core_ListHasName(list, n + 1, section);
    }
    return 0;
}

int utl_QueryFileVersion(const char* path, FileVersionInfo* info)
{
    if (!info) return 0;
    if (!path) return VersionFailure(info, ERROR_INVALID_PARAMETER, FILEVER_STAGE_SIZE);
    VersionApi api;
    if (DWORD err = utl_LoadVersionApi(&api)) return VersionFailure(info, err, FILEVER_STAGE_SIZE);

    DWORD handle = 0;
    DWORD size = api.getSize(path, &handle);
    if (size == 0) return VersionFailure(info, GetLastError(), FILEVER_STAGE_SIZE);
    HeapBlock block(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (!block.Valid()) return VersionFailure(info, 0, FILEVER_STAGE_ALLOC);
    if (!api.getInfo(path, 0, size, block.Get())) return VersionFailure(info, GetLastError(), FILEVER_STAGE_READ);

    void* fixed = nullptr;
    UINT fixedLen = 0;
    if (!api.query(block.Get(), "\\", &fixed, &fixedLen))
        return VersionFailure(info, GetLastError(), FILEVER_STAGE_QUERY);
    // The resource comes from the file: a root block too short for the fixed information is a
    // failed query, not a read beyond it.
    if (!fixed || fixedLen < sizeof(VS_FIXEDFILEINFO))
        return VersionFailure(info, ERROR_RESOURCE_DATA_NOT_FOUND, FILEVER_STAGE_QUERY);
    const VS_FIXEDFILEINFO* ffi = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    info->ver.wMajor = HIWORD(ffi->dwFileVersionMS);
    info->ver.wMinor = LOWORD(ffi->dwFileVersionMS);
    info->ver.wBuild = HIWORD(ffi->dwFileVersionLS);
    info->ver.wRevision = LOWORD(ffi->dwFileVersionLS);
    return 1;
}

const char* utl_GetVersionCaption()
{
    if (!g_szVersion[0]) {
        char dir[MAX_PATH], ini[MAX_PATH], vrf[MAX_PATH];
        if (!getCurRunPath(dir, sizeof dir, 1)) return NULL;
        ini[0] = vrf[0] = '\0';
        if (!utl_Append(ini, sizeof ini, dir) || !utl_Append(ini, sizeof ini, CUSTOM_SET_INI) ||
            !utl_Append(vrf, sizeof vrf, dir) || !utl_Append(vrf, sizeof vrf, CUSTOM_SET_VRF))
            return NULL;
        if (!IniFileVerify(ini, vrf)) return NULL;
        // Read through a buffer wider than the version, so that a longer value is refused
        // instead of being cut to 11 characters.
        char version[kValueBuffer];
        if (GetPrivateProfileStringA("Common", "Version", "", version, sizeof version, ini) != 11) return NULL;
        memcpy(g_szVersion, version, 12);
        if (!strchr(g_szVersion, '-')) return NULL;
        char major[4], build[5], letter[2];
        memcpy(major, g_szVersion + 1, 3);   // characters 2..4
        major[3] = '\0';
        memcpy(build, g_szVersion + 6, 4);   // characters 7..10
        build[4] = '\0';
        letter[0] = g_szVersion[10];         // the 11th
        letter[1] = '\0';
        utl_Format(g_szVersionCaption, sizeof g_szVersionCaption, "Vemlo PC %s (%s%s)", major, letter, build);
    }
    return g_szVersionCaption[0] ? g_szVersionCaption : NULL;
}
