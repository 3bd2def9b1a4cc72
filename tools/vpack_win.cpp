// vpack on Windows: Win32 files in the ANSI code page the stub reads names in, and the library's
// stored-format functions, so vpack makes digest files and passwords exactly as the client does.
#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "base/files.h"
#include "custom/custom.h"
#include "guard/guard.h"
#include "package/package.h"
#include "tools/vpack_io.h"

bool VpackSplitPath(const std::string& path, std::string* dir, std::string* name)
{
    size_t cut = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        // A double-byte character's trail byte may be 0x5C: no separator.
        if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (c == '\\' || c == '/') cut = i;
    }
    if (cut == std::string::npos) {
        bool drive = path.size() >= 2 && path[1] == ':';
        *dir = drive ? path.substr(0, 2) + "." : ".";
        *name = drive ? path.substr(2) : path;
    } else {
        *dir = path.substr(0, cut);
        *name = path.substr(cut + 1);
    }
    return !name->empty();
}

// ---- Files ------------------------------------------------------------------------------------

namespace {

// Per thread: vpack makes compressed frames on more than one.
thread_local DWORD g_lastError = 0;
// ERROR_STOPPED_ON_SYMLINK, which MinGW's headers lack: what a link on the way reports.
const DWORD kErrorStoppedOnLink = 681;

bool Failed()
{
    g_lastError = GetLastError();
    return false;
}

HANDLE H(const VpackFile* f) { return reinterpret_cast<HANDLE>(f->h); }

volatile LONG g_interrupted = 0;

// Ctrl-C and Ctrl-Break reach a console program on a thread of their own: noted here, acted on by
// the main thread at its next read, write or rename.
BOOL WINAPI OnCtrl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    InterlockedExchange(&g_interrupted, 1);
    return TRUE;
}

// True (the reason kept: "interrupted") once Ctrl-C or Ctrl-Break asked vpack to stop.
bool Stopped()
{
    if (InterlockedCompareExchange(&g_interrupted, 0, 0) == 0) return false;
    SetLastError(ERROR_OPERATION_ABORTED);
    return !Failed();
}

}  // namespace

void VpackCatchInterrupts() { SetConsoleCtrlHandler(OnCtrl, TRUE); }

bool VpackInterrupted() { return InterlockedCompareExchange(&g_interrupted, 0, 0) != 0; }

void VpackEndInterrupted()
{
    if (!VpackInterrupted()) return;
    fflush(NULL);
    ExitProcess(0xC000013AUL);  // STATUS_CONTROL_C_EXIT: how Ctrl-C ends a console program
}

void VpackFile::Close()
{
    if (h != -1) CloseHandle(reinterpret_cast<HANDLE>(h));
    h = -1;
}

bool VpackOpenRead(const std::string& path, VpackFile* f)
{
    f->Close();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE) return Failed();
    f->h = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool VpackRead(VpackFile* f, void* data, size_t len, size_t* got)
{
    size_t done = 0;
    while (done < len) {
        if (Stopped()) return false;
        DWORD want = len - done > 0x40000000u ? 0x40000000u : (DWORD)(len - done), n = 0;
        if (!ReadFile(H(f), static_cast<char*>(data) + done, want, &n, NULL)) return Failed();
        if (n == 0) break;
        done += n;
    }
    *got = done;
    return true;
}

bool VpackWrite(VpackFile* f, const void* data, size_t len)
{
    size_t done = 0;
    while (done < len) {
        if (Stopped()) return false;
        DWORD want = len - done > 0x40000000u ? 0x40000000u : (DWORD)(len - done), n = 0;
        if (!WriteFile(H(f), static_cast<const char*>(data) + done, want, &n, NULL)) return Failed();
        if (n == 0) {
            SetLastError(ERROR_DISK_FULL);
            return Failed();
        }
        done += n;
    }
    return true;
}

