// Digest files (.vrf) of the client's settings files: the digest key, making and verifying.
#include "custom/custom.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "base/files.h"
#include "base/handles.h"
#include "base/text.h"
#include "log/log.h"

namespace {

const DWORD kSaltSize = kVrfSaltSize;
const DWORD kDigestSize = kVrfDigestSize;
const DWORD kIconSize = kVrfIconSize;

const DWORD kIconStampOffset = 512;
const DWORD kIconMinSize = kIconStampOffset + kIconSize;

struct NamedPair {
    const char* ini;
    const char* vrf;
    const char* subfolder;  // below the run directory, for a make without a folder
};
const NamedPair kCustomPair = {CUSTOM_INI, CUSTOM_VRF, "custom"};
const NamedPair kUninstallPair = {UNINSTALL_INFO_INI, UNINSTALL_INFO_VRF, "custom"};
const NamedPair kWbqPair = {WBQ_UNINSTALL_INI, WBQ_UNINSTALL_VRF, "WBQ"};

void FixedIconBlock(unsigned char* block) { core_VrfFixedIcon(block); }

// Reads exactly n bytes from the start of path into buffer. A file that turns out shorter than
// its measured size (changed meanwhile) is a failure, not a hash over stale buffer bytes.
bool ReadExactly(const char* path, DWORD offset, unsigned char* buffer, DWORD n)
{
    FileHandle file(utl_OpenFileForRead(path));
    if (!file.Valid()) return false;
    if (offset && SetFilePointer(file.Get(), (LONG)offset, NULL, FILE_BEGIN) != offset) return false;
    DWORD done = 0;
    while (done < n) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer + done, n - done, &got, NULL) || got == 0) return false;
        done += got;
    }
    return true;
}

// Size of a settings file that may be hashed: 1 with *size, 0 unreadable, -1 too large.
int SettingsSize(const char* path, DWORD limit, DWORD* size)
{
    DWORD high = 0, low = 0;
    if (!utl_GetFileSize(path, &high, &low)) return 0;
    if (high != 0 || low > limit) return -1;
    *size = low;
    return 1;
}

int Fail(DWORD* result, DWORD code)
{
    if (result) *result = code;
    return 0;
}

int MakeDigest(const char* iniPath, const char* vrfPath, bool named, DWORD* result)
{
    if (!iniPath || !vrfPath) return Fail(result, VRF_ERR_SIZE);
    DWORD n = 0;
    int sized = SettingsSize(iniPath, named ? VRF_NAMED_LIMIT : VRF_GENERAL_LIMIT, &n);
    if (sized == 0) return Fail(result, VRF_ERR_SIZE);
    if (sized < 0) return Fail(result, VRF_ERR_TOO_LARGE);
    // The salt: the C library's generator seeded with the time in seconds, each byte 0..254.
    unsigned char file[VRF_FILE_SIZE];
    srand((unsigned)time(NULL));
    for (DWORD i = 0; i < kSaltSize; ++i) file[i] = (unsigned char)(rand() % 255);

    unsigned char settings[VRF_GENERAL_LIMIT];
    if (!ReadExactly(iniPath, 0, settings, n)) return Fail(result, VRF_ERR_OPEN);
    unsigned char icon[kIconSize];
    FixedIconBlock(icon);
    if (!core_VrfDigest(settings, n, file, named ? icon : NULL, file + kSaltSize)) return Fail(result, VRF_ERR_KEY);

    utl_DeleteFile(vrfPath);  // clears a read-only attribute first
    FileHandle out(CreateFileA(vrfPath, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL));
    if (!out.Valid()) return Fail(result, VRF_ERR_CREATE);
    DWORD written = 0;
    if (!WriteFile(out.Get(), file, sizeof file, &written, NULL) || written != sizeof file)
        return Fail(result, VRF_ERR_WRITE);
    return 1;
}

// icon: the block to hash for a named pair; NULL for the general pair.
int VerifyDigest(const char* iniPath, const char* vrfPath, DWORD limit, const unsigned char* icon)
{
    if (!iniPath || !vrfPath) return 0;
    DWORD high = 0, low = 0;
    if (!utl_GetFileSize(vrfPath, &high, &low) || high != 0 || low != VRF_FILE_SIZE) return 0;
    unsigned char vrf[VRF_FILE_SIZE];
    if (!ReadExactly(vrfPath, 0, vrf, sizeof vrf)) return 0;
    DWORD n = 0;
    if (SettingsSize(iniPath, limit, &n) != 1) return 0;
    unsigned char settings[VRF_GENERAL_LIMIT];
    if (!ReadExactly(iniPath, 0, settings, n)) return 0;
    return core_VrfMatches(vrf, sizeof vrf, settings, n, limit, icon);
}

