// The password switches: what is taken out of the command line, the rules a password file and
// its DACL must keep, the file itself as Wine can show it, and the help box that lists both.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "setup/setup.h"
#include "testing/testutil.h"

namespace {

TEST(PwdSwitches, TakenOutOfTheCommandLineTheRestAsItWas)
{
    const std::string longPath = "C:\\" + std::string(300, 'p');
    const struct {
        const char* commandLine;
        const char* handedOn;
        int count;
        bool fromFile, cut;
        const char* value;
    } rows[] = {
        {nullptr, "", 0, false, false, ""},
        {"/S /D=C:\\x", "/S /D=C:\\x", 0, false, false, ""},
        {"/S /password=secret", "/S", 1, false, false, "secret"},
        {"/password=secret /S", "/S", 1, false, false, "secret"},
        {"/D=C:\\x /PWDFILE=C:\\p.txt /S", "/D=C:\\x /S", 1, true, false, "C:\\p.txt"},
        {"-Password=\"a b\" /S", "/S", 1, false, false, "a b"},
        {"\"/password=a b\" /S \"x y\"", "/S \"x y\"", 1, false, false, "a b"},
        {"/S  -pwdfile=\"C:\\Program Files\\p.txt\"  /x ", "/S  /x ", 1, true, false, "C:\\Program Files\\p.txt"},
        {"\t/S\t/password=a", "\t/S", 1, false, false, "a"},
        // The C runtime's rules: \" is a quote of the value, \\" a backslash and a quoting quote.
        {"/password=a\\\"b /S", "/S", 1, false, false, "a\"b"},
        {"/password=a\\\\\"b c\" /S", "/S", 1, false, false, "a\\b c"},
        {"/password=a\\b", "", 1, false, false, "a\\b"},
        {"/password= /S", "/S", 1, false, false, ""},
        {"/passwordx=1 /pwdfile x/password=a --password=b", "/passwordx=1 /pwdfile x/password=a --password=b", 0,
         false, false, ""},
        {"/password=a /S -pwdfile=b", "/S", 2, true, false, "b"},
    };
    for (const auto& row : rows) {
        const char* shown = row.commandLine ? row.commandLine : "(null)";
        char handedOn[256];
        PwdGiven given;
        EXPECT_TRUE(TakePwdSwitches(row.commandLine, handedOn, sizeof handedOn, &given)) << shown;
        EXPECT_STREQ(handedOn, row.handedOn) << shown;
        EXPECT_EQ(given.count, row.count) << shown;
        EXPECT_EQ(given.fromFile, row.fromFile) << shown;
        EXPECT_EQ(given.cut, row.cut) << shown;
        EXPECT_STREQ(given.value, row.value) << shown;
        // Setup's own switches are read from what is handed on: a quoted password is no switch.
        EXPECT_EQ(ReadSwitches(handedOn).unattended, std::string(row.handedOn).find("/S") != std::string::npos);
    }
    PwdGiven given;
    char handedOn[8];
    std::string line = "/S /pwdfile=" + longPath;
    ASSERT_TRUE(TakePwdSwitches(line.c_str(), handedOn, sizeof handedOn, &given));
    EXPECT_STREQ(handedOn, "/S");
    EXPECT_TRUE(given.cut);
    EXPECT_FALSE(TakePwdSwitches("/S /D=C:\\x", handedOn, sizeof handedOn, &given));
    EXPECT_STREQ(handedOn, "");
    WipePwdSwitches(&given);
    EXPECT_EQ(given.value[0], '\0');
}

const DWORD kRead = 0x1200A9, kModify = 0x1301BF, kFull = 0x1F01FF;

TEST(PwdSwitches, FileSecurityRule)
{
    const PwdAceFact system = {true, false, kFull, kPwdTrusted};
    const struct {
        const char* what;
        bool ownerTrusted, hasDacl;
        std::vector<PwdAceFact> aces;
        PwdRefusal verdict;
    } rows[] = {
        {"SYSTEM and Administrators write, Users read", true, true,
         {system, {true, false, kFull, kPwdTrusted}, {true, false, kRead, kPwdOther}}, kPwdUsable},
        {"a user owns it", false, true, {system}, kPwdFileUserOwned},
        {"no DACL", true, false, {}, kPwdFileNoDacl},
        {"an empty DACL: nobody may do anything", true, true, {}, kPwdUsable},
        {"Users may modify", true, true, {system, {true, false, kModify, kPwdOther}}, kPwdFileUserWritable},
        {"Everyone may append", true, true, {system, {true, false, FILE_APPEND_DATA, kPwdOther}}, kPwdFileUserWritable},
        {"a user may change the DACL", true, true, {{true, false, WRITE_DAC, kPwdOther}}, kPwdFileUserWritable},
        {"a user may delete it", true, true, {{true, false, DELETE, kPwdOther}}, kPwdFileUserWritable},
        {"generic write", true, true, {{true, false, GENERIC_WRITE, kPwdOther}}, kPwdFileUserWritable},
        {"generic all", true, true, {{true, false, GENERIC_ALL, kPwdOther}}, kPwdFileUserWritable},
        {"write attributes only", true, true, {{true, false, kRead | FILE_WRITE_ATTRIBUTES, kPwdOther}}, kPwdUsable},
        {"inherit-only: for what a folder holds", true, true, {{true, true, kFull, kPwdOther}}, kPwdUsable},
        // A deny ACE before it does not make a grant safe: the rule does not weigh the order.
        {"denied, then allowed", true, true, {{false, false, kFull, kPwdOther}, {true, false, kModify, kPwdOther}},
         kPwdFileUserWritable},
        {"the owner's rights, the owner trusted", true, true, {{true, false, kFull, kPwdOwnerRights}}, kPwdUsable},
    };
    for (const auto& row : rows)
        EXPECT_EQ(PwdFileSecurityRule(row.ownerTrusted, row.hasDacl, row.aces.data(), (int)row.aces.size()), row.verdict)
            << row.what;
}

bool GbkLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool NoLead(unsigned char) { return false; }

TEST(PwdSwitches, FirstLineRule)
{
    const std::string c32(32, 'c'), gbk32 = [] {
        std::string s;
        for (int i = 0; i < 32; ++i) s += "\xc3\xdc";  // 密
        return s;
    }();
    const struct {
        std::string bytes;
        bool (*isLead)(unsigned char);
        PwdRefusal verdict;
        int lineBytes;
    } rows[] = {
        {"secret", NoLead, kPwdUsable, 6},
        {"secret\r\n", NoLead, kPwdUsable, 6},
        {"secret\nsecond line", NoLead, kPwdUsable, 6},
        {"sec ret \r\n", NoLead, kPwdUsable, 8},  // blanks belong to the password
        {"secret\r\r\n", NoLead, kPwdUsable, 7},
        {"", NoLead, kPwdEmpty, 0},
        {"\r\n", NoLead, kPwdEmpty, 0},
        {"\nsecret", NoLead, kPwdEmpty, 0},
        {c32 + "\r\n", NoLead, kPwdUsable, 32},
        {c32 + "c", NoLead, kPwdTooLong, 0},
        {gbk32 + "\r\n", GbkLead, kPwdUsable, 64},
        {gbk32 + "\r\n", NoLead, kPwdTooLong, 0},
        {gbk32 + "c", GbkLead, kPwdTooLong, 0},
        {std::string("s\0cret", 6), NoLead, kPwdNotText, 0},
        {"\xff\xfes\0e\0", NoLead, kPwdNotText, 0},
        {"\xef\xbb\xbfsecret", NoLead, kPwdNotText, 0},
    };
    for (const auto& row : rows) {
        int n = -1;
        EXPECT_EQ(PwdFirstLine(row.bytes.data(), (int)row.bytes.size(), row.isLead, &n), row.verdict) << row.bytes;
        EXPECT_EQ(n, row.lineBytes) << row.bytes;
    }
}

// Real files under Wine: what the elevated setup reads, and what it refuses with which reason.
// Wine keeps a file's security as Unix modes: a file everybody may write is what it can show.
TEST(PwdSwitches, PasswordFilesAsTheSystemShowsThem)
{
    std::string dir = vt::FreshDir("pwdfile");
    auto at = [&](const char* name) { return dir + "\\" + name; };
    vt::WriteAll(at("right.txt"), "secret\r\nnext\r\n");
    vt::WriteAll(at("empty.txt"), "");
    vt::WriteAll(at("long.txt"), std::string(33, 'x') + "\r\n");
    vt::WriteAll(at("utf16.txt"), std::string("\xff\xfes\0e\0", 6));
    vt::WriteAll(at("shared.txt"), "secret");
    vt::WriteAll(at("everyone.txt"), "secret");
    vt::MakeDirs(at("folder"));
    ASSERT_TRUE(CreateHardLinkA(at("second.txt").c_str(), at("shared.txt").c_str(), NULL));
    bool linked = vt::MakeFileLink(at("link.txt"), at("right.txt"));
    PSECURITY_DESCRIPTOR sd = NULL;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301bf;;;WD)",
                                                                     SDDL_REVISION_1, &sd, NULL));
    EXPECT_TRUE(SetFileSecurityA(at("everyone.txt").c_str(), DACL_SECURITY_INFORMATION, sd));
    LocalFree(sd);

    const struct {
        std::string path;
        PwdRefusal verdict;
        const char* password;
        const char* reason;
    } rows[] = {
        {at("right.txt"), kPwdUsable, "secret", "it can be used"},
        {at("missing.txt"), kPwdFileMissing, "", "it does not exist"},
        {at("empty.txt"), kPwdEmpty, "", "its first line is empty"},
        {at("long.txt"), kPwdTooLong, "", "it is longer than 32 characters"},
        {at("utf16.txt"), kPwdNotText, "", "it is not text in the system's code page (a NUL byte or a byte-order mark)"},
        {at("shared.txt"), kPwdFileManyNames, "", "it has a second name (a hard link)"},
        {at("everyone.txt"), kPwdFileUserWritable, "",
         "somebody other than SYSTEM, Administrators or the account the setup runs as may change it"},
        {at("folder"), kPwdFileUnopened, "", "it cannot be opened"},
        {linked ? at("link.txt") : "", kPwdFileLink, "", "it is a link, or its path goes through one"},
    };
    for (const auto& row : rows) {
        if (row.path.empty()) continue;
        char password[kPwdMaxChars * 2 + 1] = "";
        int n = -1;
        DWORD error = 0;
        EXPECT_EQ(ReadPwdFile(row.path.c_str(), password, &n, &error), row.verdict) << row.path << " " << error;
        EXPECT_STREQ(password, row.password) << row.path;
        EXPECT_EQ(n, (int)strlen(row.password)) << row.path;
        EXPECT_STREQ(PwdRefusalText(row.verdict), row.reason);
    }
    EXPECT_TRUE(linked) << "no file link could be made here";
    vt::RemoveFolderLink(at("link.txt"));
}

}  // namespace
