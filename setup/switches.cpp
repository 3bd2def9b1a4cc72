// Setup's own switches on its command line: unattended (/S, /quiet) and help (/?, /h, /help), each
// with a slash or a dash, in any letter case. Pure: no system call, so it is tested anywhere.
#include "setup/setup.h"

namespace {

bool SameLetters(const char* word, size_t n, const char* name)
{
    size_t i = 0;
    for (; i < n && name[i]; ++i) {
        char c = word[i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != name[i]) return false;
    }
    return i == n && name[i] == '\0';
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

SetupSwitches ReadSwitches(const char* commandLine)
{
    SetupSwitches found = {false, false};
    const char* p = commandLine ? commandLine : "";
    while (*p) {
        while (IsBlank(*p)) ++p;
        const char* word = p;
        while (*p && !IsBlank(*p)) ++p;
        size_t n = (size_t)(p - word);
        // Burn and msiexec take both prefixes; the installer gets the word as it was either way.
        if (n < 2 || (word[0] != '/' && word[0] != '-')) continue;
        const char* name = word + 1;
        --n;
        if (SameLetters(name, n, "s") || SameLetters(name, n, "quiet")) found.unattended = true;
        if (SameLetters(name, n, "?") || SameLetters(name, n, "h") || SameLetters(name, n, "help")) found.help = true;
    }
    return found;
}

bool IsUnattended(const char* commandLine) { return ReadSwitches(commandLine).unattended; }
