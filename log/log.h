// Logging and diagnostics: the three log writers, the detail switch, hex dumps, runtime utilities,
// and the small text rules (path joining, bounded formatting) that every subsystem shares.
#pragma once
#include <windows.h>

// ---- Bounded text helpers --------------------------------------------------------------------

// Joins "dir\name" into out (size bytes). Returns 1 when the whole path and its NUL fit,
// else 0 with out untouched. Every composed path of the library goes through here.
int utl_JoinPath(char* out, unsigned size, const char* dir, const char* name);

// wsprintf-style formatting into out (size bytes, size > 0): always NUL-terminated, cut when
// the text does not fit (wsprintf itself stops at 1024 characters). Returns the length written.
int utl_Format(char* out, unsigned size, const char* fmt, ...);

// Appends src to the NUL-terminated text in out (size bytes). Returns 1 when all of src fit,
// else 0 with as much appended as fits (still NUL-terminated).
int utl_Append(char* out, unsigned size, const char* src);

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

// None of the writers reports failure: a line that cannot be written is lost.