bool VpackSeek(VpackFile* f, uint64_t position)
{
    LARGE_INTEGER to;
    to.QuadPart = (LONGLONG)position;
    return SetFilePointerEx(H(f), to, NULL, FILE_BEGIN) || Failed();
}

bool VpackSize(VpackFile* f, uint64_t* size)
{
    LARGE_INTEGER s;
    if (!GetFileSizeEx(H(f), &s)) return Failed();
    *size = (uint64_t)s.QuadPart;
    return true;
}

bool VpackFlush(VpackFile* f) { return FlushFileBuffers(H(f)) || Failed(); }

bool VpackCreateTemp(const std::string& target, std::string* tmp, VpackFile* f)
{
    std::string dir, name;
    VpackSplitPath(target, &dir, &name);
    std::string prefix = target.substr(0, target.size() - name.size()) + "." + name + ".vpack-";
    // A name nobody can guess ahead: six random letters and digits from the system's generator,
    // drawn afresh while the name is taken.
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        NTSTATUS drawn = BCryptGenRandom(NULL, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (drawn != 0) {
            SetLastError(ERROR_GEN_FAILURE);
            return Failed();
        }
        std::string path = prefix;
        for (unsigned char r : random) path += kLetters[r % 62];
        // DELETE: the finished file is renamed through this handle (VpackCommit).
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            f->Close();
            f->h = reinterpret_cast<std::intptr_t>(file);
            *tmp = path;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return Failed();
    }
    return Failed();
}

namespace {

// Renames the open file to target through its handle: the file renamed is the one written, whatever
// happened to its temporary name meanwhile. The name goes to the system as an NT path.
bool RenameByHandle(HANDLE file, const std::string& target, bool replace)
{
    int wide = MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, NULL, 0);
    if (wide <= 0) return Failed();
    std::vector<WCHAR> name((size_t)wide);
    MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, name.data(), wide);
    DWORD full = GetFullPathNameW(name.data(), 0, NULL, NULL);
    std::vector<WCHAR> whole(full + 1);
    if (full == 0 || GetFullPathNameW(name.data(), full + 1, whole.data(), NULL) == 0) return Failed();
    std::wstring given(whole.data()), nt;
    if (given.compare(0, 4, L"\\\\?\\") == 0) nt = L"\\??\\" + given.substr(4);
    else if (given.compare(0, 2, L"\\\\") == 0) nt = L"\\??\\UNC\\" + given.substr(2);
    else nt = L"\\??\\" + given;
    const WCHAR* p = nt.c_str();
    size_t chars = wcslen(p);
    std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFO) + chars * sizeof(WCHAR));
    FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = NULL;
    info->FileNameLength = (DWORD)(chars * sizeof(WCHAR));
    std::memcpy(info->FileName, p, chars * sizeof(WCHAR));
    return SetFileInformationByHandle(file, FileRenameInfo, info, (DWORD)buffer.size()) || Failed();
}

}  // namespace

bool VpackCommit(VpackFile* f, const std::string& tmp, const std::string& target, bool replace)
{
    if (Stopped() || (f->IsOpen() && !FlushFileBuffers(H(f)))) {
        Failed();
        f->Close();
        return false;
    }
    if (f->IsOpen()) {
        bool renamed = RenameByHandle(H(f), target, replace);
        f->Close();
        return renamed;
    }
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExA(tmp.c_str(), target.c_str(), flags) || Failed();
}

VpackKind VpackKindOf(const std::string& path, bool follow)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        Failed();
        return g_lastError == ERROR_FILE_NOT_FOUND || g_lastError == ERROR_PATH_NOT_FOUND ? kVpackMissing
                                                                                           : kVpackOther;
    }
    if (!follow && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return kVpackOther;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? kVpackDir : kVpackFile;
}

