// Test support: file helpers written with the standard library, and child processes.
#include "testing/testutil.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <algorithm>
#include <cstring>

namespace fs = std::filesystem;

namespace vt {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteAll(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return (bool)out;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTree(const std::string& path)
{
    DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveFolderLink(path);  // never descend through a link
        return;
    }
    std::error_code ec;
    if (!fs::exists(path, ec)) return;
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        SetFileAttributesA(it->path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(path, ec);
}

void MakeDirs(const std::string& path)
{
    std::error_code ec;
    fs::create_directories(path, ec);
}

std::vector<std::string> List(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) { lines.push_back(text.substr(start)); break; }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string FreshDir(const std::string& name)
{
    std::string dir = "C:\\vtest\\" + name;
    RemoveTree(dir);
    MakeDirs(dir);
    return dir;
}

namespace {
bool Launch(const std::string& exe, const std::vector<std::string>& args, PROCESS_INFORMATION* pi);

// Starts a Unix program under Wine. Wine reports success without a process for it, and leaves
// the handles it should hand back unset: whatever they hold may name a handle of this process
// (standard output, say), so they are never closed.
void StartUnix(const std::string& exe, const std::vector<std::string>& args)
{
    PROCESS_INFORMATION pi;
    Launch(exe, args, &pi);
}

// The Unix path of a Windows path under Wine; "" elsewhere.
std::string UnixPath(const std::string& p)
{
    typedef char*(CDECL * UnixNameFn)(LPCWSTR);
    UnixNameFn unixName = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return "";
    std::wstring w(p.begin(), p.end());
    char* u = unixName(w.c_str());
    std::string r = u ? u : "";
    if (u) HeapFree(GetProcessHeap(), 0, u);
    return r;
}
}  // namespace

void RemoveFolderLink(const std::string& link)
{
    std::string l = UnixPath(link);
    if (l.empty()) {
        if (!RemoveDirectoryA(link.c_str())) DeleteFileA(link.c_str());
        return;
    }
    // Under Wine, Windows calls on a Unix link reach its target (RemoveDirectory removes the
    // target folder when it is empty), so the link goes with the system's rm.
    StartUnix("Z:\\bin\\rm", {"-f", l});
    for (int i = 0; i < 100; ++i) {
        WIN32_FIND_DATAA fd;
        HANDLE f = FindFirstFileA(link.c_str(), &fd);
        if (f == INVALID_HANDLE_VALUE) break;
        FindClose(f);
        Sleep(20);
    }
}

namespace {
// Under Wine: a Unix link made by ln, once Windows sees it (folder links carry the reparse
// attribute, file links do not). Elsewhere: a Windows symbolic link, unprivileged where the
// system allows it.
bool MakeLink(const std::string& link, const std::string& target, bool folder)
{
    std::string t = UnixPath(target), l = UnixPath(link);
    if (t.empty() || l.empty()) {
        DWORD flags = folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
        return CreateSymbolicLinkA(link.c_str(), target.c_str(), flags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
               CreateSymbolicLinkA(link.c_str(), target.c_str(), flags);
    }
    // Wine gives no process for a Unix program to wait for: look for the link.
    StartUnix("Z:\\bin\\ln", {"-sfn", t, l});
    for (int i = 0; i < 100; ++i) {
        DWORD a = GetFileAttributesA(link.c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (!folder || (a & FILE_ATTRIBUTE_REPARSE_POINT))) return true;
        Sleep(50);
    }
    return false;
}
}  // namespace

bool MakeFolderLink(const std::string& link, const std::string& target) { return MakeLink(link, target, true); }

bool MakeFileLink(const std::string& link, const std::string& target) { return MakeLink(link, target, false); }

bool IsWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

bool ChineseRun()
{
    char lang[16] = "";
    return GetEnvironmentVariableA("VEMLO_EXPECT_LANG", lang, sizeof lang) && lstrcmpA(lang, "2052") == 0;
}

UINT ExpectedCodePage() { return ChineseRun() ? 936 : 1252; }

std::string Snapshot(const std::string& dir)
{
    std::vector<std::string> lines;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string full = it->path().string();
        std::string line = full.substr(dir.size());
        DWORD a = GetFileAttributesA(full.c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) it.disable_recursion_pending();
        if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY)) line += "=" + ReadAll(full);
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (auto& l : lines) all += l + "\n";
    return all;
}

std::string TodayStamp()
{
    std::time_t now = std::time(nullptr);
    std::tm tm = *std::localtime(&now);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y%m%d", &tm);
    char wd[4] = {'0', char('0' + tm.tm_wday), 0, 0};
    return std::string(buf) + wd;
}

namespace {
std::map<std::string, ChildFn>& Registry()
{
    static std::map<std::string, ChildFn> r;
    return r;
}

std::string Quote(const std::string& a)
{
    if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) return a;
    std::string q = "\"";
    for (char c : a) {
        if (c == '"') q += '\\';
        q += c;
    }
    return q + "\"";
}
}  // namespace

