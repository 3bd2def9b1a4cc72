// Payload package: file-system helpers and work directory (package format, reader and writer
// are declared below them).
#pragma once
#include <windows.h>

#include "core/package_walk.h"
#include "core/payload_digest.h"
#include "core/record_name.h"
#include "core/transform.h"

// ---- File-system helpers (module tag "UtlFile") ----------------------------------------------

// 1 when at least one entry matching path (a path or a wildcard pattern) is a plain file.
int utl_FileExists(const char* path);
// 1 when at least one entry matching path is a directory.
int utl_DirExists(const char* path);
// 1 when the file did not exist; otherwise the platform's delete result (read-only cleared first).
int utl_DeleteFile(const char* path);
// No helper below lists or deletes through a link: a folder it is given is held (utl_HoldDir)
// while its entries are listed, and a junction or symbolic link it meets is deleted itself,
// never what it points to. On a system that opens a link's target even when asked for the
// link, the link stays.

// Deletes the plain files (and file links) of dir that match pattern; subdirectories are never
// touched. Entries whose path would not fit 259 characters are skipped. Nothing is listed when
// dir is a link or not where its name says.
void utl_DeleteFilesInDir(const char* dir, const char* pattern);
// The same, sparing the file named keep (compared without letter case; null spares nothing).
void utl_DeleteFilesInDirExcept(const char* dir, const char* pattern, const char* keep);
// Deletes dir and everything below it; a dir that is a link goes itself. 1 when dir did not
// exist; otherwise the result of removing dir itself.
int utl_DeleteDirTree(const char* dir);
// Deletes every subdirectory tree of dir (depth first); plain files of dir stay.
void utl_DeleteSubDirTrees(const char* dir);
// Deletes the plain files of dir and removes dir when it is then empty (not recursive); a dir
// that is a link goes itself.
void utl_RemoveWorkDir(const char* dir);
// Deletes everything inside dir (plain files, links, subdirectory trees) but not dir. 1 when dir
// holds nothing afterwards; 0 when something stays (held open by another process, a path past
// 259 characters, a link that cannot go) or when dir cannot be held.
int utl_EmptyDir(const char* dir);
// Opens the directory path itself, not a link's target, with access (attributes are always
// readable) and without delete sharing: while the handle is open, nobody can rename, replace or
// delete it. INVALID_HANDLE_VALUE when path is missing, not a directory, a link, or not where its
// name says (a link on the way or a swap: the final path of the handle differs). Caller closes.
HANDLE utl_HoldDir(const char* path, DWORD access);
// utl_HoldDir(path, 0); when nothing is at path, path is made first with default security.
HANDLE utl_HoldOrMakeDir(const char* path);
// Creates (or reuses) C:\tmp\<prefix><n>, n = tick count or 0. 1 with the path in out;
// 0 with out untouched when C:\tmp or the directory cannot be made or the path does not fit,
// or when either is a link.
int utl_CreateWorkDir(char* out, unsigned size, const char* prefix, int useTickCount,
                      int clearExisting);
// 1 with both halves of path's size set; 0 with the outputs untouched.
int utl_GetFileSize(const char* path, DWORD* sizeHigh, DWORD* sizeLow);
// Existing file, read access, others may only read. INVALID_HANDLE_VALUE on failure.
HANDLE utl_OpenFileForRead(const char* path);
// Open or create, read and write access shared for reading and writing, not truncated,
// positioned at the start. INVALID_HANDLE_VALUE on failure.
HANDLE utl_NewOrOpenFileForWrite(const char* path);
// Clears the read-only attribute: 0 done (or not read-only), 1101 null path, 1001 no such
// file, 1014 attributes unreadable, 1015 attributes not writable.
DWORD utl_ClearReadOnly(const char* path);

// ---- Package format, reader and writer -------------------------------------------------------
// A package: the mixed 17-byte magic, then records of N (4 plain bytes, little-endian), D (4
// plain bytes), N mixed name bytes and D mixed content bytes. Mixing negates every byte.

// The magic, the end record's name, the name and piece limits, the end record's layout and the
// error numbers 167 and 168 are the core's (core/package_walk.h).
// The unpacker copies content in pieces of this size: every piece costs a read and a write,
// and 4096-byte pieces leave the unpack several times slower than a plain file copy.
const DWORD kUnpackPiece = 256 * 1024;

// Mixes (or unmixes: the transform is its own inverse) len bytes in place. Returns len.
DWORD MixBytes(BYTE* buffer, DWORD len);
// Mixes buffer in place, then writes it at the file's position. Non-zero when all len bytes
// were written; buffer holds mixed bytes afterwards either way.
int MixAndWrite(HANDLE file, BYTE* buffer, DWORD len);
// Reads len bytes at the file's position and unmixes them. 1 on success; 0 when the read
// fails or comes up short, with buffer not unmixed.
int ReadAndUnmix(HANDLE file, BYTE* buffer, DWORD len);