bool VpackIdOf(const std::string& path, VpackFileId* id)
{
    // No access asked for: only the file's information is read, whoever holds it open.
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file == INVALID_HANDLE_VALUE) return Failed();
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(file, &info) != 0 || Failed();
    CloseHandle(file);
    if (!ok) return false;
    id->volume = info.dwVolumeSerialNumber;
    id->index = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
    return true;
}

bool VpackMakeDir(const std::string& path) { return CreateDirectoryA(path.c_str(), NULL) || Failed(); }

bool VpackRemoveDir(const std::string& path) { return RemoveDirectoryA(path.c_str()) || Failed(); }

void VpackRemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

std::string VpackSystemReason()
{
    switch (g_lastError) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: return "no such file or folder";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return "no space left on the disk";
    case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS: return "it exists already";
    case ERROR_FILENAME_EXCED_RANGE: return "the name is too long";
    case ERROR_OPERATION_ABORTED: return "interrupted";
    case kErrorStoppedOnLink: return "it is a link";
    case ERROR_DIRECTORY: return "a part of the path is not a folder";
    default: break;
    }
    char text[512] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, g_lastError, 0, text,
                             sizeof text, NULL);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.'))
        text[--n] = '\0';
    if (n == 0) wsprintfA(text, "system error %lu", g_lastError);
    return text;
}

// ---- Record names -----------------------------------------------------------------------------

bool VpackSetCodepage(unsigned long codepage, std::string* why)
{
    if (codepage == GetACP()) return true;
    char line[160];
    wsprintfA(line, "this build stores names in this system's ANSI code page, %u; run vpack for Linux with "
                    "--codepage %lu",
              GetACP(), codepage);
    *why = line;
    return false;
}

bool VpackStoredName(const std::string& host, std::string* stored, std::string*)
{
    // The arguments were ANSI already, and VpackArgumentProblem made sure they came as typed.
    *stored = host;
    return true;
}

bool VpackHostName(const std::string& stored, std::string* host)
{
    *host = stored;
    return true;
}

namespace {

int AnsiLeadByte(uint8_t b) { return IsDBCSLeadByte(b) ? 1 : 0; }

}  // namespace

VpackLeadByteFn VpackLeadBytes() { return AnsiLeadByte; }

std::string VpackJoinRecord(const std::string& dir, const std::string& hostName)
{
    std::string path = dir;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    return path + hostName;
}

std::vector<std::string> VpackRecordFolders(const std::string& dir, const std::string& hostName)
{
    std::vector<std::string> folders;
    for (size_t i = 0; i < hostName.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(hostName[i])) && i + 1 < hostName.size()) {
            ++i;  // the trail byte may be 0x5C and is then part of the character
            continue;
        }
        if (hostName[i] == '\\' || hostName[i] == '/') folders.push_back(VpackJoinRecord(dir, hostName.substr(0, i)));
    }
    return folders;
}

// ---- Files below a destination folder ---------------------------------------------------------

namespace {

// The folders on the way from dest to a file below it, opened without following a reparse point
// and held without delete sharing: while held, none of them can be renamed, removed or replaced
// by a junction. Empty (with the reason kept) when one is a reparse point or no folder.
struct HeldWay {
    std::vector<HANDLE> held;
    HeldWay() = default;
    HeldWay(const HeldWay&) = delete;
    HeldWay& operator=(const HeldWay&) = delete;
    ~HeldWay()
    {
        for (HANDLE h : held) CloseHandle(h);
    }
    bool Hold(const std::string& dest, const std::string& path)
    {
        if (path.compare(0, dest.size(), dest) != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return Failed();
        }
        std::string host = path.substr(dest.size());
        while (!host.empty() && (host[0] == '\\' || host[0] == '/')) host.erase(0, 1);
        for (const std::string& folder : VpackRecordFolders(dest, host)) {
            HANDLE h = CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
            if (h == INVALID_HANDLE_VALUE) return Failed();
            held.push_back(h);
            BY_HANDLE_FILE_INFORMATION info;
            if (!GetFileInformationByHandle(h, &info)) return Failed();
            if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                SetLastError(kErrorStoppedOnLink);
                return Failed();
            }
            if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                SetLastError(ERROR_DIRECTORY);
                return Failed();
            }
        }
        return true;
    }
};

}  // namespace

