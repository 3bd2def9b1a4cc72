// Registry layer: reads bounded by their buffers, writes with their types, the registry view.
#include <gtest/gtest.h>

#include <string>

#include "guard/guard.h"

namespace {

const char kKey[] = "SOFTWARE\\VemloTest\\Reg";

// Raw writes and reads for the tests, without the layer under test.
void SetRaw(const char* name, DWORD type, const void* data, DWORD size, REGSAM view = 0)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, NULL, 0, KEY_SET_VALUE | view, NULL, &key, NULL),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

bool QueryRaw(const char* name, DWORD* type, std::string* data)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    char buf[1024];
    DWORD size = sizeof buf;
    LONG rc = RegQueryValueExA(key, name, NULL, type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    data->assign(buf, size);
    return true;
}

void DeleteTestKeys(REGSAM view = 0)
{
    HKEY software;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) != ERROR_SUCCESS) return;
    RegDeleteTreeA(software, "VemloTest");
    RegCloseKey(software);
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override { DeleteTestKeys(); }
    void TearDown() override
    {
        DeleteTestKeys();
        DeleteTestKeys(KEY_WOW64_32KEY);
        DeleteTestKeys(KEY_WOW64_64KEY);
    }
};

TEST_F(Registry, DwordRoundTripAndItsStoredForm)
{
    ASSERT_EQ(utl_RegWriteDword(HKEY_LOCAL_MACHINE, kKey, "Uninstall", 0x01980001), 1);
    DWORD type = 0;
    std::string raw;
    ASSERT_TRUE(QueryRaw("Uninstall", &type, &raw));
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(raw, std::string("\x01\x00\x98\x01", 4));  // little-endian
    DWORD v = 0;
    EXPECT_EQ(utl_RegReadDword(HKEY_LOCAL_MACHINE, kKey, "Uninstall", &v), 1);
    EXPECT_EQ(v, 0x01980001u);
}

