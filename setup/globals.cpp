// The program-wide values of the setup driver (the password gate keeps its own: guard/guard.h).
#include "setup/setup.h"

HANDLE g_hInstanceEvent = NULL;
char g_szWorkDir[MAX_PATH];
HANDLE g_hSetupFile = INVALID_HANDLE_VALUE;
char g_szSetupPath[MAX_PATH];
