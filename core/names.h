// Text checks of the library: file names and IPv6 text, as settings and registry values hand
// them over. Cutting a path at its last backslash is base/'s (utl_CutAtLastBackslash,
// base/text.h): it depends on the code page.
#pragma once

// 1 when text holds none of  \ / : * ? " < > |  and TAB; else 0.
int utl_IsValidFileName(const char* text);
// 1 when text holds none of  \ / : * ? " ' < > |  (TAB is allowed); else 0.
int utl_IsValidNameNoApostrophe(const char* text);
// 1 when text is an IPv6 address in colon-hexadecimal form (1..39 characters, 8 groups of 1..4
// hex digits, or one "::" with at most 5 single colons); no zone index, brackets or dotted IPv4.
int utl_IsIpv6Text(const char* text);
