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

// The help box's texts as written out: English, and the GBK bytes of the Chinese one.
TEST(PwdSwitches, HelpListsBothSwitchesAndTheirExitCode)
{
    EXPECT_STREQ(SetupHelpText(false),
                 "Setup.exe installs or upgrades the Vemlo client.\n"
                 "Help was asked for: nothing was installed.\n\n"
                 "Switches (with / or -, in any letter case):\n"
                 "/S, /quiet: unattended, no window; see the exit code.\n"
                 "/?, /h, /help: this help.\n"
                 "/pwdfile=FILE: the uninstall password, the first line\n"
                 "\tof a file only administrators may change.\n"
                 "/password=TEXT: the uninstall password itself\n"
                 "\t(anybody who sees the command line reads it).\n"
                 "Every other argument also goes to the installer as it is.\n\n"
                 "Exit codes:\n"
                 "0\tinstalled (or the installer's own code:\n"
                 "\t3010 restart needed, 1641 restart started)\n"
                 "112\tless than 50M free on C:\n"
                 "740\tnot an administrator\n"
                 "1602\tthe password dialog was cancelled\n"
                 "1603\tthe instance event could not be made\n"
                 "1618\tanother setup or the updater runs: try later\n"
                 "1625\ta wrong password, or none can be asked\n"
                 "1639\tthe given password is wrong or cannot be used\n"
                 "150-167: the package is damaged or not this setup's own\n"
                 "351-356: unpacking or starting failed\n"
                 "Each run is logged in c:\\VemloLog.");
    EXPECT_STREQ(SetupHelpText(true),
                 "Setup.exe \xb0\xb2\xd7\xb0\xbb\xf2\xc9\xfd\xbc\xb6Vemlo\xd6\xc7\xc4\xdc\xbf\xcd\xbb\xa7\xb6\xcb\xa1\xa3\n"
                 "\xd5\xe2\xc0\xef\xd6\xbb\xcf\xd4\xca\xbe\xb0\xef\xd6\xfa\xa3\xac\xc3\xbb\xd3\xd0\xb0\xb2\xd7\xb0\xc8\xce\xba\xce\xc4\xda\xc8\xdd\xa1\xa3\n"
                 "\n"
                 "\xb2\xce\xca\xfd\xa3\xa8\xd2\xd4 / \xbb\xf2 - \xbf\xaa\xcd\xb7\xa3\xac\xb2\xbb\xc7\xf8\xb7\xd6\xb4\xf3\xd0\xa1\xd0\xb4\xa3\xa9\xa3\xba\n"
                 "/S, /quiet\xa3\xba\xbe\xb2\xc4\xac\xb0\xb2\xd7\xb0\xa3\xac\xb2\xbb\xcf\xd4\xca\xbe\xb4\xb0\xbf\xda\xa3\xac\xbc\xfb\xcd\xcb\xb3\xf6\xc2\xeb\xa1\xa3\n"
                 "/?, /h, /help\xa3\xba\xcf\xd4\xca\xbe\xb1\xbe\xb0\xef\xd6\xfa\xa1\xa3\n"
                 "/pwdfile=\xce\xc4\xbc\xfe\xa3\xba\xd0\xb6\xd4\xd8\xc3\xdc\xc2\xeb\xa3\xac\xc8\xa1\xd7\xd4\xd6\xbb\xd3\xd0\xb9\xdc\xc0\xed\xd4\xb1\n"
                 "\t\xbf\xc9\xd0\xde\xb8\xc4\xb5\xc4\xce\xc4\xbc\xfe\xb5\xc4\xb5\xda\xd2\xbb\xd0\xd0\xa1\xa3\n"
                 "/password=\xc3\xdc\xc2\xeb\xa3\xba\xd6\xb1\xbd\xd3\xb8\xf8\xb3\xf6\xd0\xb6\xd4\xd8\xc3\xdc\xc2\xeb\n"
                 "\t\xa3\xa8\xc4\xdc\xbf\xb4\xb5\xbd\xc3\xfc\xc1\xee\xd0\xd0\xb5\xc4\xc8\xcb\xb6\xbc\xc4\xdc\xb6\xc1\xb5\xbd\xcb\xfc\xa3\xa9\xa1\xa3\n"
                 "\xc6\xe4\xcb\xfb\xb2\xce\xca\xfd\xd4\xad\xd1\xf9\xb4\xab\xb8\xf8\xb0\xb2\xd7\xb0\xb3\xcc\xd0\xf2\xa1\xa3\n"
                 "\n"
                 "\xcd\xcb\xb3\xf6\xc2\xeb\xa3\xba\n"
                 "0\t\xb0\xb2\xd7\xb0\xcd\xea\xb3\xc9\xa3\xa8\xbb\xf2\xb0\xb2\xd7\xb0\xb3\xcc\xd0\xf2\xd7\xd4\xbc\xba\xb5\xc4\xcd\xcb\xb3\xf6\xc2\xeb\xa3\xba\n"
                 "\t3010 \xd0\xe8\xd2\xaa\xd6\xd8\xc6\xf4\xa3\xac" "1641 \xd2\xd1\xbf\xaa\xca\xbc\xd6\xd8\xc6\xf4\xa3\xa9\n"
                 "112\tC\xc5\xcc\xbf\xc9\xd3\xc3\xbf\xd5\xbc\xe4\xb2\xbb\xd7\xe3" "50M\n"
                 "740\t\xc3\xbb\xd3\xd0\xb9\xdc\xc0\xed\xd4\xb1\xc8\xa8\xcf\xde\n"
                 "1602\t\xc3\xdc\xc2\xeb\xb6\xd4\xbb\xb0\xbf\xf2\xb1\xbb\xc8\xa1\xcf\xfb\n"
                 "1603\t\xce\xde\xb7\xa8\xb4\xb4\xbd\xa8\xca\xb5\xc0\xfd\xca\xc2\xbc\xfe\n"
                 "1618\t\xc1\xed\xd2\xbb\xb0\xb2\xd7\xb0\xb3\xcc\xd0\xf2\xbb\xf2\xb6\xa8\xd6\xc6\xc9\xfd\xbc\xb6\xd5\xfd\xd4\xda\xd4\xcb\xd0\xd0\n"
                 "1625\t\xd0\xb6\xd4\xd8\xc3\xdc\xc2\xeb\xb4\xed\xce\xf3\xa3\xac\xbb\xf2\xce\xde\xb7\xa8\xd1\xaf\xce\xca\xc3\xdc\xc2\xeb\n"
                 "1639\t\xb8\xf8\xb3\xf6\xb5\xc4\xd0\xb6\xd4\xd8\xc3\xdc\xc2\xeb\xb4\xed\xce\xf3\xbb\xf2\xce\xde\xb7\xa8\xca\xb9\xd3\xc3\n"
                 "150-167\xa3\xba\xb0\xb2\xd7\xb0\xb0\xfc\xd2\xd1\xcb\xf0\xbb\xb5\xbb\xf2\xb2\xbb\xca\xf4\xd3\xda\xb1\xbe\xb0\xb2\xd7\xb0\xb3\xcc\xd0\xf2\n"
                 "351-356\xa3\xba\xbd\xe2\xd1\xb9\xbb\xf2\xc6\xf4\xb6\xaf\xca\xa7\xb0\xdc\n"
                 "\xc3\xbf\xb4\xce\xd4\xcb\xd0\xd0\xb6\xbc\xbc\xc7\xc2\xbc\xd4\xda c:\\VemloLog\xa1\xa3");
}

}  // namespace
