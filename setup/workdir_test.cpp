// The work folder's ownership and DACL read back from the system, planted folders and links,
// and the holds that keep the folder and the programs from being swapped.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "setup/setup.h"
#include "testing/testutil.h"

namespace {

const char kWork[] = "C:\\tmp\\VemloSetup0";

std::string SidText(PSID sid)
{
    char* text = NULL;
    if (!ConvertSidToStringSidA(sid, &text)) return "?";
    std::string s = text;
    LocalFree(text);
    return s;
}

struct Ace {
    std::string sid;
    DWORD mask;
    BYTE flags;
};

// Owner, protection and allow-ACEs of a path, read with GetNamedSecurityInfoA.
bool ReadBack(const std::string& path, std::string* owner, bool* isProtected, std::vector<Ace>* aces)
{
    PSID o = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR sd = NULL;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &o, NULL, &dacl, NULL, &sd) != ERROR_SUCCESS)
        return false;
    *owner = SidText(o);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD rev = 0;
    GetSecurityDescriptorControl(sd, &control, &rev);
    *isProtected = (control & SE_DACL_PROTECTED) != 0;
    aces->clear();
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* raw = NULL;
        if (!GetAce(dacl, i, &raw)) continue;
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        aces->push_back({SidText(&ace->SidStart), ace->Mask, ace->Header.AceFlags});
    }
    LocalFree(sd);
    return true;
}

bool SetOwner(const std::string& path, WELL_KNOWN_SID_TYPE type)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    CreateWellKnownSid(type, NULL, sid, &size);
    return SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, sid,
                                 NULL, NULL, NULL) == ERROR_SUCCESS;
}

// Whether this system keeps the security a folder is given (Wine does not: it reports every
// file as the user's, with a default DACL).
bool KeepsFileSecurity()
{
    static int known = -1;
    if (known < 0) {
        std::string probe = vt::FreshDir("security_probe");
        known = SetOwner(probe, WinBuiltinAdministratorsSid) && [&] {
            std::string owner;
            bool prot = false;
            std::vector<Ace> aces;
            return ReadBack(probe, &owner, &prot, &aces) && owner == "S-1-5-32-544";
        }();
    }
    return known == 1;
}

class WorkDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (GetFileAttributesA("C:\\tmp") & FILE_ATTRIBUTE_REPARSE_POINT) vt::RemoveFolderLink("C:\\tmp");
        vt::RemoveTree(kWork);
        vt::MakeDirs("C:\\tmp");
    }
    void TearDown() override { vt::RemoveTree(kWork); }
};

