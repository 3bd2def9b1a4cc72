// Customisation files and integrity: MD5 and the .vrf digest files, the customisation store
// (reginfo folder) and the client's settings-file helpers.
#pragma once
#include <windows.h>

#include "core/md5.h"
#include "core/vrf.h"

// ---- Settings files ---------------------------------------------------------------------------
// The names of the client's settings files and their digest files are the core's (core/vrf.h),
// so that vpack on Linux spells them the same.

// ---- Integrity digests ------------------------------------------------------------------------
// A settings file "X.ini" is guarded by "X.vrf" (its layout and digest are the core's,
// core/vrf.h); MD5 and the CHAP response are the core's too (core/md5.h).

// RFC 1321 MD5 of length bytes.
void utl_Md5Buffer(unsigned char* digest, const void* data, DWORD length);
// MD5 of a whole file into digest (capacity >= 16). 1 on success; 0 when an argument is bad, the
// file is missing or unreadable, or it ends before the size measured at the start (a file that
// shrinks while it is read gives 0, never a digest of part of it).
int utl_Md5File(unsigned char* digest, DWORD capacity, const char* path);

// Builds the digest key: 5 bytes per seed byte (seed length 6..20) into key. *keyLength is the
// capacity on entry (at least 5 * seedLength) and the key length on success. 0 on bad
// arguments, with nothing written.
int utl_DeriveDigestKey(const unsigned char* seed, DWORD seedLength, unsigned char* key, DWORD* keyLength);
// Copies bytes 512..543 of an icon file of at least 544 bytes into block (32 bytes). 1 on
// success; 0 with block untouched otherwise.
int utl_ReadIconStamp(const char* iconPath, unsigned char* block);

// The make operations' result codes (VRF_ERR_*) are the core's, beside the layout.

// Size limits of the settings file: named pairs (with icon block) and the general pair.
const DWORD VRF_NAMED_LIMIT = kVrfNamedLimit;
const DWORD VRF_GENERAL_LIMIT = kVrfGeneralLimit;
const DWORD VRF_FILE_SIZE = kVrfFileSize;

// Verify: 1 when the digest file matches its settings file, 0 in every other case (a null
// folder included). Paths are folder\VemloCustom.ini and folder\VemloCustom.vrf, etc.
// iconOption non-zero: with LogoOptions/CustomIcon != 0, the icon block comes from bytes
// 512..543 of the icon file LogoOptions/CusIconName in the same folder.
int CusIniVerify(const char* folder, int iconOption);
int UninstallInfoVerify(const char* folder);
int WBQUninstallVerify(const char* folder);
int IniFileVerify(const char* iniPath, const char* vrfPath);

// Make: (re)write the digest file for the settings file as it stands. Non-zero on success
// (result untouched); 0 with a VRF_ERR_* code in *result on failure. A null folder means the
// run directory's subfolder "custom" ("WBQ" for the WBQUninstall pair). Failures before the
// digest file is replaced (301, 302, 303, 306) leave the old digest file in place.
int CusIniMakeVrf(DWORD* result, const char* folder);
int UninstallInfoMakeVrf(DWORD* result, const char* folder);
int WBQUninstallMakeVrf(DWORD* result, const char* folder);
int IniFileMakeVrf(const char* iniPath, const char* vrfPath, DWORD* result);

// The same for any two paths, for tools: namedPair non-zero hashes the fixed icon block and
// allows 7820 bytes, zero is the general pair (7852 bytes, no icon block).
int utl_MakeVrfFile(const char* iniPath, const char* vrfPath, int namedPair, DWORD* result);
int utl_VerifyVrfFile(const char* iniPath, const char* vrfPath, int namedPair);

// ---- Customisation store and restore ----------------------------------------------------------
// The reginfo folder, <common program files>\Vemlo\Pelvar Client\reginfo, holds VemloCustom.ini,
// VemloUninstallInfo.ini and their digest files; older clients kept them under "Tolmar-7Vex".

// The reginfo folder below the common program files folder.
const char REGINFO_SUBFOLDER[] = "Vemlo\\Pelvar Client\\reginfo";

