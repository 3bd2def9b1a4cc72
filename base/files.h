// File-system helpers shared by every subsystem: existence tests, deletions that never follow a
// link, the work directory, the two ways files are opened, and where an open handle really lies.
// None of them writes a log line (utl_GetFileSize, which does, is the log's: log/log.h).
#pragma once
#include <windows.h>

// 1 when at least one entry matching path (a path or a wildcard pattern) is a plain file.
int utl_FileExists(const char* path);
// 1 when at least one entry matching path is a directory.
int utl_DirExists(const char* path);
// 1 when the file did not exist; otherwise 1 when it was deleted (a read-only one too). A file
// link goes itself; a read-only file with another hard link stays where the system cannot delete
// it without clearing the flag, which would change the file behind the other name as well.
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
// Existing file, read access, others may only read. INVALID_HANDLE_VALUE on failure.
HANDLE utl_OpenFileForRead(const char* path);
// Open or create, read and write access shared for reading and writing, not truncated,
// positioned at the start. INVALID_HANDLE_VALUE on failure.
HANDLE utl_NewOrOpenFileForWrite(const char* path);
// Clears the read-only attribute: 0 done (or not read-only), 1101 null path, 1001 no such
// file, 1014 attributes unreadable, 1015 attributes not writable.
DWORD utl_ClearReadOnly(const char* path);
// 1 when the open file's final path (links resolved) is path, compared without letter case.
int utl_IsHandleAtPath(HANDLE file, const char* path);
