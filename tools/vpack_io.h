// What vpack asks of the platform: packing, closing, walking and unpacking packages, the stored
// formats' files, and a few file operations. On Windows these are the library's own functions
// (with their traces); on Linux the core's rules over POSIX files. Both give the same bytes and
// the same error numbers.
#pragma once

#include <string>
#include <vector>

#include "core/package_walk.h"

// Splits a path at its last separator: "a.txt" gives "." and "a.txt". On Windows \ and / both
// separate (double-byte characters stepped over) and "C:x" gives "C:." and "x"; on Linux only /
// does. False when the name part is empty.
bool VpackSplitPath(const std::string& path, std::string* dir, std::string* name);

// Adds file as one record (named by its bare file name) to package: a new package when add is
// false (any old file replaced), appended otherwise. 0, or the package error number (150-157,
// 166, 168); a failed append leaves the package as it was.
unsigned long VpackPackFile(const std::string& package, const std::string& file, bool add);
// Appends the end record with the payload digest. 0, or the error number (168: closed already).
unsigned long VpackClosePackage(const std::string& package);
// Unpacks the package in path from offset into the existing folder dir; on a digest mismatch
// (167) the files it made are deleted again. 0, or the error number.
unsigned long VpackUnpack(const std::string& path, const std::string& dir, unsigned long offset);

struct VpackListed {
    std::string name;
    unsigned long size;
};
// Walks the package in path from offset with every check of the reader and the digest check
// (check receives the outcome; a mismatch is not an error here). 0, or the reader's error number.
unsigned long VpackCheckPackage(const std::string& path, unsigned long offset, PackDigestCheck* check,
                                std::vector<VpackListed>* records);

bool VpackDirExists(const std::string& path);
bool VpackMakeDir(const std::string& path);
// Moves from onto to, replacing it. False when that fails.
bool VpackReplaceFile(const std::string& from, const std::string& to);
void VpackRemoveFile(const std::string& path);

// The stored password (PWD_* codes of core/password.h).
int VpackEncryptPwd(const std::string& password, std::string* text);
int VpackDecryptPwd(const std::string& text, std::string* password);
// Digest files: 0 or a VRF_ERR_* code of core/vrf.h; namedPair hashes the fixed icon block.
unsigned long VpackMakeVrf(const std::string& ini, const std::string& vrf, bool namedPair);
bool VpackVerifyVrf(const std::string& ini, const std::string& vrf, bool namedPair);
// MD5 of a whole file (16 bytes). False when it cannot be read whole.
bool VpackMd5File(const std::string& path, unsigned char* digest);
