// The uninstall password given on the command line (/pwdfile=PATH, /password=TEXT): found as
// the C runtime splits a command line, taken out of what the installer gets, checked as the
// dialog checks, and wiped from the process's copies of its command line.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "base/text.h"
#include "guard/guard.h"
#include "log/log.h"
#include "setup/setup.h"

namespace {

enum SwitchKind { kNotPassword, kPasswordFile, kPasswordText };

template <class C>
bool Blank(C c)
{
    return c == ' ' || c == '\t';
}

// The end of the word that starts at p: a blank outside quotes ends it. A quote after an odd
// number of backslashes is a quote of the word, not a quoting one.
template <class C>
const C* WordEnd(const C* p)
{
    bool quoted = false;
    while (*p && (quoted || !Blank(*p))) {
        if (*p == '\\') {
            const C* q = p;
            while (*q == '\\') ++q;
            p = (*q == '"' && (q - p) % 2 == 1) ? q + 1 : q;
            continue;
        }
        if (*p == '"') quoted = !quoted;
        ++p;
    }
    return p;
}

// The word [b, e) as the program gets it: quotes taken away, 2n backslashes before a quote made
// n. out (cap > 0 characters) gets as much as fits and a NUL; the whole length is returned.
template <class C>
size_t Decode(const C* b, const C* e, C* out, size_t cap)
{
    size_t n = 0;
    auto put = [&](C c) {
        if (n + 1 < cap) out[n] = c;
        ++n;
    };
    for (const C* p = b; p < e;) {
        if (*p == '\\') {
            const C* q = p;
            while (q < e && *q == '\\') ++q;
            size_t k = (size_t)(q - p);
            bool quote = q < e && *q == '"';
            for (size_t i = 0; i < (quote ? k / 2 : k); ++i) put('\\');
            if (quote && k % 2 == 1) put('"');
            p = quote ? q + 1 : q;
            continue;
        }
        if (*p != '"') put(*p);
        ++p;
    }
    out[n < cap ? n : cap - 1] = 0;
    return n;
}

// Which password switch a decoded word is; *value gets where its value starts.
template <class C>
SwitchKind KindOf(const C* word, size_t* value)
{
    static const char* const kNames[] = {"pwdfile=", "password="};
    if (word[0] != '/' && word[0] != '-') return kNotPassword;
    for (int k = 0; k < 2; ++k) {
        size_t i = 0;
        for (; kNames[k][i]; ++i) {
            C c = word[1 + i];
            if (c >= 'A' && c <= 'Z') c = (C)(c - 'A' + 'a');
            if (c != (C)kNames[k][i]) break;
        }
        if (!kNames[k][i]) {
            *value = 1 + i;
            return k == 0 ? kPasswordFile : kPasswordText;
        }
    }
    return kNotPassword;
}

// Enough of a word to know whether it is a password switch.
const size_t kPrefixChars = 16;

// Zeroes every password switch of line in place (the line ends at the first one then).
template <class C>
void WipeSwitchesIn(C* line)
{
    if (!line) return;
    for (C* p = line; *p;) {
        while (Blank(*p)) ++p;
        C* end = const_cast<C*>(WordEnd<C>(p));
        C prefix[kPrefixChars];
        size_t value = 0;
        Decode<C>(p, end, prefix, kPrefixChars);
        bool secret = KindOf(prefix, &value) != kNotPassword;
        SecureZeroMemory(prefix, sizeof prefix);
        if (secret) {
            // What follows is still read: the word's end is known, the zeros stop at it.
            SecureZeroMemory(p, (size_t)(end - p) * sizeof(C));
            p = end;
            if (*p) ++p;
            continue;
        }
        p = end;
    }
}

bool Append(char* out, size_t size, size_t* used, const char* from, size_t n)
{
    if (*used + n >= size) return false;
    CopyMemory(out + *used, from, n);
    *used += n;
    out[*used] = '\0';
    return true;
}

}  // namespace