VpackKind VpackKindBelow(const std::string& dest, const std::string& path)
{
    HeldWay way;
    if (!way.Hold(dest, path)) return g_lastError == ERROR_FILE_NOT_FOUND || g_lastError == ERROR_PATH_NOT_FOUND
                                          ? kVpackMissing
                                          : kVpackOther;
    return VpackKindOf(path, false);
}

bool VpackMakeDirBelow(const std::string& dest, const std::string& path)
{
    HeldWay way;
    return way.Hold(dest, path) && VpackMakeDir(path);
}

bool VpackRemoveDirBelow(const std::string& dest, const std::string& path)
{
    HeldWay way;
    return way.Hold(dest, path) && VpackRemoveDir(path);
}

void VpackRemoveBelow(const std::string& dest, const std::string& path)
{
    HeldWay way;
    if (way.Hold(dest, path)) VpackRemoveFile(path);
}

bool VpackCreateTempBelow(const std::string& dest, const std::string& path, std::string* tmp, VpackFile* f)
{
    HeldWay way;
    return way.Hold(dest, path) && VpackCreateTemp(path, tmp, f);
}

bool VpackRenameBelow(const std::string& dest, const std::string& from, const std::string& to, bool replace)
{
    HeldWay way;
    if (!way.Hold(dest, to)) return false;
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExA(from.c_str(), to.c_str(), flags) || Failed();
}

std::string VpackArgumentProblem(int argc, char** argv)
{
    // The C runtime gives main the command line in the ANSI code page, a character it lacks made
    // a '?': such a file name would reach no file, so it is named here instead.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return "";
    std::string problem;
    for (int i = 1; i < count && i <= argc && problem.empty(); ++i) {
        BOOL lost = FALSE;
        char buffer[4096];
        int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide[i], -1, buffer, sizeof buffer, NULL, &lost);
        if (n > 0 && lost) {
            char line[200];
            wsprintfA(line, "argument %d (\"%s\" here) has characters that this system's ANSI code page %u lacks: "
                            "rename the file, or run vpack for Linux with --codepage",
                      i, i - 1 < argc ? argv[i - 1] : "", GetACP());
            problem = line;
        }
    }
    LocalFree(wide);
    return problem;
}

// ---- The client's stored formats ------------------------------------------------------------

int VpackEncryptPwd(const std::string& password, std::string* text)
{
    std::string out(password.size() * 2 + 32, '\0');
    int rc = utl_EncryptPwd(&out[0], (int)out.size(), password.data(), (int)password.size());
    if (rc == PWD_OK) *text = out.c_str();
    return rc;
}

int VpackDecryptPwd(const std::string& text, std::string* password)
{
    int count = (int)text.size() + 8;
    std::string out((size_t)count, '\0');
    int rc = utl_DecryptPwd(&out[0], &count, text.c_str());
    if (rc == PWD_OK) *password = out.substr(0, (size_t)count);
    return rc;
}

unsigned long VpackMakeVrf(const std::string& ini, const std::string& vrf, bool namedPair)
{
    DWORD code = 0;
    return utl_MakeVrfFile(ini.c_str(), vrf.c_str(), namedPair ? 1 : 0, &code) ? 0 : code;
}

bool VpackVerifyVrf(const std::string& ini, const std::string& vrf, bool namedPair)
{
    return utl_VerifyVrfFile(ini.c_str(), vrf.c_str(), namedPair ? 1 : 0) != 0;
}

bool VpackMd5File(const std::string& path, unsigned char* digest)
{
    return utl_Md5File(digest, 16, path.c_str()) != 0;
}
