// The version.dll loader: the library comes from the system folder, with its three functions.
#include <gtest/gtest.h>

#include <string>

#include "base/version.h"

TEST(VersionApi, LoadsTheSystemFoldersLibrary)
{
    VersionApi api;
    ASSERT_EQ(utl_LoadVersionApi(&api), 0u);
    EXPECT_TRUE(api.getSize && api.getInfo && api.query);
    char loaded[MAX_PATH], system[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(api.dll.Get(), loaded, sizeof loaded), 0u);
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    EXPECT_EQ(_stricmp(loaded, (std::string(system) + "\\version.dll").c_str()), 0) << loaded;
}
