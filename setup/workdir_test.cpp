// The work folder's ownership and DACL read back from the system, planted folders and links,
// and the holds that keep the folder and the programs from being swapped.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "base/files.h"
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

// The identity of the folder at path: made anew, a folder has a new one.
ULONGLONG FileId(const std::string& path)
{
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    BY_HANDLE_FILE_INFORMATION info = {};
    GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    return (ULONGLONG)info.nFileIndexHigh << 32 | info.nFileIndexLow;
}

class WorkDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        DWORD tmp = GetFileAttributesA("C:\\tmp");
        if (tmp != INVALID_FILE_ATTRIBUTES && (tmp & FILE_ATTRIBUTE_REPARSE_POINT)) vt::RemoveFolderLink("C:\\tmp");
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
    HANDLE held = SecureWorkDir(kWork);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    CloseHandle(held);
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

// A folder as an older setup left it, the administrators' with the DACL it inherits from C:\tmp,
// may hold what any user put there: it goes whole and is made anew. Once it is exactly ours, it
// is kept, and only emptied of what the last run left.
TEST_F(WorkDir, AdministratorsFolderIsMadeAnewUnlessProtected)
{
    vt::MakeDirs(std::string(kWork) + "\\sub\\deeper");
    vt::WriteAll(std::string(kWork) + "\\planted.dll", "x");
    vt::WriteAll(std::string(kWork) + "\\sub\\deeper\\planted.exe", "x");
    ASSERT_TRUE(SetOwner(kWork, WinBuiltinAdministratorsSid));
    if (!KeepsFileSecurity()) GTEST_SKIP() << "this system does not keep file security (Wine)";
    EXPECT_EQ(WorkDirIsSecure(kWork), 0);  // not protected
    ULONGLONG old = FileId(kWork);
    HANDLE held = SecureWorkDir(kWork);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_NE(FileId(kWork), old);  // made anew
    EXPECT_TRUE(vt::List(kWork).empty());
    EXPECT_EQ(WorkDirIsSecure(kWork), 1);
    CloseHandle(held);

    vt::MakeDirs(std::string(kWork) + "\\left\\over");
    vt::WriteAll(std::string(kWork) + "\\ulmApxSvr.exe", "last run");
    ULONGLONG ours = FileId(kWork);
    held = SecureWorkDir(kWork);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FileId(kWork), ours);  // kept
    EXPECT_TRUE(vt::List(kWork).empty());
    EXPECT_EQ(WorkDirIsSecure(kWork), 1);
    CloseHandle(held);
}

TEST_F(WorkDir, FolderOfAnotherOwnerIsReplacedWhole)
{
    vt::MakeDirs(std::string(kWork) + "\\planted");
    vt::WriteAll(std::string(kWork) + "\\planted\\evil.dll", "x");
    vt::WriteAll(std::string(kWork) + "\\ulmApxSvr.exe", "swapped");
    if (!SetOwner(kWork, WinBuiltinUsersSid)) GTEST_SKIP() << "owner cannot be set here";
    HANDLE held = SecureWorkDir(kWork);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(vt::List(kWork).empty());
    // Where owners are not kept, the new folder reads as this user's: not exactly ours.
    EXPECT_EQ(WorkDirIsSecure(kWork), KeepsFileSecurity() ? 1 : 0);
    CloseHandle(held);
}

// A C:\tmp that a standard user made is hers: its owner may rename or delete what lies in it,
// so the work folder is not prepared in it. One of SYSTEM or Administrators is used. The probe
// by which the stub tells whether owners are kept leaves nothing in C:\tmp.
TEST_F(WorkDir, TmpOfAnotherOwnerIsNotUsed)
{
    HANDLE held = SecureWorkDir(kWork);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    CloseHandle(held);
    EXPECT_EQ(vt::List("C:\\tmp"), (std::vector<std::string>{"VemloSetup0"}));
    if (!KeepsFileSecurity()) GTEST_SKIP() << "this system does not keep file owners (Wine): every folder is the user's";
    const struct {
        WELL_KNOWN_SID_TYPE owner;
        bool used;
    } cases[] = {{WinLocalSystemSid, true}, {WinBuiltinUsersSid, false}, {WinBuiltinAdministratorsSid, true}};
    for (const auto& c : cases) {
        vt::RemoveTree(kWork);
        if (!SetOwner("C:\\tmp", c.owner)) GTEST_SKIP() << "owner cannot be set here (needs the restore privilege)";
        held = SecureWorkDir(kWork);
        EXPECT_EQ(held != INVALID_HANDLE_VALUE, c.used) << c.owner;
        EXPECT_EQ(vt::Exists(kWork), c.used) << c.owner;
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    }
}