// The common program files folder: %CommonProgramFiles%, else
// "<system drive>:\Program Files\Common Files". Cached for the life of the process on the first
// success; the text belongs to the library (do not change or free it). NULL when it cannot be
// found (the cache stays empty).
const char* utl_GetCommonProgramFiles();

// 1 when the reginfo folder (created with its parents if missing) holds a VemloCustom pair that
// verifies, either already or after copying the four files over from the old reginfo folder
// (whose top folder is then removed). 0 otherwise; every failure is a line under module's tag.
int utl_LoadCusIniFile(const char* module);

// ---- Client settings files --------------------------------------------------------------------

// Reads section/key of path (at most 127 characters) into out, filling the rest of out up to
// capacity with zeros. Returns the number of characters read; 0 for a missing or empty value,
// a null argument or a capacity of 128 or less, and then out is untouched.
int utl_ReadIniString(const char* path, const char* section, const char* key, char* out,
                      DWORD capacity);
// Writers of one value; each returns the platform's success flag (non-zero when written).
BOOL utl_WriteIniString(const char* section, const char* key, const char* text, const char* path);
BOOL utl_WriteIniInt(const char* section, const char* key, int value, const char* path);
BOOL utl_WriteSupportedConnTypes(const char* section, int connTypes, const char* path);
// [Components] ProtoComponents, then FuncComponents; 0 without the second when the first fails.
BOOL utl_WriteComponents(DWORD protoComponents, DWORD funcComponents, const char* path);

// The custom options of VemloCustom.ini.
struct CustomOptions {
    int CustomIcon;          // [LogoOptions] CustomIcon
    int SilentInstall;       // [OtherOptions] SilentInstall
    int SilentUpd;           // [OtherOptions] SilentUpd
    int MakeSetup;           // [WBQ] MakeSetup
    char CusIconName[261];   // [LogoOptions] CusIconName; a missing name leaves the field as it was
};
// 1 with options filled from folder\VemloCustom.ini; 0 with options untouched when it is missing.
int utl_ReadCustomOptions(const char* folder, CustomOptions* options);

// Settings result codes of utl_SetCustomIniValue (besides 0 and the digest codes 301..306).
const DWORD CUS_ERR_NO_FILE = 1001;      // folder\VemloCustom.ini does not exist
const DWORD CUS_ERR_NOT_VERIFIED = 1002; // the pair did not verify before the change
const DWORD CUS_ERR_WRITE = 1003;        // the write failed; the file was moved to "<name>.lzj"
const DWORD CUS_ERR_RESIGN = 1005;       // written, but re-signing failed without a digest code
// Changes section/key of folder\VemloCustom.ini to value, only when the pair verifies first, and
// signs the file again. 0 when the value was already equal (nothing written) or was written and
// signed; otherwise one of the codes above or the digest code of the failed re-signing.
DWORD utl_SetCustomIniValue(const char* folder, const char* section, const char* key,
                            const char* value);

// 1 when path has a section named exactly section (case-sensitive), else 0.
int utl_IniSectionExists(const char* section, const char* path);

// File version of a file, or why it could not be read.
union FileVersionInfo {
    struct {
        WORD wMajor, wMinor, wBuild, wRevision;
    } ver;                 // on success
    struct {
        DWORD dwError;     // system error number (0 for stage 2)
        WORD wStage;       // FILEVER_STAGE_*
    } err;                 // on failure
};
const WORD FILEVER_STAGE_SIZE = 1;   // asking for the size of the version resource
const WORD FILEVER_STAGE_ALLOC = 2;  // allocating the buffer for it
const WORD FILEVER_STAGE_READ = 3;   // reading the version resource
const WORD FILEVER_STAGE_QUERY = 4;  // querying its root block for the fixed file information
// 1 with info->ver filled; 0 with info->err filled. No log line. version.dll is loaded from the
// system folder at run time.
int utl_QueryFileVersion(const char* path, FileVersionInfo* info);

// "Vemlo PC 1.2 (X4567)" for [Common] Version = V1.23-4567X of the run directory's verified
// VemloCustomSet.ini; NULL when there is none. Once an 11-character version has been read the
// answer is final for the process. The text belongs to the library.
const char* utl_GetVersionCaption();
