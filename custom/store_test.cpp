// Customisation store: the cached common program files folder, the reginfo folder and the move
// of the four files from the old place, with the exact detail-log lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "custom/custom.h"
#include "testing/testutil.h"

namespace {

const std::string kLogDir = "c:\\VemloLog";
const char kModule[] = "storeTest";
const std::string kCommon = "C:\\vtest\\store_cpf";
const std::string kReginfo = kCommon + "\\Vemlo\\Pelvar Client\\reginfo";
const std::string kOldTop = kCommon + "\\Tolmar-7Vex";
const std::string kOldReginfo = kOldTop + "\\Pelvar Client\\reginfo";
const std::string L = "utl_LoadCusIniFile:";
const char* const kFour[] = {"VemloCustom.ini", "VemloCustom.vrf", "VemloUninstallInfo.ini", "VemloUninstallInfo.vrf"};

std::vector<std::string> Messages()
{
    std::vector<std::string> out;
    for (const std::string& line :
         vt::SplitLines(vt::ReadAll(kLogDir + "\\stp_" + kModule + vt::TodayStamp() + ".log"))) {
        size_t thread = line.find("] [0x");
        size_t end = thread == std::string::npos ? thread : line.find("] ", thread + 2);
        out.push_back(end == std::string::npos ? line : line.substr(end + 2));
    }
    return out;
}

void MakeFour(const std::string& folder, const std::string& tag)
{
    vt::MakeDirs(folder);
    ASSERT_TRUE(vt::WriteAll(folder + "\\VemloCustom.ini", "[Functions]\r\nUninstall=1\r\nInstall=" + tag + "\r\n"));
    ASSERT_TRUE(vt::WriteAll(folder + "\\VemloUninstallInfo.ini", "[Functions]\r\nInstall=" + tag + "\r\n"));
    DWORD code = 0;
    ASSERT_NE(CusIniMakeVrf(&code, folder.c_str()), 0) << code;
    ASSERT_NE(UninstallInfoMakeVrf(&code, folder.c_str()), 0) << code;
}

// ---- The common program files folder (a process-wide cache: each case is a fresh process) ----

// Child: sets CommonProgramFiles as asked ("-" unsets it), asks twice with the variable changed
// in between, and writes "<first>|<second>|<same buffer>" to the file named by argv[1].
VEMLO_CHILD(common_files)
{
    if (argc < 2) return 2;
    std::string value = argv[0];
    if (value == "long") value = "C:\\" + std::string(300, 'x');
    SetEnvironmentVariableA("CommonProgramFiles", value == "-" ? NULL : value.c_str());
    const char* first = utl_GetCommonProgramFiles();
    std::string firstText = first ? first : "(null)";
    SetEnvironmentVariableA("CommonProgramFiles", "D:\\Changed");
    const char* second = utl_GetCommonProgramFiles();
    std::string out = firstText + "|" + (second ? second : "(null)") + "|" + (first == second ? "same" : "other");
    return vt::WriteAll(argv[1], out) ? 0 : 3;
}

std::string CommonFilesIn(const std::string& value)
{
    std::string dir = vt::FreshDir("store_child");
    std::string out = dir + "\\out.txt";
    EXPECT_EQ(vt::RunChild("common_files", {value, out}), 0);
    return vt::ReadAll(out);
}

TEST(CommonProgramFiles, VariableIsTakenAndCachedForTheProcess)
{
    EXPECT_EQ(CommonFilesIn("E:\\Shared Files"), "E:\\Shared Files|E:\\Shared Files|same");
}

TEST(CommonProgramFiles, WithoutVariableTheSystemDriveFolder)
{
    // The prefix's system directory is on drive C.
    EXPECT_EQ(CommonFilesIn("-"), "C:\\Program Files\\Common Files|C:\\Program Files\\Common Files|same");
}

TEST(CommonProgramFiles, VariableTooLongForTheBufferFallsBackToTheSystemDrive)
{
    EXPECT_EQ(CommonFilesIn("long"), "C:\\Program Files\\Common Files|C:\\Program Files\\Common Files|same");
}

// ---- utl_LoadCusIniFile -----------------------------------------------------------------------

class LoadCusIni : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetEnvironmentVariableA("CommonProgramFiles", kCommon.c_str());
        vt::RemoveTree(kLogDir);
        vt::RemoveTree(kCommon);
    }
    void TearDown() override
    {
        vt::RemoveTree(kLogDir);
        vt::RemoveTree(kCommon);
    }
};

