// Main of every test executable: runs the tests, or a child routine when started as a child.
#include <gtest/gtest.h>

#include "testing/testutil.h"

int main(int argc, char** argv)
{
    int code = 0;
    if (vt::DispatchChild(argc, argv, &code)) return code;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
