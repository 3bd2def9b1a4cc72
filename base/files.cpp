// File-system helpers shared by every subsystem: existence tests, deletions, the work directory,
// the two ways files are opened and where a handle lies.
#include "base/files.h"

#include <string.h>

#include "base/handles.h"
#include "base/text.h"

namespace {

const char kWorkBase[] = "C:\\tmp";
// Opens the entry a name gives, not what a link there points to: the handle holds the link.
const DWORD kNoFollow = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
enum { kFiles = 1, kTrees = 2 };
// FileDispositionInfoEx and its flags (Windows 10 1809), which the headers show only to builds
// for that version: the stub targets older systems and asks at run time.
const FILE_INFO_BY_HANDLE_CLASS kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
const DWORD kDispositionDelete = 0x1, kDispositionIgnoreReadOnly = 0x10;

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

// Whether h holds what lies at path itself. The final path is built by the system from the
// object held, so a link anywhere on the way, or a swap after the name was looked at, shows
// as a difference from path's full path.
bool HeldAt(HANDLE h, const char* path)
{
    char want[MAX_PATH];
    DWORD n = GetFullPathNameA(path, sizeof want, want, NULL);
    if (n == 0 || n >= sizeof want) return false;
    return utl_IsHandleAtPath(h, want) != 0;
}

// Marks what h holds (a file, an empty folder, or a link itself) to be deleted when h closes.
bool DeleteHeld(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        // Newer systems delete a read-only entry as it is (Windows 10 1809 and later).
        DWORD asIs = kDispositionDelete | kDispositionIgnoreReadOnly;
        if (SetFileInformationByHandle(h, kDispositionInfoEx, &asIs, sizeof asIs)) return true;
        // Elsewhere the flag must go first. It belongs to the file, not to the name: with another
        // link to the file, clearing it would change a file that somebody else named, so such
        // an entry stays.
        if (info.nNumberOfLinks > 1) return false;
        FILE_BASIC_INFO basic;  // times of 0 are left as they are
        ZeroMemory(&basic, sizeof basic);
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO gone = {TRUE};
    return SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone) != 0;
}

// Opens the entry at path itself for deleting it: a link, not what it points to.
HANDLE OpenForDelete(const char* path)
{
    return CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, kNoFollow, NULL);
}

// Deletes the entry at path itself: a file, an empty folder, or a link, never what a link
// points to. What is deleted is what the handle holds, and only when it lies at path: on a
// system that opens a link's target even when asked for the link, nothing is deleted.
bool DeleteOne(const char* path)
{
    FileHandle h(OpenForDelete(path));
    return h.Valid() && HeldAt(h.Get(), path) && DeleteHeld(h.Get());
}

// Deletes the entries of dir that match pattern, but not keep: plain files and file links with
// kFiles, folders (trees; a folder link goes itself) with kTrees. The caller holds dir, so its
// name names the same folder throughout. true when every one of them was deleted.
bool DeleteEntries(const char* dir, const char* pattern, const char* keep, int what)
{
    char search[MAX_PATH];
    if (!utl_JoinPath(search, sizeof search, dir, pattern)) return false;
    WIN32_FIND_DATAA fd;
    FindHandle find(FindFirstFileA(search, &fd));
    if (!find.Valid()) return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool all = true;
    do {
        bool isDir = IsDir(fd);
        if (!(what & (isDir ? kTrees : kFiles)) || IsDotEntry(fd.cFileName) ||
            (keep && lstrcmpiA(fd.cFileName, keep) == 0))
            continue;
        char path[MAX_PATH];
        if (!utl_JoinPath(path, sizeof path, dir, fd.cFileName) || !(isDir ? utl_DeleteDirTree(path) : DeleteOne(path)))
            all = false;
    } while (FindNextFileA(find.Get(), &fd));
    return all;
}

// Whether dir lists nothing but "." and "..". An entry whose delete is still pending (another
// process has it open) is listed as well: it is still there.
bool HoldsNothing(const char* dir)
{
    char search[MAX_PATH];
    if (!utl_JoinPath(search, sizeof search, dir, "*.*")) return false;
    WIN32_FIND_DATAA fd;
    FindHandle find(FindFirstFileA(search, &fd));
    if (!find.Valid()) return false;
    do {
        if (!IsDotEntry(fd.cFileName)) return false;
    } while (FindNextFileA(find.Get(), &fd));
    return true;
}

}  // namespace

