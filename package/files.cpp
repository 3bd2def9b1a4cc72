// File-system helpers shared by every subsystem: existence tests, deletions, the work directory,
// file size and the two ways files are opened.
#include "package/package.h"

#include <string.h>

#include "log/handles.h"
#include "log/log.h"

namespace {

const char kModule[] = "UtlFile";
const char kWorkBase[] = "C:\\tmp";

bool IsDir(const WIN32_FIND_DATAA& fd) { return (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool IsDotEntry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

// Steps through the matches of path until one is (or is not) a directory.
int AnyMatch(const char* path, bool wantDir)
{
    if (!path) return 0;
    WIN32_FIND_DATAA fd;
    FindHandle find(FindFirstFileA(path, &fd));
    if (!find.Valid()) return 0;
    do {
        if (IsDir(fd) == wantDir) return 1;
    } while (FindNextFileA(find.Get(), &fd));
    return 0;
}

void ForceDelete(const char* path)
{
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
}

}  // namespace

int utl_FileExists(const char* path) { return AnyMatch(path, false); }

int utl_DirExists(const char* path) { return AnyMatch(path, true); }

int utl_DeleteFile(const char* path)
{
    if (!utl_FileExists(path)) return 1;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path) ? 1 : 0;
}

void utl_DeleteFilesInDir(const char* dir, const char* pattern) { utl_DeleteFilesInDirExcept(dir, pattern, NULL); }

void utl_DeleteFilesInDirExcept(const char* dir, const char* pattern, const char* keep)
{
    char search[MAX_PATH];
    if (!utl_JoinPath(search, sizeof search, dir, pattern)) return;
    WIN32_FIND_DATAA fd;
    FindHandle find(FindFirstFileA(search, &fd));
    if (!find.Valid()) return;
    do {
        if (IsDir(fd) || (keep && lstrcmpiA(fd.cFileName, keep) == 0)) continue;
        char path[MAX_PATH];
        if (utl_JoinPath(path, sizeof path, dir, fd.cFileName)) ForceDelete(path);
    } while (FindNextFileA(find.Get(), &fd));
}

void utl_DeleteSubDirTrees(const char* dir)
{
    char search[MAX_PATH];
    if (!utl_JoinPath(search, sizeof search, dir, "*.*")) return;
    WIN32_FIND_DATAA fd;
    FindHandle find(FindFirstFileA(search, &fd));
    if (!find.Valid()) return;
    do {
        if (!IsDir(fd) || IsDotEntry(fd.cFileName)) continue;
        char path[MAX_PATH];
        if (!utl_JoinPath(path, sizeof path, dir, fd.cFileName)) continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction or directory link: remove the link itself. Descending into it would
            // delete whatever it points at, anywhere on the machine.
            if (!RemoveDirectoryA(path)) DeleteFileA(path);  // some file systems unlink links as files
            continue;
        }
        utl_DeleteDirTree(path);
    } while (FindNextFileA(find.Get(), &fd));
}

int utl_DeleteDirTree(const char* dir)
{
    if (!utl_DirExists(dir)) return 1;
    utl_DeleteFilesInDir(dir, "*.*");
    utl_DeleteSubDirTrees(dir);
    SetFileAttributesA(dir, FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryA(dir) ? 1 : 0;
}

void utl_RemoveWorkDir(const char* dir)
{
    if (!utl_DirExists(dir)) return;
    utl_DeleteFilesInDir(dir, "*.*");
    RemoveDirectoryA(dir);
}

int utl_CreateWorkDir(char* out, unsigned size, const char* prefix, int useTickCount,
                      int clearExisting)
{
    if (!out || !prefix) return 0;
    if (!utl_DirExists(kWorkBase) && !CreateDirectoryA(kWorkBase, NULL)) return 0;
    unsigned n = useTickCount ? (unsigned)GetTickCount() : 0u;
    char number[16];
    utl_Format(number, sizeof number, "%u", n);
    // Measure before composing: a prefix that would pass 259 characters is refused.
    size_t len = strlen(kWorkBase) + 1 + strlen(prefix) + strlen(number);
    if (len >= MAX_PATH || len >= size) return 0;
    char path[MAX_PATH];
    utl_Format(path, sizeof path, "%s\\%s%s", kWorkBase, prefix, number);
    if (utl_DirExists(path)) {
        memcpy(out, path, len + 1);
        if (clearExisting) utl_DeleteFilesInDir(path, "*.*");
        return 1;
    }
    if (!CreateDirectoryA(path, NULL)) return 0;
    memcpy(out, path, len + 1);
    return 1;
}

int utl_GetFileSize(const char* path, DWORD* sizeHigh, DWORD* sizeLow)
{
    if (!sizeHigh || !sizeLow || !utl_FileExists(path)) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        DWORD err = GetLastError();
        char line[128];
        utl_Format(line, sizeof line, "utl_GetFileSize: GetFileAttributesEx failed with err.%u.", err);
        utl_WriteLog(kModule, line, 0);
        return 0;
    }
    *sizeHigh = data.nFileSizeHigh;
    *sizeLow = data.nFileSizeLow;
    return 1;
}

HANDLE utl_OpenFileForRead(const char* path)
{
    if (!path) return INVALID_HANDLE_VALUE;
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

HANDLE utl_NewOrOpenFileForWrite(const char* path)
{
    if (!path) return INVALID_HANDLE_VALUE;
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

DWORD utl_ClearReadOnly(const char* path)
{
    if (!path) return 1101;
    if (!utl_FileExists(path)) return 1001;
    DWORD attrs = GetFileAttributesA(path);
    if (attrs == INVALID_FILE_ATTRIBUTES) return 1014;
    if (!(attrs & FILE_ATTRIBUTE_READONLY)) return 0;
    if (!SetFileAttributesA(path, attrs & ~(DWORD)FILE_ATTRIBUTE_READONLY)) return 1015;
    return 0;
}
