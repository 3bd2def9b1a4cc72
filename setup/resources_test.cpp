// Setup.exe's resources as Windows reads them: the version resource of the release (both
// language blocks) and the manifest.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "testing/testutil.h"

namespace {

std::wstring Wide(const std::string& utf8)
{
    std::wstring out(utf8.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], (int)out.size());
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

std::string SetupPath() { return vt::BinDir() + "\\Setup.exe"; }

TEST(SetupResources, VersionResourceCarriesTheReleaseInBothLanguages)
{
    std::wstring path = Wide(SetupPath());
    DWORD ignored = 0, size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    // The numbers of the fixed part, read from the dotted version the build was given.
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", (void**)&fixed, &len));
    unsigned a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(sscanf(VEMLO_EXPECT_VERSION, "%u.%u.%u.%u", &a, &b, &c, &d), 4);
    EXPECT_EQ(fixed->dwFileVersionMS, (a << 16) | b);
    EXPECT_EQ(fixed->dwFileVersionLS, (c << 16) | d);
    EXPECT_EQ(fixed->dwProductVersionMS, (a << 16) | b);
    EXPECT_EQ(fixed->dwProductVersionLS, (c << 16) | d);

    // Both translations are listed: English (0409) and Chinese (0804), Unicode (1200).
    WORD* translations = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", (void**)&translations, &len));
    ASSERT_EQ(len, 8u);
    EXPECT_EQ(std::vector<WORD>(translations, translations + 4), (std::vector<WORD>{0x409, 1200, 0x804, 1200}));

    const struct {
        const wchar_t* name;
        const char* english;
        const char* chinese;
    } values[] = {
        {L"FileVersion", VEMLO_EXPECT_VERSION, VEMLO_EXPECT_VERSION},
        {L"ProductVersion", VEMLO_EXPECT_VERSION, VEMLO_EXPECT_VERSION},
        {L"ProductName", VEMLO_EXPECT_PRODUCT_NAME, VEMLO_EXPECT_PRODUCT_NAME},
        {L"CompanyName", VEMLO_EXPECT_COMPANY_NAME, VEMLO_EXPECT_COMPANY_NAME},
        {L"FileDescription", VEMLO_EXPECT_FILE_DESCRIPTION, VEMLO_EXPECT_FILE_DESCRIPTION_ZH},
        {L"LegalCopyright", VEMLO_EXPECT_COPYRIGHT, VEMLO_EXPECT_COPYRIGHT},
        {L"OriginalFilename", "Setup.exe", "Setup.exe"},
    };
    for (const wchar_t* block : {L"040904b0", L"080404b0"}) {
        for (const auto& v : values) {
            std::wstring query = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + v.name;
            wchar_t* text = nullptr;
            std::string shown(query.begin(), query.end());
            ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), (void**)&text, &len)) << shown;
            std::string want = block[1] == L'4' ? v.english : v.chinese;
            EXPECT_FALSE(want.empty()) << shown;
            EXPECT_EQ(std::wstring(text), Wide(want)) << shown;
        }
    }
}

TEST(SetupResources, ManifestNamesTheSystemsAndDpiAwareness)
{
    HMODULE setup = LoadLibraryExA(SetupPath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(setup);
    HRSRC found = FindResourceA(setup, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_TRUE(found);
    HGLOBAL loaded = LoadResource(setup, found);
    ASSERT_TRUE(loaded);
    std::string manifest(static_cast<const char*>(LockResource(loaded)), SizeofResource(setup, found));
    FreeLibrary(setup);
    for (const char* want : {
             "level=\"requireAdministrator\"",
             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
             "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">",
             "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",  // Windows 7
             "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",  // 8
             "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",  // 8.1
             "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",  // 10 and 11
             "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
             "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>",
             "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, "
             "PerMonitor</dpiAwareness>",
         })
        EXPECT_NE(manifest.find(want), std::string::npos) << want;
}

}  // namespace
