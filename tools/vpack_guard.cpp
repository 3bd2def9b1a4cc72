// vpack uninstall-check: would the setup ask for the uninstall password on this machine, and why.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "guard/guard.h"
#include "tools/vpack.h"

namespace {

// The module under which the setup itself logs its lookup; the check writes to the same file,
// so support staff read the decision where the setup would have written it.
const char kModule[] = "setup";

}  // namespace

VPACK_COMMAND(uninstall_check, 3, "uninstall-check", "vpack uninstall-check",
              "would the setup ask for the uninstall password here? (runs its lookup, logs to c:\\VemloLog)")
{
    (void)argv;
    if (argc != 0) return VpackUsage("uninstall-check");

    // The lookup restores damaged customisation files from their backups, exactly as the setup
    // would before it asks.
    char password[128] = {};
    int ask = IsUninstallPrompt(kModule, password);
    password[sizeof password - 1] = '\0';

    SYSTEMTIME st;
    GetLocalTime(&st);  // the detail log's file is named after the local date and weekday
    char log[MAX_PATH];
    std::snprintf(log, sizeof log, "c:\\VemloLog\\stp_%s%04u%02u%02u%02u.log", kModule, st.wYear, st.wMonth,
                  st.wDay, st.wDayOfWeek);

    std::printf("setup would ask for the uninstall password: %s\n", ask ? "yes" : "no");
    std::printf("stored password text: %s\n", password[0] ? password : "(none)");
    std::printf("detail log: %s\n", log);
    return 0;
}
