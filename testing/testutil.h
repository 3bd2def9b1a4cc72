// Test support: file helpers that do not use the code under test, real child processes.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace vt {

std::string ReadAll(const std::string& path);           // "" when missing
bool WriteAll(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
void RemoveTree(const std::string& path);                // clears read-only bits; no error if missing
void MakeDirs(const std::string& path);
std::vector<std::string> List(const std::string& dir);   // names in dir, sorted, without . and ..
std::vector<std::string> SplitLines(const std::string& text);  // on "\r\n"

// A fresh, empty folder for one test: C:\vtest\<name>.
std::string FreshDir(const std::string& name);

// Makes link (a Windows path) a symbolic link to the folder target: under Wine the way Wine
// shows a reparse point, a Unix symbolic link made by the system's ln; elsewhere a Windows
// symbolic link. false where that is not possible.
bool MakeFolderLink(const std::string& link, const std::string& target);
// The same for a file target. Wine shows such a link as a plain file, not as a reparse point.
bool MakeFileLink(const std::string& link, const std::string& target);
// Removes a link made by MakeFolderLink or MakeFileLink (or by Windows), never what it points
// to. Under Wine, Windows calls on a Unix link reach its target, so the link goes with rm.
void RemoveFolderLink(const std::string& link);
// Whether the tests run under Wine (ntdll exports wine_get_version).
bool IsWine();
// Whether this run is the Chinese one: scripts/winrun sets VEMLO_EXPECT_LANG=2052 for
// VEMLO_LANG=zh, 1033 otherwise. Every test executable checks that the system gives that
// language and its code page (936 or 1252); a test that depends on them asks these.
bool ChineseRun();
UINT ExpectedCodePage();  // 936 in the Chinese run, 1252 in the English one
// Every entry below dir, with the bytes of each file, as sorted "relative path=bytes" lines:
// two snapshots are equal when nothing below dir changed. Does not descend into links.
std::string Snapshot(const std::string& dir);

// Local date stamp of log file names ("%04u%02u%02u%02u", weekday 0 = Sunday), from the C library.
std::string TodayStamp();

// Child routines: a test executable started with "--vemlo-child NAME args..." runs the routine
// registered under NAME instead of the tests, and exits with its result.
using ChildFn = int (*)(int argc, char** argv);
struct ChildRegistrar {
    ChildRegistrar(const char* name, ChildFn fn);
};
#define VEMLO_CHILD(name)                                                       \
    static int VemloChild_##name(int argc, char** argv);                        \
    static ::vt::ChildRegistrar vemloChildReg_##name(#name, &VemloChild_##name); \
    static int VemloChild_##name(int argc, char** argv)

// Starts this executable as child NAME with args; returns the process handle (caller closes)
// or NULL.
HANDLE StartChild(const std::string& name, const std::vector<std::string>& args);
// Starts the child, waits for it and returns its exit code (or -1).
int RunChild(const std::string& name, const std::vector<std::string>& args, DWORD timeoutMs = 120000);

// Starts another program with a command line; returns the process handle (caller closes) or NULL.
HANDLE StartProgram(const std::string& exe, const std::vector<std::string>& args);
// Runs a console program with args (each passed quoted) and waits up to a minute. Its standard
// output goes to *out and its standard error to *err, or to *out as well when err is null; the
// bytes are as the program wrote them. Returns the exit code, -1 when it did not start or end.
int RunTool(const std::string& exe, const std::vector<std::string>& args, std::string* out, std::string* err);

// Waits for a process and returns its exit code (-1 on time-out, after terminating it).
int WaitExit(HANDLE process, DWORD timeoutMs);
// The folder of the running test executable (the build's bin folder).
std::string BinDir();

// Runs child routine NAME if argv asks for one; returns true and sets exitCode when it did.
bool DispatchChild(int argc, char** argv, int* exitCode);

}  // namespace vt