bool TakePwdSwitches(const char* commandLine, char* handedOn, size_t size, PwdGiven* given)
{
    ZeroMemory(given, sizeof *given);
    if (size == 0) return false;
    handedOn[0] = '\0';
    const char* p = commandLine ? commandLine : "";
    size_t used = 0;
    const char* start = p;
    while (Blank(*p)) ++p;
    bool ok = Append(handedOn, size, &used, start, (size_t)(p - start));
    bool anyKept = false;
    char word[MAX_PATH + kPrefixChars];
    while (*p) {
        const char* blanks = p;
        while (Blank(*p)) ++p;
        if (!*p) {  // the blanks after the last word stay
            ok = ok && Append(handedOn, size, &used, blanks, (size_t)(p - blanks));
            break;
        }
        const char* end = WordEnd(p);
        size_t length = Decode(p, end, word, sizeof word);
        size_t value = 0;
        SwitchKind kind = KindOf(word, &value);
        if (kind == kNotPassword) {
            const char* from = anyKept ? blanks : p;
            ok = ok && Append(handedOn, size, &used, from, (size_t)(end - from));
            anyKept = true;
        } else {
            ++given->count;
            given->fromFile = kind == kPasswordFile;
            given->cut = length >= sizeof word || length - value >= sizeof given->value;
            lstrcpynA(given->value, word + value, (int)sizeof given->value);
        }
        SecureZeroMemory(word, sizeof word);
        p = end;
    }
    if (!ok) handedOn[0] = '\0';
    return ok;
}

void WipePwdSwitches(PwdGiven* given)
{
    if (given) SecureZeroMemory(given->value, sizeof given->value);
    // The text GetCommandLineA returns is the one WinMain was given; the runtime's arguments
    // are copies of their own, and the wide text is the system's record of the start.
    WipeSwitchesIn(GetCommandLineA());
    WipeSwitchesIn(GetCommandLineW());
    for (int i = 0; __argv && i < __argc; ++i) WipeSwitchesIn(__argv[i]);
    for (int i = 0; __wargv && i < __argc; ++i) WipeSwitchesIn(__wargv[i]);
}

PwdVerdict CheckGivenPassword(PwdGiven* given, const char* stored)
{
    if (given->count == 0) return kPwdNoneGiven;
    char password[kPwdMaxChars * 2 + 1];
    int n = 0;
    DWORD systemError = 0;
    PwdRefusal why = kPwdUsable;
    if (given->count > 1)
        why = kPwdGivenTwice;
    else if (given->fromFile && given->cut)
        why = kPwdFileUnopened, systemError = ERROR_FILENAME_EXCED_RANGE;
    else if (given->fromFile)
        why = ReadPwdFile(given->value, password, &n, &systemError);
    else if (given->cut)
        why = kPwdTooLong;
    else if ((why = PwdTextRule(given->value, lstrlenA(given->value), PwdIsLeadByte)) == kPwdUsable)
        lstrcpynA(password, given->value, (int)sizeof password), n = lstrlenA(password);

    PwdVerdict verdict = kPwdRefused;
    if (why == kPwdUsable) verdict = utl_PwdMatches(password, n, stored) ? kPwdRight : kPwdWrong;
    SecureZeroMemory(password, sizeof password);

    char line[MAX_PATH + 160];
    if (verdict != kPwdRefused) {
        WriteSetupLog(verdict == kPwdRight ? "The given password is right." : "The given password is wrong.");
    } else {
        char reason[128];
        if (systemError != 0)
            utl_Format(reason, sizeof reason, "%s, system error %u", PwdRefusalText(why), systemError);
        else
            utl_Format(reason, sizeof reason, "%s", PwdRefusalText(why));
        // The path is no secret; the value of /password is never written.
        if (given->count == 1 && given->fromFile)
            utl_Format(line, sizeof line, "The password file was refused: %s (%s).", reason, given->value);
        else
            utl_Format(line, sizeof line, "The given password was refused: %s.", reason);
        WriteSetupLog(line);
    }
    WipePwdSwitches(given);
    return verdict;
}
