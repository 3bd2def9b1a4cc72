// Text checks: forbidden characters of names, the IPv6 form.
#include <gtest/gtest.h>

#include <string>

#include "core/names.h"

namespace {

TEST(Names, FileNameRefusesEachForbiddenCharacterAndTab)
{
    EXPECT_EQ(utl_IsValidFileName("report 2013-04.txt"), 1);
    EXPECT_EQ(utl_IsValidFileName(""), 1);
    EXPECT_EQ(utl_IsValidFileName("it's"), 1);  // the apostrophe is allowed here
    for (char c : std::string("\\/:*?\"<>|\t")) {
        std::string name = std::string("ab") + c + "cd";
        EXPECT_EQ(utl_IsValidFileName(name.c_str()), 0) << int(c);
    }
    EXPECT_EQ(utl_IsValidFileName(nullptr), 0);
}

TEST(Names, NoApostropheRefusesApostropheButAllowsTab)
{
    EXPECT_EQ(utl_IsValidNameNoApostrophe("Vemlo PC"), 1);
    EXPECT_EQ(utl_IsValidNameNoApostrophe("a\tb"), 1);
    for (char c : std::string("\\/:*?\"'<>|")) {
        std::string name = std::string(1, c) + "x";
        EXPECT_EQ(utl_IsValidNameNoApostrophe(name.c_str()), 0) << int(c);
    }
    EXPECT_EQ(utl_IsValidNameNoApostrophe(nullptr), 0);
}

struct Ipv6Case {
    const char* text;
    int expected;
};

// Forms of RFC 4291 section 2.2 and their neighbours. Where the client's rule is narrower than
// the RFC (embedded IPv4, a "::" standing for a single group, prefixes, zone indexes), the
// answer is the client's.
const Ipv6Case kIpv6Cases[] = {
    // Form 1: eight groups.
    {"ABCD:EF01:2345:6789:ABCD:EF01:2345:6789", 1},
    {"2001:DB8:0:0:8:800:200C:417A", 1},
    {"fe80:0:0:0:0:0:0:1", 1},
    {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 1},  // 39 characters, the longest
    {"1:2:3:4:5:6:7", 0},                             // seven groups
    {"1:2:3:4:5:6:7:8:9", 0},                         // nine groups
    // Form 2: "::" compression.
    {"2001:DB8::8:800:200C:417A", 1},
    {"FF01::101", 1},
    {"::1", 1},
    {"::", 1},
    {"1::", 1},
    {"fe80::abcd", 1},
    {"1::3:4:5:6:7:8", 1},  // five single colons
    {"1:2:3:4:5:6:7::", 0},  // RFC 4291 accepts "::" for one group; six single colons here
    {"::2:3:4:5:6:7:8", 0},
    {"1::2::3", 0},          // two "::"
    {":::", 0},
    {"1:::2", 0},
    // Single colons must stand between digits.
    {":1:2:3:4:5:6:7", 0},
    {"1:2:3:4:5:6:7:", 0},
    {"1:", 0},
    // Groups of at most four hexadecimal digits.
    {"12345::1", 0},
    {"::12345", 0},
    {"1:2:3:4:5:6:7:12345", 0},
    {"g::1", 0},
    {"1: 2::", 0},
    // Form 3 (embedded IPv4), prefixes, zone indexes, brackets: not accepted.
    {"0:0:0:0:0:0:13.1.68.3", 0},
    {"::13.1.68.3", 0},
    {"::FFFF:129.144.52.38", 0},
    {"2001:DB8::CD30:0:0:0:0/60", 0},
    {"fe80::1%eth0", 0},
    {"[::1]", 0},
    // Length and colon.
    {"", 0},
    {"1234", 0},
    {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff0", 0},  // 40 characters
};

TEST(Names, Ipv6TextFollowsTheColonHexadecimalRules)
{
    for (const Ipv6Case& c : kIpv6Cases) EXPECT_EQ(utl_IsIpv6Text(c.text), c.expected) << c.text;
    EXPECT_EQ(utl_IsIpv6Text(nullptr), 0);
}

TEST(Names, Ipv6TextOfAnyLengthIsBounded)
{
    std::string longText(100000, ':');
    EXPECT_EQ(utl_IsIpv6Text(longText.c_str()), 0);
}

}  // namespace
