// Customisation files and integrity: MD5 and the .vrf digest files, the customisation store
// (reginfo folder) and the client's settings-file helpers.
#pragma once
#include <windows.h>

// ---- Integrity digests ------------------------------------------------------------------------
// A settings file "X.ini" is guarded by "X.vrf": 240 salt bytes (each 0..254), then the MD5 of
// the settings bytes + salt + (named pairs) a 32-byte icon block + the 30-byte digest key.

// RFC 1321 MD5 of length bytes.
void utl_Md5Buffer(unsigned char* digest, const void* data, DWORD length);
// MD5 of a whole file into digest (capacity >= 16). 1 on success; 0 when an argument is bad, the
// file is missing or unreadable, or it ends before the size measured at the start (a file that
// shrinks while it is read gives 0, never a digest of part of it).
int utl_Md5File(unsigned char* digest, DWORD capacity, const char* path);
// RFC 1994 CHAP response: MD5(identifier, secret without its NUL, 16 challenge bytes).
void utl_Md5ChapResponse(unsigned char* digest, const unsigned char* challenge, const char* secret,
                         unsigned char identifier);

// Builds the digest key: 5 bytes per seed byte (seed length 6..20) into key. *keyLength is the
// capacity on entry (at least 5 * seedLength) and the key length on success. 0 on bad
// arguments, with nothing written.
int utl_DeriveDigestKey(const unsigned char* seed, DWORD seedLength, unsigned char* key, DWORD* keyLength);
// Copies bytes 512..543 of an icon file of at least 544 bytes into block (32 bytes). 1 on
// success; 0 with block untouched otherwise.
int utl_ReadIconStamp(const char* iconPath, unsigned char* block);

// Digest result codes of the make operations.
const DWORD VRF_ERR_SIZE = 301;      // size of the settings file unreadable (also: missing)
const DWORD VRF_ERR_TOO_LARGE = 302; // settings file over its pair's limit
const DWORD VRF_ERR_OPEN = 303;      // settings file could not be opened or read whole
const DWORD VRF_ERR_CREATE = 304;    // digest file could not be created
const DWORD VRF_ERR_WRITE = 305;     // writing the digest file failed
const DWORD VRF_ERR_KEY = 306;       // the digest key could not be built

// Size limits of the settings file: named pairs (with icon block) and the general pair.
const DWORD VRF_NAMED_LIMIT = 7820;
const DWORD VRF_GENERAL_LIMIT = 7852;
const DWORD VRF_FILE_SIZE = 256;

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

// ---- Client settings files --------------------------------------------------------------------
