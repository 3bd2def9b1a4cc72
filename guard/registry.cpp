// Registry layer of the guard: read and write one DWORD or text value under a caller's root key.
// Keys are opened without a view flag, so a 32-bit build on 64-bit Windows works in the 32-bit
// view, where the 32-bit client keeps its values.
#include <string.h>

#include "guard/guard.h"

#include "base/handles.h"
#include "core/settings_text.h"

namespace {

// The largest text value the lookups read: a path of 259 characters and its NUL.
const DWORD kTextValueMax = 260;

HKEY OpenForQuery(HKEY root, const char* subkey)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return NULL;
    return key;
}

HKEY CreateOrOpen(HKEY root, const char* subkey)
{
    HKEY key = NULL;
    if (RegCreateKeyA(root, subkey, &key) != ERROR_SUCCESS) return NULL;
    return key;
}

}  // namespace

int utl_RegReadDword(HKEY root, const char* subkey, const char* name, DWORD* value)
{
    if (!value || !subkey) return 0;
    KeyHandle key(OpenForQuery(root, subkey));
    if (!key.Valid()) return 0;
    // Read into a local: after ERROR_MORE_DATA the buffer's content is undefined, and the
    // caller's variable must keep its value on failure.
    DWORD data = 0, size = sizeof data;
    if (RegQueryValueExA(key.Get(), name, NULL, NULL, reinterpret_cast<BYTE*>(&data), &size) !=
        ERROR_SUCCESS)
        return 0;
    *value = data;
    return 1;
}

int utl_RegReadString(HKEY root, const char* subkey, const char* name, char* out, DWORD size)
{
    if (!out || !subkey) return 0;
    KeyHandle key(OpenForQuery(root, subkey));
    if (!key.Valid()) return 0;
    // One byte beyond the largest accepted value, so that a value stored without its NUL still
    // becomes a terminated text.
    char data[kTextValueMax + 1];
    DWORD got = kTextValueMax;
    if (RegQueryValueExA(key.Get(), name, NULL, NULL, reinterpret_cast<BYTE*>(data), &got) !=
        ERROR_SUCCESS)
        return 0;
    if (got > kTextValueMax) return 0;
    return core_TakeRegistryText(data, got, out, size);
}

int utl_RegWriteDword(HKEY root, const char* subkey, const char* name, DWORD value)
{
    if (!subkey) return 0;
    KeyHandle key(CreateOrOpen(root, subkey));
    if (!key.Valid()) return 0;
    return RegSetValueExA(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

int utl_RegWriteString(HKEY root, const char* subkey, const char* name, const char* text)
{
    if (!subkey || !text) return 0;
    size_t len = strlen(text);
    if (len >= 0xFFFFFFFFu) return 0;
    KeyHandle key(CreateOrOpen(root, subkey));
    if (!key.Valid()) return 0;
    // The terminator is stored with the text: readers that take the bytes as they are (this
    // layer among them) then find a complete string.
    return RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          (DWORD)(len + 1)) == ERROR_SUCCESS;
}

int utl_RegDeleteValue(HKEY root, const char* subkey, const char* name)
{
    if (!subkey) return 0;
    HKEY raw = NULL;
    if (RegOpenKeyExA(root, subkey, 0, KEY_SET_VALUE, &raw) != ERROR_SUCCESS) return 0;
    KeyHandle key(raw);
    return RegDeleteValueA(key.Get(), name) == ERROR_SUCCESS;
}
