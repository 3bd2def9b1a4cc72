// The program-wide values of the setup driver, shared with the password guard.
#include "setup/setup.h"

HANDLE g_hInstanceEvent = NULL;
int g_bExit = 0;
char g_szUninstallPass[128];
char g_szWorkDir[MAX_PATH];
HANDLE g_hSetupFile = INVALID_HANDLE_VALUE;
char g_szSetupPath[MAX_PATH];
