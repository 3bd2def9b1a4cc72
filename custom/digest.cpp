// Digest files (.vrf) of the client's settings files: the digest key, making and verifying.
#include "custom/custom.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "log/handles.h"
#include "log/log.h"
#include "package/package.h"

namespace {

// The client's own digest constants: the seed and the table from which the 30-byte digest key
// is built at run time. Digest files made with other constants do not verify here.
const unsigned char kDigestSeed[6] = {0x1B, 0x8B, 0x1C, 0x42, 0x7F, 0x7A};
const unsigned char kDigestTable[128] = {
    0xAD, 0xC6, 0xCF, 0x10, 0x86, 0x17, 0x84, 0x83, 0x22, 0xCB, 0xD3, 0x5E, 0x88, 0x9E, 0x29, 0x83,
    0xA2, 0xEA, 0x56, 0xFA, 0x81, 0xD2, 0x83, 0xD2, 0xE1, 0xC0, 0xD3, 0xF8, 0x3A, 0x86, 0x4B, 0x8A,
    0x0D, 0x3F, 0x6E, 0xB8, 0x5C, 0xAF, 0x13, 0x7C, 0xFC, 0x4E, 0x04, 0xED, 0x97, 0xD6, 0x66, 0xB2,
    0x9B, 0x0E, 0xE1, 0x1D, 0x2F, 0x66, 0xA4, 0x87, 0x6F, 0x27, 0xBD, 0x88, 0x44, 0x02, 0xB4, 0x50,
    0x19, 0x17, 0x8B, 0x65, 0x84, 0xEB, 0x5D, 0x1E, 0x7E, 0x8B, 0xFA, 0x86, 0x9C, 0x15, 0xD0, 0x50,
    0x76, 0x3F, 0x3B, 0x1E, 0x4E, 0x5B, 0x0E, 0xC9, 0xF7, 0x06, 0x39, 0x6B, 0x29, 0xDE, 0x26, 0xE0,
    0x53, 0x38, 0x87, 0xF6, 0xD5, 0x5C, 0x1A, 0x3D, 0x2C, 0x68, 0x4B, 0xFC, 0xCF, 0xDF, 0x92, 0x64,
    0xA0, 0x23, 0x5E, 0x6D, 0xDA, 0xEE, 0x92, 0x38, 0x4C, 0x2E, 0xA9, 0xFB, 0xD9, 0x24, 0xB5, 0xBA,
};

const DWORD kSaltSize = 240;
const DWORD kDigestSize = 16;
const DWORD kIconSize = 32;
const DWORD kKeyCapacity = 100;
// One hash input: settings bytes, salt, icon block and key (7820 + 240 + 32 + 100 = 8192).
const DWORD kWorkSize = 8192;

const DWORD kIconStampOffset = 512;
const DWORD kIconMinSize = kIconStampOffset + kIconSize;

struct NamedPair {
    const char* ini;
    const char* vrf;
    const char* subfolder;  // below the run directory, for a make without a folder
};
const NamedPair kCustomPair = {"VemloCustom.ini", "VemloCustom.vrf", "custom"};
const NamedPair kUninstallPair = {"VemloUninstallInfo.ini", "VemloUninstallInfo.vrf", "custom"};
const NamedPair kWbqPair = {"WBQUninstall.ini", "WBQUninstall.vrf", "WBQ"};

void FixedIconBlock(unsigned char* block)
{
    memset(block, 0, kIconSize);
    block[0] = 0xFF;
}

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

// Appends salt, icon block (when given) and key after the n settings bytes in work and hashes.
bool HashInput(unsigned char* work, DWORD n, const unsigned char* salt, const unsigned char* icon,
               unsigned char* digest)
{
    unsigned char key[kKeyCapacity];
    DWORD keyLength = sizeof key;
    if (!utl_DeriveDigestKey(kDigestSeed, sizeof kDigestSeed, key, &keyLength)) return false;
    DWORD at = n;
    memcpy(work + at, salt, kSaltSize);
    at += kSaltSize;
    if (icon) {
        memcpy(work + at, icon, kIconSize);
        at += kIconSize;
    }
    memcpy(work + at, key, keyLength);
    at += keyLength;
    utl_Md5Buffer(digest, work, at);
    SecureZeroMemory(key, sizeof key);
    return true;
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
    unsigned char probe[kKeyCapacity];
    DWORD probeLength = sizeof probe;
    if (!utl_DeriveDigestKey(kDigestSeed, sizeof kDigestSeed, probe, &probeLength)) return Fail(result, VRF_ERR_KEY);

    // The salt: the C library's generator seeded with the time in seconds, each byte 0..254.
    unsigned char file[VRF_FILE_SIZE];
    srand((unsigned)time(NULL));
    for (DWORD i = 0; i < kSaltSize; ++i) file[i] = (unsigned char)(rand() % 255);

    unsigned char work[kWorkSize];
    if (!ReadExactly(iniPath, 0, work, n)) return Fail(result, VRF_ERR_OPEN);
    unsigned char icon[kIconSize];
    FixedIconBlock(icon);
    if (!HashInput(work, n, file, named ? icon : NULL, file + kSaltSize)) return Fail(result, VRF_ERR_KEY);

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
    unsigned char salt[kSaltSize], stored[kDigestSize];
    if (!ReadExactly(vrfPath, 0, salt, kSaltSize) || !ReadExactly(vrfPath, kSaltSize, stored, kDigestSize))
        return 0;
    DWORD n = 0;
    if (SettingsSize(iniPath, limit, &n) != 1) return 0;
    unsigned char work[kWorkSize];
    if (!ReadExactly(iniPath, 0, work, n)) return 0;
    unsigned char digest[kDigestSize];
    if (!HashInput(work, n, salt, icon, digest)) return 0;
    return memcmp(digest, stored, kDigestSize) == 0 ? 1 : 0;
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
    if (!seed || !key || !keyLength || seedLength < 6 || seedLength > 20 || *keyLength < 5 * seedLength) return 0;
    DWORD o = 0;
    for (DWORD i = 0; i < seedLength; ++i) {
        DWORD p = (seed[i] + i) % 128;
        key[o++] = kDigestTable[p];
        for (int k = 0; k < 4; ++k) {
            p = (p + i) % 128;
            key[o++] = kDigestTable[p];
        }
    }
    *keyLength = o;
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