// A link planted as the work folder, or as DAM inside it, to a folder with files or to an empty
// one (whose removal would show that a delete reached the target). Windows removes the link
// itself; under Wine no Windows call can remove a Unix link without reaching its target, so the
// folder cannot be prepared there (the setup stops with 351). Either way nothing behind the
// link changes.
TEST_F(WorkDir, PlantedLinkIsNeverFollowed)
{
    const std::string work = kWork;
    const struct {
        std::string link;
        bool withFiles;
    } cases[] = {{work, true}, {work, false}, {work + "\\DAM", true}, {work + "\\DAM", false}};
    for (const auto& c : cases) {
        vt::MakeDirs(work);
        std::string outside = vt::FreshDir("workdir_outside");
        if (c.withFiles) {
            vt::WriteAll(outside + "\\precious", "keep me");
            vt::MakeDirs(outside + "\\inner");
            vt::WriteAll(outside + "\\inner\\deep", "keep me too");
        }
        std::string before = vt::Snapshot(outside);
        EXPECT_EQ(before.empty(), !c.withFiles);
        if (c.link == work) vt::RemoveTree(work);
        if (!vt::MakeFolderLink(c.link, outside)) GTEST_SKIP() << "no folder links here";
        HANDLE held = SecureWorkDir(kWork);
        EXPECT_EQ(held != INVALID_HANDLE_VALUE, !vt::IsWine()) << c.link;
        EXPECT_TRUE(vt::IsDirectory(outside)) << c.link;
        EXPECT_EQ(vt::Snapshot(outside), before) << c.link;
        if (held != INVALID_HANDLE_VALUE) {
            DWORD a = GetFileAttributesA(kWork);
            EXPECT_EQ(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), (DWORD)FILE_ATTRIBUTE_DIRECTORY)
                << c.link;  // a folder, no link
            EXPECT_TRUE(vt::List(kWork).empty()) << c.link;
            CloseHandle(held);
        }
        vt::RemoveFolderLink(c.link);
        vt::RemoveTree(work);
    }
}

// Neither the preparation nor the helper that makes the work directory acts through a linked
// C:\tmp, whether its target holds a VemloSetup0 folder or nothing.
TEST_F(WorkDir, LinkedParentOrFileInTheWayIsRefused)
{
    vt::WriteAll(kWork, "a plain file");
    EXPECT_EQ(SecureWorkDir(kWork), INVALID_HANDLE_VALUE);
    DeleteFileA(kWork);

    for (bool withWorkDir : {true, false}) {
        std::string elsewhere = vt::FreshDir("tmp_elsewhere");
        if (withWorkDir) {
            vt::MakeDirs(elsewhere + "\\VemloSetup0");
            vt::WriteAll(elsewhere + "\\VemloSetup0\\f", "x");
        }
        std::string before = vt::Snapshot(elsewhere);
        EXPECT_EQ(before.empty(), !withWorkDir);
        vt::RemoveTree("C:\\tmp");
        if (!vt::MakeFolderLink("C:\\tmp", elsewhere)) {
            vt::MakeDirs("C:\\tmp");
            GTEST_SKIP() << "no folder links here";
        }
        EXPECT_EQ(SecureWorkDir(kWork), INVALID_HANDLE_VALUE);
        char out[MAX_PATH] = "untouched";
        EXPECT_EQ(utl_CreateWorkDir(out, sizeof out, "VemloSetup", 0, 1), 0);
        EXPECT_STREQ(out, "untouched");
        EXPECT_EQ(vt::Snapshot(elsewhere), before);
        vt::RemoveFolderLink("C:\\tmp");
        vt::MakeDirs("C:\\tmp");
    }
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
    HANDLE folder = SecureWorkDir(kWork);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    std::string program = std::string(kWork) + "\\ulmApxSvr.exe";
    ASSERT_TRUE(CopyFileA((vt::BinDir() + "\\ulmApxSvr.exe").c_str(), program.c_str(), FALSE));

    HANDLE held = HoldForLaunch(program.c_str());
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
