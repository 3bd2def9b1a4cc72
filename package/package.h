// Payload package: file-system helpers and work directory (package format, reader and writer
// are declared below them).
#pragma once
#include <windows.h>

// ---- File-system helpers (module tag "UtlFile") ----------------------------------------------

// 1 when at least one entry matching path (a path or a wildcard pattern) is a plain file.
int utl_FileExists(const char* path);
// 1 when at least one entry matching path is a directory.
int utl_DirExists(const char* path);
// 1 when the file did not exist; otherwise the platform's delete result (read-only cleared first).
int utl_DeleteFile(const char* path);
// Deletes the plain files of dir that match pattern; subdirectories are never touched.
// Entries whose path would not fit 259 characters are skipped.
void utl_DeleteFilesInDir(const char* dir, const char* pattern);
// Deletes dir and everything below it. 1 when dir did not exist; otherwise the result of
// removing dir itself. A junction or symbolic link inside is removed, never followed.
int utl_DeleteDirTree(const char* dir);
// Deletes every subdirectory tree of dir (depth first); plain files of dir stay.
void utl_DeleteSubDirTrees(const char* dir);
// Deletes the plain files of dir and removes dir when it is then empty (not recursive).
void utl_RemoveWorkDir(const char* dir);
// Creates (or reuses) C:\tmp\<prefix><n>, n = tick count or 0. 1 with the path in out;
// 0 with out untouched when C:\tmp or the directory cannot be made or the path does not fit.
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