TEST(WorkDirSecurity, OwnerAndProtectedDaclAsSddl)
{
    char text[512];
    ASSERT_EQ(WorkDirSecurityText(text, sizeof text), 1);
    // Owner Administrators; protected DACL: SYSTEM and Administrators full control, Users read
    // and execute, each inherited by files and folders below.
    EXPECT_STREQ(text, "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
}

TEST_F(WorkDir, NewFolderBelongsToAdministratorsWithProtectedDacl)
{
    ASSERT_EQ(SecureWorkDir(kWork), 1);
    if (!KeepsFileSecurity()) GTEST_SKIP() << "this system does not keep file security (Wine)";
    std::string owner;
    bool prot = false;
    std::vector<Ace> aces;
    ASSERT_TRUE(ReadBack(kWork, &owner, &prot, &aces));
    EXPECT_EQ(owner, "S-1-5-32-544");
    EXPECT_TRUE(prot);
    ASSERT_EQ(aces.size(), 3u);
    // Full control 0x1F01FF; read and execute 0x1200A9; inherited by files and folders (0x3).
    EXPECT_EQ(aces[0].sid, "S-1-5-18");
    EXPECT_EQ(aces[0].mask, 0x1F01FFu);
    EXPECT_EQ(aces[1].sid, "S-1-5-32-544");
    EXPECT_EQ(aces[1].mask, 0x1F01FFu);
    EXPECT_EQ(aces[2].sid, "S-1-5-32-545");
    EXPECT_EQ(aces[2].mask, 0x1200A9u);
    for (auto& a : aces) EXPECT_EQ(a.flags & 0x3, 0x3);
    EXPECT_EQ(WorkDirIsSecure(kWork), 1);
}

TEST_F(WorkDir, AdministratorsFolderIsReusedAndSecured)
{
    vt::MakeDirs(std::string(kWork) + "\\sub");
    vt::WriteAll(std::string(kWork) + "\\kept.txt", "x");
    ASSERT_TRUE(SetOwner(kWork, WinBuiltinAdministratorsSid));
    if (!KeepsFileSecurity()) GTEST_SKIP() << "this system does not keep file security (Wine)";
    EXPECT_EQ(WorkDirIsSecure(kWork), 0);  // not protected yet
    ASSERT_EQ(SecureWorkDir(kWork), 1);
    EXPECT_EQ(WorkDirIsSecure(kWork), 1);
    EXPECT_TRUE(vt::Exists(std::string(kWork) + "\\sub"));
    EXPECT_TRUE(vt::Exists(std::string(kWork) + "\\kept.txt"));
}

TEST_F(WorkDir, FolderOfAnotherOwnerIsReplacedWhole)
{
    vt::MakeDirs(std::string(kWork) + "\\planted");
    vt::WriteAll(std::string(kWork) + "\\planted\\evil.dll", "x");
    vt::WriteAll(std::string(kWork) + "\\ulmApxSvr.exe", "swapped");
    if (!SetOwner(kWork, WinBuiltinUsersSid)) GTEST_SKIP() << "owner cannot be set here";
    ASSERT_EQ(SecureWorkDir(kWork), 1);
    EXPECT_TRUE(vt::List(kWork).empty());
    if (KeepsFileSecurity()) {
        EXPECT_EQ(WorkDirIsSecure(kWork), 1);
    }
}

TEST_F(WorkDir, PlantedLinkIsNeverFollowed)
{
    std::string outside = vt::FreshDir("workdir_outside");
    vt::WriteAll(outside + "\\precious", "keep me");
    if (!vt::MakeFolderLink(kWork, outside)) GTEST_SKIP() << "no folder links here";
    int secured = SecureWorkDir(kWork);
    // Wine cannot remove a Unix link through Windows calls: then the folder cannot be made (the
    // setup stops with 351). Either way nothing behind the link is touched.
    EXPECT_EQ(vt::ReadAll(outside + "\\precious"), "keep me");
    EXPECT_EQ(vt::List(outside).size(), 1u);
    if (secured && KeepsFileSecurity()) {
        EXPECT_EQ(WorkDirIsSecure(kWork), 1);
    }
    vt::RemoveFolderLink(kWork);
}

TEST_F(WorkDir, LinkedParentOrFileInTheWayIsRefused)
{
    vt::WriteAll(kWork, "a plain file");
    EXPECT_EQ(SecureWorkDir(kWork), 0);
    DeleteFileA(kWork);

    std::string elsewhere = vt::FreshDir("tmp_elsewhere");
    vt::RemoveTree("C:\\tmp");
    if (!vt::MakeFolderLink("C:\\tmp", elsewhere)) {
        vt::MakeDirs("C:\\tmp");
        GTEST_SKIP() << "no folder links here";
    }
    EXPECT_EQ(SecureWorkDir(kWork), 0);
    EXPECT_TRUE(vt::List(elsewhere).empty());
    vt::RemoveFolderLink("C:\\tmp");
    vt::MakeDirs("C:\\tmp");
}

VEMLO_CHILD(try_swap)
{
    // argv: program path, folder path. Exit code: bit 0 program writable, bit 1 program movable,
    // bit 2 folder movable.
    int result = 0;
    HANDLE w = CreateFileA(argv[0], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (w != INVALID_HANDLE_VALUE) {
        result |= 1;
        CloseHandle(w);
    }
    std::string moved = std::string(argv[0]) + ".moved";
    if (MoveFileA(argv[0], moved.c_str())) {
        result |= 2;
        MoveFileA(moved.c_str(), argv[0]);
    }
    std::string folderMoved = std::string(argv[1]) + "_moved";
    if (MoveFileA(argv[1], folderMoved.c_str())) {
        result |= 4;
        MoveFileA(folderMoved.c_str(), argv[1]);
    }
    (void)argc;
    return result;
}

TEST_F(WorkDir, HeldProgramAndFolderCannotBeSwappedByAnotherProcess)
{
    ASSERT_EQ(SecureWorkDir(kWork), 1);
    std::string program = std::string(kWork) + "\\ulmApxSvr.exe";
    ASSERT_TRUE(CopyFileA((vt::BinDir() + "\\ulmApxSvr.exe").c_str(), program.c_str(), FALSE));

    HANDLE folder = HoldWorkDir(kWork);
    HANDLE held = HoldForLaunch(program.c_str());
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(vt::RunChild("try_swap", {program, kWork}), 0);
    // The held program can still be started.
    SetEnvironmentVariableA("VEMLO_SAMPLE_COMPANION_MS", "10");
    HANDLE run = vt::StartProgram(program, {"-setUpdInfo"});
    ASSERT_TRUE(run);
    EXPECT_EQ(vt::WaitExit(run, 30000), 0);
    CloseHandle(run);
    CloseHandle(held);
    CloseHandle(folder);
    EXPECT_EQ(vt::RunChild("try_swap", {program, kWork}), 7);  // free again once released
}

}  // namespace