TEST_F(LoadCusIni, ValidFilesNeedNothingElse)
{
    MakeFour(kReginfo, "new");
    MakeFour(kOldReginfo, "old");
    std::string oldIni = vt::ReadAll(kOldReginfo + "\\VemloCustom.ini");
    EXPECT_EQ(utl_LoadCusIniFile(kModule), 1);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(vt::ReadAll(kOldReginfo + "\\VemloCustom.ini"), oldIni);  // old place untouched
    EXPECT_EQ(vt::ReadAll(kReginfo + "\\VemloCustom.ini"), "[Functions]\r\nUninstall=1\r\nInstall=new\r\n");
}

TEST_F(LoadCusIni, MissingFolderIsCreatedWithItsParents)
{
    EXPECT_EQ(utl_LoadCusIniFile(kModule), 0);
    EXPECT_TRUE(vt::IsDirectory(kReginfo));
    EXPECT_TRUE(vt::List(kReginfo).empty());
    EXPECT_EQ(Messages(), (std::vector<std::string>{L + "CusIniVerify new failed,try for old.",
                                                    L + "CusIniVerify old failed,return false."}));
}

TEST_F(LoadCusIni, InvalidFilesAreReplacedFromTheOldPlace)
{
    MakeFour(kReginfo, "new");
    vt::WriteAll(kReginfo + "\\VemloCustom.ini", "[Functions]\r\nUninstall=0\r\n");  // tampered
    MakeFour(kOldReginfo, "old");
    vt::MakeDirs(kOldTop + "\\extra");
    vt::WriteAll(kOldTop + "\\extra\\deep.txt", "x");
    std::vector<std::string> oldBytes;
    for (const char* name : kFour) oldBytes.push_back(vt::ReadAll(kOldReginfo + "\\" + name));

    EXPECT_EQ(utl_LoadCusIniFile(kModule), 1);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(vt::ReadAll(kReginfo + "\\" + kFour[i]), oldBytes[i]) << kFour[i];
    EXPECT_FALSE(vt::Exists(kOldTop));
    EXPECT_EQ(Messages(), (std::vector<std::string>{L + "CusIniVerify new failed,try for old.",
                                                    L + "CusIniVerify old true,so copy files."}));
    EXPECT_NE(CusIniVerify(kReginfo.c_str(), 0), 0);
}

TEST_F(LoadCusIni, MissingUninstallInformationStopsTheMoveAndKeepsTheOldFolder)
{
    MakeFour(kOldReginfo, "old");
    DeleteFileA((kOldReginfo + "\\VemloUninstallInfo.ini").c_str());
    EXPECT_EQ(utl_LoadCusIniFile(kModule), 0);
    EXPECT_EQ(vt::List(kReginfo), (std::vector<std::string>{"VemloCustom.ini", "VemloCustom.vrf"}));
    EXPECT_TRUE(vt::Exists(kOldReginfo + "\\VemloCustom.ini"));
    EXPECT_EQ(Messages(), (std::vector<std::string>{L + "CusIniVerify new failed,try for old.",
                                                    L + "CusIniVerify old true,so copy files.",
                                                    L + "CopyFile VemloUninstallInfo.ini return false!"}));
}

TEST_F(LoadCusIni, FolderThatCannotBeCreatedIsReportedWithItsErrorNumber)
{
    vt::MakeDirs(kCommon);
    vt::WriteAll(kCommon + "\\Vemlo", "a file where a folder should be");
    EXPECT_EQ(utl_LoadCusIniFile(kModule), 0);
    std::vector<std::string> m = Messages();
    ASSERT_EQ(m.size(), 1u);
    const std::string head = L + "Create directory \"reginfo\" failed with ErrNo: ";
    ASSERT_EQ(m[0].substr(0, head.size()), head);
    std::string number = m[0].substr(head.size());
    ASSERT_GE(number.size(), 2u);
    EXPECT_EQ(number.back(), '.');
    EXPECT_NE(number.substr(0, number.size() - 1).find_first_of("0123456789"), std::string::npos);
    EXPECT_EQ(number.substr(0, number.size() - 1).find_first_not_of("0123456789"), std::string::npos);
    EXPECT_NE(number, "0.");
}

}  // namespace
