// Upgrade password guard: the uninstall-password lookup and registry layer, the password
// dialog, and the DES/Base64 cipher of the stored password.
#pragma once
#include <windows.h>

// ---- Password cipher --------------------------------------------------------------------------

// ---- Registry layer and text checks -----------------------------------------------------------

// ---- Uninstall-password lookup ----------------------------------------------------------------

// ---- Password dialog --------------------------------------------------------------------------
