// This executable's own file: held from the start, and refused when it is not the running image.
#include <gtest/gtest.h>

#include <string>

#include "setup/setup.h"
#include "testing/testutil.h"

namespace {

// Waits for the go file, then opens its own image: 0 held and checked, 3 refused.
VEMLO_CHILD(open_own_image)
{
    if (argc < 1) return 2;
    for (int i = 0; i < 400 && GetFileAttributesA(argv[0]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(25);
    char path[MAX_PATH];
    HANDLE self = OpenOwnImage(path, sizeof path);
    if (self == INVALID_HANDLE_VALUE) return 3;
    // Held: nobody renames or rewrites the file meanwhile.
    std::string moved = std::string(path) + ".moved";
    bool renamed = MoveFileA(path, moved.c_str()) != 0;
    CloseHandle(self);
    return renamed ? 4 : 0;
}

TEST(OwnImage, HeldWhenItIsTheRunningImageRefusedWhenReplaced)
{
    std::string d = vt::FreshDir("own_image");
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string copy = d + "\\me.exe", go = d + "\\go";
    for (bool replace : {false, true}) {
        DeleteFileA(go.c_str());
        ASSERT_TRUE(CopyFileA(self, copy.c_str(), FALSE));
        HANDLE child = vt::StartProgram(copy, {"--vemlo-child", "open_own_image", go});
        ASSERT_TRUE(child);
        if (replace) {
            // Renamed while it runs, and another program put under its name.
            ASSERT_TRUE(MoveFileA(copy.c_str(), (d + "\\me.old").c_str()));
            ASSERT_TRUE(CopyFileA((vt::BinDir() + "\\ulmApxSvr.exe").c_str(), copy.c_str(), FALSE));
        }
        vt::WriteAll(go, "go");
        EXPECT_EQ(vt::WaitExit(child, 60000), replace ? 3 : 0) << replace;
        CloseHandle(child);
        DeleteFileA((d + "\\me.old").c_str());
    }
    // Another file than the loaded image, and no file at all.
    HANDLE other = CreateFileA((vt::BinDir() + "\\ulmApxSvr.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                               OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(IsLoadedImage(other, GetModuleHandleA(NULL)), 0);
    CloseHandle(other);
    EXPECT_EQ(OpenOwnImage(nullptr, 0), INVALID_HANDLE_VALUE);
    // A buffer that cuts the path: no handle, and no cut path handed out.
    char small[8];
    EXPECT_EQ(OpenOwnImage(small, sizeof small), INVALID_HANDLE_VALUE);
    EXPECT_STREQ(small, "");
}

}  // namespace