ChildRegistrar::ChildRegistrar(const char* name, ChildFn fn) { Registry()[name] = fn; }

bool DispatchChild(int argc, char** argv, int* exitCode)
{
    if (argc < 3 || std::strcmp(argv[1], "--vemlo-child") != 0) return false;
    auto it = Registry().find(argv[2]);
    *exitCode = it == Registry().end() ? 99 : it->second(argc - 3, argv + 3);
    return true;
}

namespace {
bool Launch(const std::string& exe, const std::vector<std::string>& args, PROCESS_INFORMATION* pi)
{
    std::string cmd = Quote(exe);
    for (auto& a : args) cmd += " " + Quote(a);
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    *pi = PROCESS_INFORMATION{};
    return CreateProcessA(exe.c_str(), line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, pi) != 0;
}
}  // namespace

HANDLE StartProgram(const std::string& exe, const std::vector<std::string>& args)
{
    PROCESS_INFORMATION pi;
    if (!Launch(exe, args, &pi)) return NULL;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

HANDLE StartChild(const std::string& name, const std::vector<std::string>& args)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::vector<std::string> all{"--vemlo-child", name};
    all.insert(all.end(), args.begin(), args.end());
    return StartProgram(self, all);
}

int RunTool(const std::string& exe, const std::vector<std::string>& args, std::string* out, std::string* err)
{
    std::string dir = FreshDir("tool_io_" + std::to_string(GetCurrentProcessId()));
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    HANDLE o = CreateFileA((dir + "\\out").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL);
    HANDLE e = err ? CreateFileA((dir + "\\err").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL)
                   : o;
    std::string cmd = "\"" + exe + "\"";
    for (const auto& a : args) cmd += " \"" + a + "\"";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = NULL;
    si.hStdOutput = o;
    si.hStdError = e;
    PROCESS_INFORMATION pi = {};
    int code = -1;
    if (CreateProcessA(exe.c_str(), line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        CloseHandle(pi.hThread);
        code = WaitExit(pi.hProcess, 60000);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(o);
    if (err) CloseHandle(e);
    if (out) *out = ReadAll(dir + "\\out");
    if (err) *err = ReadAll(dir + "\\err");
    RemoveTree(dir);
    return code;
}

int WaitExit(HANDLE p, DWORD timeoutMs)
{
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(p, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(p, &code);
    else TerminateProcess(p, 1);
    return (int)code;
}

std::string BinDir()
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string s = self;
    return s.substr(0, s.find_last_of('\\'));
}

int RunChild(const std::string& name, const std::vector<std::string>& args, DWORD timeoutMs)
{
    HANDLE p = StartChild(name, args);
    if (!p) return -1;
    int code = WaitExit(p, timeoutMs);
    CloseHandle(p);
    return code;
}

}  // namespace vt
