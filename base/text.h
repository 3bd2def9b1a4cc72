// Bounded text helpers: path joining, formatting and appending that never write past their
// buffer, the last backslash of a path in the system code page, and the language of the texts.
#pragma once
#include <stdarg.h>
#include <windows.h>

// Joins "dir\name" into out (size bytes). Returns 1 when the whole path and its NUL fit,
// else 0 with out untouched. Every composed path of the library goes through here.
int utl_JoinPath(char* out, unsigned size, const char* dir, const char* name);

// wsprintf-style formatting into out (size bytes, size > 0): always NUL-terminated, cut when
// the text does not fit (wsprintf itself stops at 1024 characters). Returns the length written.
int utl_Format(char* out, unsigned size, const char* fmt, ...);
// The same with the arguments of a variadic caller.
int utl_FormatV(char* out, unsigned size, const char* fmt, va_list args);

// Appends src to the NUL-terminated text in out (size bytes). Returns 1 when all of src fit,
// else 0 with as much appended as fits (still NUL-terminated).
int utl_Append(char* out, unsigned size, const char* src);

// The last backslash of path, found walking characters of the system code page (a trail byte
// 0x5C of a double-byte character is not a backslash); NULL when there is none.
const char* utl_FindLastBackslash(const char* path);
// Cuts text at its last backslash (as utl_FindLastBackslash finds it), keeping the backslash
// when keep is non-zero. Returns text, or NULL (text unchanged) when it is null, empty or has no
// backslash.
char* utl_CutAtLastBackslash(char* text, int keep);

// true when the system language is Chinese (PRC, 2052): every text shown is then the Chinese one
// (code page 936), else the English one.
bool IsChineseSystem();
