// Package writer internals that its tests reach: the content copy of one record.
#pragma once
#include <windows.h>

// Copies exactly size bytes from src to the package pkg through MixAndWrite, in pieces of up to
// bufSize bytes (buf holds bufSize), then makes sure src has nothing more. 0 on success with
// *readError = the last-error code after the final read that found the end; 157 when a write
// failed (*writeError = its last-error code); 166 when src failed, ended before size bytes or
// holds more than size bytes (*readError = the last-error code of that read).
DWORD PackCopyContent(HANDLE src, HANDLE pkg, DWORD size, BYTE* buf, DWORD bufSize,
                      DWORD* readError, DWORD* writeError);
