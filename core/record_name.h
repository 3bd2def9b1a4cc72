// The record-name rule of the package reader.
#pragma once
#include <cstdint>

// 1 when a record name (len bytes, not terminated) stays inside the destination folder once
// joined to it: no NUL or control bytes, no drive, colon or device name, no leading separator,
// no empty, "." or ".." component, no component ending in a dot or blank, none of <>"|?*.
// Separators count only at character starts: isLeadByte tells the double-byte lead bytes of
// the code page the name will be opened in (null: a single-byte code page).
int core_IsSafeRecordName(const char* name, uint32_t len, int (*isLeadByte)(uint8_t));
