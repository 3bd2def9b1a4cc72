// Main of every test executable: runs the tests, or a child routine when started as a child.
#include <gtest/gtest.h>

#include "testing/testutil.h"

// In every test executable: the run is in the language it is meant for (scripts/winrun sets
// VEMLO_EXPECT_LANG), so a Chinese run that fell back to English, or the reverse, fails here
// instead of passing the other language's branches.
TEST(Language, SystemLanguageAndCodePageAreThoseOfThisRun)
{
    char want[16] = "";
    ASSERT_TRUE(GetEnvironmentVariableA("VEMLO_EXPECT_LANG", want, sizeof want))
        << "VEMLO_EXPECT_LANG is not set: run the tests through scripts/winrun";
    const bool chinese = vt::ChineseRun();
    EXPECT_STREQ(want, chinese ? "2052" : "1033");
    EXPECT_EQ(LOWORD(GetSystemDefaultLangID()), chinese ? 0x0804 : 0x0409);
    EXPECT_EQ(GetACP(), chinese ? 936u : 1252u);
}

int main(int argc, char** argv)
{
    int code = 0;
    if (vt::DispatchChild(argc, argv, &code)) return code;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