TEST_F(Registry, DwordReadTakesAnyTypeUpToFourBytes)
{
    SetRaw("two", REG_BINARY, "\x34\x12", 2);
    SetRaw("text", REG_SZ, "1", 2);
    SetRaw("wide", REG_QWORD, "\x01\x00\x00\x00\x00\x00\x00\x00", 8);
    DWORD v = 0xAAAAAAAA;
    EXPECT_EQ(utl_RegReadDword(HKEY_LOCAL_MACHINE, kKey, "two", &v), 1);
    EXPECT_EQ(v, 0x1234u);  // the two bytes, zero-extended
    EXPECT_EQ(utl_RegReadDword(HKEY_LOCAL_MACHINE, kKey, "text", &v), 1);
    EXPECT_EQ(v, 0x31u);  // '1' and its NUL: the type is not checked

    // A value longer than four bytes, a missing value or key: 0, the variable keeps its value.
    v = 0xAAAAAAAA;
    EXPECT_EQ(utl_RegReadDword(HKEY_LOCAL_MACHINE, kKey, "wide", &v), 0);
    EXPECT_EQ(utl_RegReadDword(HKEY_LOCAL_MACHINE, kKey, "missing", &v), 0);
    EXPECT_EQ(utl_RegReadDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\VemloTest\\None", "two", &v), 0);
    EXPECT_EQ(v, 0xAAAAAAAAu);
    EXPECT_EQ(utl_RegReadDword(HKEY_LOCAL_MACHINE, kKey, "two", nullptr), 0);
    EXPECT_EQ(utl_RegReadDword(HKEY_LOCAL_MACHINE, nullptr, "two", &v), 0);
}

TEST_F(Registry, StringRoundTripStoresTheTerminator)
{
    ASSERT_EQ(utl_RegWriteString(HKEY_LOCAL_MACHINE, kKey, "UninstallPwd", "Zm9vYmFy"), 1);
    DWORD type = 0;
    std::string raw;
    ASSERT_TRUE(QueryRaw("UninstallPwd", &type, &raw));
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(raw, std::string("Zm9vYmFy\0", 9));
    char out[128] = "untouched";
    EXPECT_EQ(utl_RegReadString(HKEY_LOCAL_MACHINE, kKey, "UninstallPwd", out, sizeof out), 1);
    EXPECT_STREQ(out, "Zm9vYmFy");
    EXPECT_EQ(utl_RegWriteString(HKEY_LOCAL_MACHINE, kKey, "x", nullptr), 0);
}

TEST_F(Registry, StringMustFitTheCallersBufferWithItsTerminator)
{
    std::string s127(127, 'p'), s128(128, 'q');
    SetRaw("p127", REG_SZ, s127.c_str(), 128);
    SetRaw("p128", REG_SZ, s128.c_str(), 129);
    char out[128];
    EXPECT_EQ(utl_RegReadString(HKEY_LOCAL_MACHINE, kKey, "p127", out, sizeof out), 1);
    EXPECT_EQ(std::string(out), s127);
    memset(out, 'u', sizeof out);
    EXPECT_EQ(utl_RegReadString(HKEY_LOCAL_MACHINE, kKey, "p128", out, sizeof out), 0);
    EXPECT_EQ(std::string(out, sizeof out), std::string(128, 'u'));  // untouched
    EXPECT_EQ(utl_RegReadString(HKEY_LOCAL_MACHINE, kKey, "p127", out, 0), 0);
}

TEST_F(Registry, StringValuesFromOutsideAreBounded)
{
    // Stored without a terminator: still one terminated text.
    SetRaw("bare", REG_SZ, "abc", 3);
    // The largest accepted value: 260 bytes, no NUL among them.
    std::string s260(260, 'v'), s261(261, 'w');
    SetRaw("v260", REG_BINARY, s260.data(), 260);
    SetRaw("v261", REG_SZ, s261.c_str(), 262);
    SetRaw("inner", REG_SZ, "ab\0cd", 6);
    DWORD one = 1;
    SetRaw("dword", REG_DWORD, &one, 4);

    char out[300];
    memset(out, 'u', sizeof out);
    EXPECT_EQ(utl_RegReadString(HKEY_LOCAL_MACHINE, kKey, "bare", out, sizeof out), 1);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(utl_RegReadString(HKEY_LOCAL_MACHINE, kKey, "v260", out, sizeof out), 1);
    EXPECT_EQ(std::string(out), s260);
    EXPECT_EQ(utl_RegReadString(HKEY_LOCAL_MACHINE, kKey, "v260", out, 260), 0);  // no room for the NUL
    memset(out, 'u', sizeof out);
    EXPECT_EQ(utl_RegReadString(HKEY_LOCAL_MACHINE, kKey, "v261", out, sizeof out), 0);
    EXPECT_EQ(out[0], 'u');
    EXPECT_EQ(utl_RegReadString(HKEY_LOCAL_MACHINE, kKey, "inner", out, sizeof out), 1);
    EXPECT_STREQ(out, "ab");  // the text ends at its first NUL
    EXPECT_EQ(utl_RegReadString(HKEY_LOCAL_MACHINE, kKey, "dword", out, sizeof out), 1);
    EXPECT_STREQ(out, "\x01");  // nothing is converted
    EXPECT_EQ(utl_RegReadString(HKEY_LOCAL_MACHINE, kKey, "missing", out, sizeof out), 0);
    EXPECT_EQ(utl_RegReadString(HKEY_LOCAL_MACHINE, kKey, "bare", nullptr, 10), 0);
}

TEST_F(Registry, DeleteValue)
{
    ASSERT_EQ(utl_RegWriteDword(HKEY_LOCAL_MACHINE, kKey, "gone", 7), 1);
    EXPECT_EQ(utl_RegDeleteValue(HKEY_LOCAL_MACHINE, kKey, "gone"), 1);
    DWORD v = 0;
    EXPECT_EQ(utl_RegReadDword(HKEY_LOCAL_MACHINE, kKey, "gone", &v), 0);
    EXPECT_EQ(utl_RegDeleteValue(HKEY_LOCAL_MACHINE, kKey, "gone"), 0);
    EXPECT_EQ(utl_RegDeleteValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\VemloTest\\None", "gone"), 0);
}

TEST_F(Registry, KeysAreOpenedInTheProcessOwnView)
{
    // A 32-bit program on 64-bit Windows must see the 32-bit view, a 64-bit one the 64-bit view:
    // a value written only in the other view is not found, one written through the default
    // view is.
    SYSTEM_INFO si;
    GetNativeSystemInfo(&si);
    bool nativeIs64 = si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                      si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
    if (!nativeIs64) GTEST_SKIP() << "one registry view only";
    REGSAM other = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

    SetRaw("Uninstall", REG_DWORD, "\x05\x00\x00\x00", 4, other);
    DWORD v = 0;
    EXPECT_EQ(utl_RegReadDword(HKEY_LOCAL_MACHINE, kKey, "Uninstall", &v), 0);
    SetRaw("Uninstall", REG_DWORD, "\x06\x00\x00\x00", 4);
    EXPECT_EQ(utl_RegReadDword(HKEY_LOCAL_MACHINE, kKey, "Uninstall", &v), 1);
    EXPECT_EQ(v, 6u);
}

}  // namespace
