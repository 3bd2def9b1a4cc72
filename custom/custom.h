// Customisation files and integrity: MD5 and the .vrf digest files, the customisation store
// (reginfo folder) and the client's settings-file helpers.
#pragma once
#include <windows.h>

// ---- Integrity digests ------------------------------------------------------------------------

// ---- Customisation store and restore ----------------------------------------------------------

// ---- Client settings files --------------------------------------------------------------------
