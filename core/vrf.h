// The digest files (.vrf) of the client's settings files: the digest key and the bytes a digest
// file holds, without any file access.
#pragma once
#include <cstdint>

// The names of the client's settings files and their digest files, wherever they lie (reginfo
// folder, the system folder's backups, the WBQ folder, the run directory).
const char CUSTOM_INI[] = "VemloCustom.ini";
const char CUSTOM_VRF[] = "VemloCustom.vrf";
const char UNINSTALL_INFO_INI[] = "VemloUninstallInfo.ini";
const char UNINSTALL_INFO_VRF[] = "VemloUninstallInfo.vrf";
const char WBQ_UNINSTALL_INI[] = "WBQUninstall.ini";
const char WBQ_UNINSTALL_VRF[] = "WBQUninstall.vrf";
const char CUSTOM_SET_INI[] = "VemloCustomSet.ini";
const char CUSTOM_SET_VRF[] = "VemloCustomSet.vrf";

// A settings file "X.ini" is guarded by "X.vrf": 240 salt bytes (each 0..254), then the MD5 of
// the settings bytes + salt + (named pairs) a 32-byte icon block + the 30-byte digest key.
const uint32_t kVrfSaltSize = 240;
const uint32_t kVrfDigestSize = 16;
const uint32_t kVrfFileSize = kVrfSaltSize + kVrfDigestSize;
const uint32_t kVrfIconSize = 32;
// Size limits of the settings file: named pairs (with icon block) and the general pair.
const uint32_t kVrfNamedLimit = 7820;
const uint32_t kVrfGeneralLimit = 7852;

// Builds the digest key: 5 bytes per seed byte (seed length 6..20) into key. *keyLength is the
// capacity on entry (at least 5 * seedLength) and the key length on success. 0 on bad
// arguments, with nothing written.
int core_DeriveDigestKey(const uint8_t* seed, uint32_t seedLength, uint8_t* key, uint32_t* keyLength);
// The icon block of a named pair when no icon file gives one: 0xFF and 31 zero bytes.
void core_VrfFixedIcon(uint8_t* block);
// The digest (16 bytes) of n settings bytes under salt (kVrfSaltSize bytes) and, for a named
// pair, icon (kVrfIconSize bytes; null for the general pair), with the client's digest key.
// 1 on success; 0 when the key cannot be built (digest untouched).
int core_VrfDigest(const uint8_t* settings, uint32_t n, const uint8_t* salt, const uint8_t* icon,
                   uint8_t* digest);
// 1 when vrf (vrfLen bytes, as read from a digest file) is a digest file of the n settings
// bytes: exactly kVrfFileSize bytes, n within limit, and the stored digest matches. 0 otherwise.
int core_VrfMatches(const uint8_t* vrf, uint32_t vrfLen, const uint8_t* settings, uint32_t n, uint32_t limit,
                    const uint8_t* icon);

// Result codes of making a digest file (the library's and vpack's make operations).
const uint32_t VRF_ERR_SIZE = 301;       // size of the settings file unreadable (also: missing)
const uint32_t VRF_ERR_TOO_LARGE = 302;  // settings file over its pair's limit
const uint32_t VRF_ERR_OPEN = 303;       // settings file could not be opened or read whole
const uint32_t VRF_ERR_CREATE = 304;     // digest file could not be created
const uint32_t VRF_ERR_WRITE = 305;      // writing the digest file failed
const uint32_t VRF_ERR_KEY = 306;        // the digest key could not be built