// ---- End record and payload digest ----------------------------------------------------------
// A closed package ends with an end record carrying a tagged digest of the package bytes before
// it (the layout, its constants and PayloadDigest are the core's). Whatever follows the end
// record (a certificate table, padding) is never read.
void utl_DigestBegin(PayloadDigest* d);
void utl_DigestUpdate(PayloadDigest* d, const void* data, DWORD len);
unsigned long long utl_DigestValue(PayloadDigest* d);

// The end record's content for a digest value: kEndDataLen plain bytes into out.
void utl_EncodeEndData(BYTE* out, unsigned long long digest);
// Reads an end record's plain content: 1 with *digest set when it is one XXH3-64 entry;
// 0 when it holds anything else.
int utl_DecodeEndData(const BYTE* data, DWORD len, unsigned long long* digest);
// The whole end record that closes a package with this digest, as it is stored: N and D plain,
// the name and the content mixed. kEndRecordLen bytes into out.
void utl_EncodeEndRecord(BYTE* out, unsigned long long digest);

// The core's record-name rule (core/record_name.h), for the reader. Pure.
int utl_IsSafeRecordName(const char* name, DWORD len, int (*isLeadByte)(BYTE));

// One record as the package walker hands it to its visitor.
struct PackRecord {
    DWORD index;       // 1 for the first record
    DWORD nameLen;     // N
    DWORD dataLen;     // D
    const char* name;  // N bytes, NUL-terminated after them
    int isEnd;         // the end record: no content follows, the walk stops after begin
};

// What the walker does with each record. begin runs once the name is read and found safe (for
// the end record too); it returns 0 to go on or an error number. piece gets the unmixed content
// in order (D bytes in all), returns 0 or an error number; finish runs after the last piece.
// A null callback does nothing.
struct PackVisitor {
    DWORD (*begin)(void* ctx, const PackRecord* record);
    DWORD (*piece)(void* ctx, const BYTE* data, DWORD len);
    void (*finish)(void* ctx);
    void* ctx;
    DWORD dstLen;     // length of the destination folder (0 when nothing is written)
    int trace;        // non-zero: the unpack trace lines go to the log under "UtlFile"
    DWORD pieceSize;  // content piece size: 0 for kPackagePiece; a larger size is taken from
                      // the heap for the call (4096 when that fails), so memory stays constant
    PackDigestCheck* digest;  // non-null: the walk checks the payload digest and reports here;
                              // a mismatch ends it with 167
};

// Walks the package that lies in the file srcAbsFile from dwOffset to its end, checking every
// length against the package and handing each record to visitor. 1 when the walk reached the
// package end or its end record; 0 with *error set (155, 156, 159-166, or what a callback
// returned). The source is open only during the call.
int utl_WalkPackage(const char* srcAbsFile, DWORD dwOffset, const PackVisitor* visitor,
                    DWORD* error);
// The same over a file the caller holds open (read access); it reads from dwOffset to the end of
// the file as it is now. The file position is left anywhere.
int utl_WalkPackageFile(HANDLE src, DWORD dwOffset, const PackVisitor* visitor, DWORD* error);

// Unpacks the package in pszSrcPath\pszSrcFile, starting at dwOffset, into the existing folder
// pszDstPath. 1 on success (*error untouched); 0 with the error number in *error (150-166).
// Files unpacked before a failure stay. Trace and error lines go to the log under "UtlFile".
// A package that carries a digest is checked while it is unpacked; on a mismatch (167) the files
// this call made are deleted again. One trace line tells whether a digest was checked or none
// was carried.
int utl_FileUnpack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                   DWORD* error, DWORD dwOffset);
// The same for a package the caller holds open as src (a handle of pszSrcPath\pszSrcFile, read
// access): the bytes and the size come from the handle, never from the name, and every file is
// created new: a name that exists in the destination already is a 165, never reused. The trace
// is the same as utl_FileUnpack's.
int utl_FileUnpackHeld(HANDLE src, const char* pszSrcPath, const char* pszSrcFile,
                       const char* pszDstPath, DWORD* error, DWORD dwOffset);

// Adds pszSrcPath\pszSrcFile as one record to the package pszDstPath\pszDstFile: a new package
// (header first, any old file replaced) when bAdd is 0, appended to an existing one otherwise.
// 1 on success, *error then holds the last-error code of the final read; 0 with the error
// number (150-157, 156 also when the source is the package itself, 166 when the source did
// not yield exactly the size it had when measured), the package cut back to its length before
// the call.
int utl_FilePack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                 const char* pszDstFile, DWORD* error, int bAdd);
// Closes the package pszDstPath\pszDstFile: appends the end record carrying the digest of every
// byte before it. 1 on success; 0 with *error set: 150/151 bad arguments, 152 no such package,
// 156 it cannot be opened, 157 a write failed (the package is cut back to its old length),
// 168 it is closed already, or the reader's number when it is not a sound package.
int utl_ClosePackage(const char* pszDstPath, const char* pszDstFile, DWORD* error);
