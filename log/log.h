// Logging and diagnostics: the three log writers, the detail switch, hex dumps and runtime
// utilities.
#pragma once
#include <windows.h>

// ---- Log files -------------------------------------------------------------------------------

// Non-zero switches detail lines of utl_WriteLog on. Only utl_LoadLogDetail sets it.
extern int g_bLogDetail;

// The setup driver's progress log: c:\VemloLog\setup<date>.log.
void WriteSetupLog(const char* message);
// The utility library's log: c:\VemloLog\stp_<tag><date>.log; a non-zero isDetail line is
// written only while g_bLogDetail is set.
void utl_WriteLog(const char* tag, const char* message, int isDetail);
// A log whose file stem the caller names: c:\VemloLog\<name><date>.log.
void utl_WriteNamedLog(const char* name, const char* message);
// The library's "<function>: <what happened>" line: prefix, then fmt formatted as utl_Format
// does, written as one ordinary line under tag and cut to 1023 characters. A null prefix is "".
void utl_LogLine(const char* tag, const char* prefix, const char* fmt, ...);

// None of the writers reports failure: a line that cannot be written is lost. Each line is
// appended whole under a byte-range lock; the lock is waited for at most 500 ms, after which the
// line goes out unlocked and later lines no longer wait (utl_SetLogLockWait sets the bound; tests).
void utl_SetLogLockWait(DWORD ms);

// A log session keeps every day's file that a writer opens on this thread open until the
// session ends, instead of opening it for each line: for runs of many lines, such as an unpack's
// trace. Sessions nest; another thread's lines are written as outside a session.
void utl_BeginLogSession();
void utl_EndLogSession();
struct LogSession {
    LogSession() { utl_BeginLogSession(); }
    ~LogSession() { utl_EndLogSession(); }
    LogSession(const LogSession&) = delete;
    LogSession& operator=(const LogSession&) = delete;
};

// ---- Log switches and hex dumps --------------------------------------------------------------

// Appends a hex dump of length bytes to the NUL-terminated text in text (textSize bytes): rows of
// 16 bytes "%08Xh:  " (row number), "%02X " per byte, ";  ", the printable bytes (others
// shown as "."), "\r\n". Only whole rows are appended; when the next row does not fit, the line
// "bytes2String got an exception." goes to the tag's log and the rows so far stay. Returns 0
// with text untouched when tag, data or text is null, else 1.
int bytes2String(const char* tag, const void* data, DWORD length, char* text, DWORD textSize);
// Writes "\r\n" + the hex dump as one ordinary line of the tag's log. 1 when written; 0 when
// tag or data is null, when isDetail is set while detail logging is off, or without memory.
int utl_LogBytes(const char* tag, const void* data, DWORD length, int isDetail);
// Readers of VemloMngCenter.ini beside the executable, section "config": LogDetail sets
// g_bLogDetail; the getters return LogDetail and bUpdEnabe. 0 when the file is not there.
void utl_LoadLogDetail();
int utl_GetLogDetail();
int utl_GetUpdEnable();

// ---- Runtime utilities (module tag "UtlCommon") ----------------------------------------------

// Directory of the running executable, with (keepSeparator != 0) or without its trailing
// backslash. 1 on success; 0 with a logged reason, buffer then cleared or holding the full or
// cut path.
int getCurRunPath(char* buffer, DWORD size, int keepSeparator);
// File version of fileName from its fixed version information: major.minor in *versionMS,
// build.revision in *versionLS. 0 with a line under tag (outputs untouched) on failure.
// version.dll is loaded from the system folder only, at run time.
int getVer(const char* tag, const char* fileName, DWORD* versionMS, DWORD* versionLS);
// Starts a thread with _beginthreadex and logs text + " id-%x." (or " failed. <reason>") under
// the tag "Proc_<process id>_". Returns the thread handle (caller closes) or NULL.
typedef unsigned(__stdcall* UtlThreadRoutine)(void* arg);
HANDLE utl_BeginThread(void* security, unsigned stackSize, UtlThreadRoutine start, void* arg,
                       unsigned flags, unsigned* threadId, const char* text);
// Waits without limit on handle. 1 when it was signalled or an abandoned mutex was acquired;
// otherwise logs text + " mtx-waiting returned <n>." under tag and returns 0.
int utl_WaitForHandle(HANDLE handle, const char* tag, const char* text);

// ---- File size (module tag "UtlFile") --------------------------------------------------------

// 1 with both halves of path's size set; 0 with the outputs untouched. A failed attribute query
// of an existing file is a line under "UtlFile".
int utl_GetFileSize(const char* path, DWORD* sizeHigh, DWORD* sizeLow);