int utl_FileExists(const char* path) { return AnyMatch(path, false); }

int utl_DirExists(const char* path) { return AnyMatch(path, true); }

int utl_DeleteFile(const char* path)
{
    if (!utl_FileExists(path)) return 1;
    // Through a handle on the entry itself: a read-only flag is never cleared on a link's target.
    FileHandle h(OpenForDelete(path));
    return h.Valid() && DeleteHeld(h.Get()) ? 1 : 0;
}

void utl_DeleteFilesInDir(const char* dir, const char* pattern) { utl_DeleteFilesInDirExcept(dir, pattern, NULL); }

void utl_DeleteFilesInDirExcept(const char* dir, const char* pattern, const char* keep)
{
    FileHandle held(utl_HoldDir(dir, 0));
    if (held.Valid()) DeleteEntries(dir, pattern, keep, kFiles);
}

void utl_DeleteSubDirTrees(const char* dir)
{
    FileHandle held(utl_HoldDir(dir, 0));
    if (held.Valid()) DeleteEntries(dir, "*.*", NULL, kTrees);
}

int utl_EmptyDir(const char* dir)
{
    FileHandle held(utl_HoldDir(dir, 0));
    return held.Valid() && DeleteEntries(dir, "*.*", NULL, kFiles | kTrees) && HoldsNothing(dir) ? 1 : 0;
}

int utl_DeleteDirTree(const char* dir)
{
    if (!utl_DirExists(dir)) return 1;
    utl_EmptyDir(dir);  // lists nothing when dir is a link: then the link itself goes below
    return DeleteOne(dir) ? 1 : 0;
}

void utl_RemoveWorkDir(const char* dir)
{
    if (!utl_DirExists(dir)) return;
    utl_DeleteFilesInDir(dir, "*.*");
    DeleteOne(dir);  // a folder only when empty; a link itself
}

HANDLE utl_HoldDir(const char* path, DWORD access)
{
    if (!path) return INVALID_HANDLE_VALUE;
    FileHandle h(CreateFileA(path, access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_EXISTING, kNoFollow, NULL));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h.Valid() || !GetFileInformationByHandle(h.Get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY ||
        !HeldAt(h.Get(), path))
        return INVALID_HANDLE_VALUE;
    return h.Release();
}

HANDLE utl_HoldOrMakeDir(const char* path)
{
    HANDLE h = utl_HoldDir(path, 0);
    if (h == INVALID_HANDLE_VALUE && path && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES &&
        CreateDirectoryA(path, NULL))
        h = utl_HoldDir(path, 0);
    return h;
}

int utl_CreateWorkDir(char* out, unsigned size, const char* prefix, int useTickCount,
                      int clearExisting)
{
    if (!out || !prefix) return 0;
    // Held while the work directory is looked up or made in it: through a link, the directory
    // would lie wherever the link's maker wanted it.
    FileHandle base(utl_HoldOrMakeDir(kWorkBase));
    if (!base.Valid()) return 0;
    unsigned n = useTickCount ? (unsigned)GetTickCount() : 0u;
    char number[16];
    utl_Format(number, sizeof number, "%u", n);
    // Measure before composing: a prefix that would pass 259 characters is refused.
    size_t len = strlen(kWorkBase) + 1 + strlen(prefix) + strlen(number);
    if (len >= MAX_PATH || len >= size) return 0;
    char path[MAX_PATH];
    utl_Format(path, sizeof path, "%s\\%s%s", kWorkBase, prefix, number);
    if (utl_DirExists(path)) {
        FileHandle dir(utl_HoldDir(path, 0));
        if (!dir.Valid()) return 0;  // a link, not a folder of its own
        memcpy(out, path, len + 1);
        if (clearExisting) utl_DeleteFilesInDir(path, "*.*");
        return 1;
    }
    if (!CreateDirectoryA(path, NULL)) return 0;
    memcpy(out, path, len + 1);
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

int utl_IsHandleAtPath(HANDLE file, const char* path)
{
    char final[MAX_PATH + 8];
    DWORD n = GetFinalPathNameByHandleA(file, final, sizeof final, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof final) return 0;
    // A local path comes back as \\?\C:\...; other forms never equal a composed path.
    const char* p = final;
    if (strncmp(p, "\\\\?\\", 4) == 0) p += 4;
    return lstrcmpiA(p, path) == 0 ? 1 : 0;
}
