// Payload package: the package format, reader and writer.
#pragma once
#include <windows.h>

#include "core/package_walk.h"
#include "core/payload_digest.h"
#include "core/record_name.h"
#include "core/transform.h"

// ---- Package format, reader and writer -------------------------------------------------------
// A package: the mixed 17-byte magic, then records of N (4 plain bytes, little-endian), D (4
// plain bytes), N mixed name bytes and D mixed content bytes. Mixing negates every byte.

// The magic, the end record's name, the name and piece limits, the end record's layout and the
// error numbers 167, 168 and 169 are the core's (core/package_walk.h).
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
// Both digests run (BLAKE3-256 and, for older packages, XXH3-64).
void utl_DigestBegin(PayloadDigest* d);
void utl_DigestUpdate(PayloadDigest* d, const void* data, DWORD len);
// The value of one algorithm so far: 1, or 0 when it does not run.
int utl_DigestValue(const PayloadDigest* d, BYTE algorithm, DigestValue* out);

// The end record's content for a digest value: 2 + digest->len plain bytes into out (kEndDataLen
// for BLAKE3); returns that count.
DWORD utl_EncodeEndData(BYTE* out, const DigestValue* digest);
// Reads an end record's plain content: 1 with *digest set when it is one entry of a known
// algorithm; 0 when it holds anything else.
int utl_DecodeEndData(const BYTE* data, DWORD len, DigestValue* digest);
// The whole end record that closes a package with this digest, as it is stored: N and D plain,
// the name and the content mixed. Returns its length (kEndRecordLen for BLAKE3).
DWORD utl_EncodeEndRecord(BYTE* out, const DigestValue* digest);

// The core's record-name rule (core/record_name.h), for the reader. Pure.
int utl_IsSafeRecordName(const char* name, DWORD len, int (*isLeadByte)(BYTE));

// One record as the package walker hands it to its visitor.
struct PackRecord {
    DWORD index;       // 1 for the first record
    DWORD nameLen;     // N without the mark of a compressed record
    DWORD dataLen;     // D: the bytes stored
    const char* name;  // nameLen bytes, NUL-terminated after them
    int isEnd;         // the end record: no content follows, the walk stops after begin
    int compressed;    // the stored bytes are a zstd frame, decoded by the walker
    DWORD contentLen;  // what the pieces come to: D, or the frame's declared content size
};

// What the walker does with each record. begin runs once the name is read and found safe (for
// the end record too); it returns 0 to go on or an error number. piece gets the unmixed content
// in order (contentLen bytes in all: a compressed record's are decoded), returns 0 or an error
// number; finish runs after the last piece.
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

// What the records of the package in the held file src from dwOffset unpack to, in bytes (a
// compressed record counts what its frame declares): read from the record heads and the frames'
// headers, the contents stepped over. 0 when the package cannot be walked; 0xFFFFFFFF at most.
DWORD utl_PackageContentBytes(HANDLE src, DWORD dwOffset);

// Unpacks the package in pszSrcPath\pszSrcFile, starting at dwOffset, into the existing folder
// pszDstPath. 1 on success (*error untouched); 0 with the error number in *error (150-166).
// Files unpacked before a failure stay. Trace and error lines go to the log under "UtlFile".
// A package that carries a digest is checked while it is unpacked; on a mismatch (167), and on a
// compressed record that does not decode (169), the files this call made are deleted again. One trace line tells whether a digest was checked or none
// was carried.
int utl_FileUnpack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                   DWORD* error, DWORD dwOffset);
// The same for a package the caller holds open as src (a handle of pszSrcPath\pszSrcFile, read
// access): the bytes and the size come from the handle, never from the name, and every file is
// created new: a name that exists in the destination already is a 165, never reused. The trace
// is the same as utl_FileUnpack's. With expect (a setup's slot), the package must be closed with
// exactly that digest over exactly its bytes: anything else is a 167, with the files this call
// made deleted again, and one more trace line when the package was sound but not that one.
int utl_FileUnpackHeld(HANDLE src, const char* pszSrcPath, const char* pszSrcFile,
                       const char* pszDstPath, DWORD* error, DWORD dwOffset, const DigestValue* expect = nullptr);
// The same, adding the length of every piece of content written to *bytesDone (null: not
// counted) with an interlocked add, so that another thread can show the progress.
int utl_FileUnpackHeldCounted(HANDLE src, const char* pszSrcPath, const char* pszSrcFile,
                              const char* pszDstPath, DWORD* error, DWORD dwOffset, volatile LONG* bytesDone,
                              const DigestValue* expect = nullptr);

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
