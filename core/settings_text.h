// Texts as the settings files and the registry hand them over: lists of section names and
// registry string values, taken apart within the bytes that were actually returned.
#pragma once
#include <cstdint>

// 1 when the list of NUL-separated names (ending with an empty name) in the first len bytes of
// list holds name. A name cut by the end of the len bytes is no name; nothing past len is read.
int core_ListHasName(const char* list, uint32_t len, const char* name);
// A registry string value of got bytes (stored with or without its NUL, or with bytes after it)
// as a text: 1 with the text up to its first NUL, terminated, in out (size bytes); 0 when it
// does not fit, with out untouched.
int core_TakeRegistryText(const char* data, uint32_t got, char* out, uint32_t size);
