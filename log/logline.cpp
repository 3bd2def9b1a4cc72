// The one rule for a prefixed line under a module tag, shared by the subsystems' small traces.
#include <stdarg.h>

#include "base/text.h"
#include "log/log.h"

void utl_LogLine(const char* tag, const char* prefix, const char* fmt, ...)
{
    char line[1024];
    int n = utl_Format(line, sizeof line, "%s", prefix ? prefix : "");
    va_list ap;
    va_start(ap, fmt);
    utl_FormatV(line + n, sizeof line - n, fmt, ap);
    va_end(ap);
    utl_WriteLog(tag, line, 0);
}