// folder\name, or (folder NULL) <run directory>\subfolder\name.
bool PairPath(char* out, const char* folder, const char* subfolder, const char* name)
{
    if (folder) return utl_JoinPath(out, MAX_PATH, folder, name) != 0;
    char dir[MAX_PATH];
    if (!getCurRunPath(dir, sizeof dir, 1) || !utl_Append(dir, sizeof dir, subfolder)) return false;
    return utl_JoinPath(out, MAX_PATH, dir, name) != 0;
}

int MakeNamed(const NamedPair& pair, DWORD* result, const char* folder)
{
    char ini[MAX_PATH], vrf[MAX_PATH];
    if (!PairPath(ini, folder, pair.subfolder, pair.ini) || !PairPath(vrf, folder, pair.subfolder, pair.vrf))
        return Fail(result, VRF_ERR_SIZE);
    return MakeDigest(ini, vrf, true, result);
}

int VerifyNamed(const NamedPair& pair, const char* folder, const unsigned char* icon)
{
    char ini[MAX_PATH], vrf[MAX_PATH];
    if (!folder || !utl_JoinPath(ini, sizeof ini, folder, pair.ini) || !utl_JoinPath(vrf, sizeof vrf, folder, pair.vrf))
        return 0;
    unsigned char fixed[kIconSize];
    FixedIconBlock(fixed);
    return VerifyDigest(ini, vrf, VRF_NAMED_LIMIT, icon ? icon : fixed);
}

}  // namespace

int utl_DeriveDigestKey(const unsigned char* seed, DWORD seedLength, unsigned char* key, DWORD* keyLength)
{
    if (!keyLength) return 0;
    uint32_t length = *keyLength;
    if (!core_DeriveDigestKey(seed, seedLength, key, &length)) return 0;
    *keyLength = length;
    return 1;
}

int utl_ReadIconStamp(const char* iconPath, unsigned char* block)
{
    if (!iconPath || !block || !utl_FileExists(iconPath)) return 0;
    DWORD high = 0, low = 0;
    if (!utl_GetFileSize(iconPath, &high, &low) || high != 0 || low < kIconMinSize) return 0;
    unsigned char stamp[kIconSize] = {};
    if (!ReadExactly(iconPath, kIconStampOffset, stamp, kIconSize)) return 0;
    memcpy(block, stamp, kIconSize);
    return 1;
}

int CusIniVerify(const char* folder, int iconOption)
{
    if (!folder) return 0;
    unsigned char icon[kIconSize];
    FixedIconBlock(icon);
    char ini[MAX_PATH];
    if (iconOption && utl_JoinPath(ini, sizeof ini, folder, kCustomPair.ini) &&
        GetPrivateProfileIntA("LogoOptions", "CustomIcon", 0, ini) != 0) {
        char name[128] = "", iconPath[MAX_PATH];
        GetPrivateProfileStringA("LogoOptions", "CusIconName", "", name, sizeof name, ini);
        // A missing, short or unreadable icon file leaves the fixed block.
        if (name[0] && utl_JoinPath(iconPath, sizeof iconPath, folder, name)) utl_ReadIconStamp(iconPath, icon);
    }
    return VerifyNamed(kCustomPair, folder, icon);
}

int UninstallInfoVerify(const char* folder) { return VerifyNamed(kUninstallPair, folder, NULL); }

int WBQUninstallVerify(const char* folder) { return VerifyNamed(kWbqPair, folder, NULL); }

int IniFileVerify(const char* iniPath, const char* vrfPath)
{
    if (!vrfPath || !utl_FileExists(vrfPath)) return 0;
    return VerifyDigest(iniPath, vrfPath, VRF_GENERAL_LIMIT, NULL);
}

int CusIniMakeVrf(DWORD* result, const char* folder) { return MakeNamed(kCustomPair, result, folder); }

int UninstallInfoMakeVrf(DWORD* result, const char* folder) { return MakeNamed(kUninstallPair, result, folder); }

int WBQUninstallMakeVrf(DWORD* result, const char* folder) { return MakeNamed(kWbqPair, result, folder); }

int IniFileMakeVrf(const char* iniPath, const char* vrfPath, DWORD* result)
{
    return MakeDigest(iniPath, vrfPath, false, result);
}

int utl_MakeVrfFile(const char* iniPath, const char* vrfPath, int namedPair, DWORD* result)
{
    return MakeDigest(iniPath, vrfPath, namedPair != 0, result);
}

int utl_VerifyVrfFile(const char* iniPath, const char* vrfPath, int namedPair)
{
    if (!namedPair) return IniFileVerify(iniPath, vrfPath);
    unsigned char fixed[kIconSize];
    FixedIconBlock(fixed);
    return VerifyDigest(iniPath, vrfPath, VRF_NAMED_LIMIT, fixed);
}
