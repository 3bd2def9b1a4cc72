// File-system helpers: existence tests, deletions, the work directory, open modes.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/files.h"
#include "testing/testutil.h"

namespace {

std::string Sub(const std::string& dir, const std::string& name) { return dir + "\\" + name; }

TEST(Files, ExistenceTestsTellFilesFromDirectoriesAndAcceptPatterns)
{
    std::string d = vt::FreshDir("exists");
    vt::MakeDirs(Sub(d, "a_dir"));
    vt::WriteAll(Sub(d, "b_file.txt"), "x");
    EXPECT_EQ(utl_FileExists(Sub(d, "b_file.txt").c_str()), 1);
    EXPECT_EQ(utl_FileExists(Sub(d, "a_dir").c_str()), 0);
    EXPECT_EQ(utl_DirExists(Sub(d, "a_dir").c_str()), 1);
    EXPECT_EQ(utl_DirExists(Sub(d, "b_file.txt").c_str()), 0);
    EXPECT_EQ(utl_FileExists(Sub(d, "missing").c_str()), 0);
    EXPECT_EQ(utl_DirExists(Sub(d, "missing").c_str()), 0);
    // The pattern matches the directory first and the file later.
    EXPECT_EQ(utl_FileExists(Sub(d, "*_*").c_str()), 1);
    EXPECT_EQ(utl_DirExists(Sub(d, "*_*").c_str()), 1);
    EXPECT_EQ(utl_FileExists(Sub(d, "*.ini").c_str()), 0);
    EXPECT_EQ(utl_FileExists(nullptr), 0);
}

TEST(Files, DeleteFileHandlesMissingAndReadOnly)
{
    std::string d = vt::FreshDir("delete");
    EXPECT_EQ(utl_DeleteFile(Sub(d, "missing").c_str()), 1);
    std::string ro = Sub(d, "ro.txt");
    vt::WriteAll(ro, "x");
    SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_NE(utl_DeleteFile(ro.c_str()), 0);
    EXPECT_FALSE(vt::Exists(ro));
}

// A hard link's read-only flag is its file's: no delete helper clears it on the way, whatever
// becomes of the link itself (Windows deletes it as it is; elsewhere it stays).
TEST(Files, DeletingAHardLinkLeavesItsFilesReadOnlyFlag)
{
    std::string victim = Sub(vt::FreshDir("hardlink_victim"), "victim.bat");
    const std::function<void(const std::string& dir, const std::string& link)> deleters[] = {
        [](const std::string&, const std::string& link) { utl_DeleteFile(link.c_str()); },
        [](const std::string& dir, const std::string&) { utl_DeleteFilesInDir(dir.c_str(), "*.*"); },
        [](const std::string& dir, const std::string&) { utl_EmptyDir(dir.c_str()); },
        [](const std::string& dir, const std::string&) { utl_DeleteDirTree(dir.c_str()); },
    };
    int row = 0;
    for (auto& remove : deleters) {
        std::string dir = vt::FreshDir("hardlink_dir" + std::to_string(row));  // a link left here stays
        SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_NORMAL);
        vt::WriteAll(victim, "@echo victim");
        SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_READONLY);
        std::string link = Sub(dir, "setup2000010301.log");
        ASSERT_TRUE(CreateHardLinkA(link.c_str(), victim.c_str(), NULL)) << GetLastError();
        remove(dir, link);
        EXPECT_EQ(GetFileAttributesA(victim.c_str()) & FILE_ATTRIBUTE_READONLY, (DWORD)FILE_ATTRIBUTE_READONLY) << row;
        EXPECT_EQ(vt::ReadAll(victim), "@echo victim") << row;
        ++row;
    }
    SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Files, DeleteFilesInDirTakesOnlyMatchingPlainFiles)
{
    std::string d = vt::FreshDir("deletein");
    vt::WriteAll(Sub(d, "a.log"), "1");
    vt::WriteAll(Sub(d, "b.log"), "2");
    vt::WriteAll(Sub(d, "c.txt"), "3");
    SetFileAttributesA(Sub(d, "b.log").c_str(), FILE_ATTRIBUTE_READONLY);
    vt::MakeDirs(Sub(d, "sub.log"));
    vt::WriteAll(Sub(d, "sub.log\\inner.log"), "4");
    utl_DeleteFilesInDir(d.c_str(), "*.log");
    EXPECT_EQ(vt::List(d), (std::vector<std::string>{"c.txt", "sub.log"}));
    EXPECT_TRUE(vt::Exists(Sub(d, "sub.log\\inner.log")));
    utl_DeleteFilesInDir(Sub(d, "missing").c_str(), "*.*");  // no match: nothing happens
}

TEST(Files, DeleteDirTreeRemovesThreeLevelsWithReadOnlyFiles)
{
    std::string d = vt::FreshDir("tree");
    std::string root = Sub(d, "root");
    vt::MakeDirs(root + "\\l1\\l2\\l3");
    for (std::string p : {root + "\\f0", root + "\\l1\\f1", root + "\\l1\\l2\\f2", root + "\\l1\\l2\\l3\\f3"}) {
        vt::WriteAll(p, "data");
        SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    vt::MakeDirs(root + "\\empty");
    EXPECT_NE(utl_DeleteDirTree(root.c_str()), 0);
    EXPECT_FALSE(vt::Exists(root));
    EXPECT_EQ(utl_DeleteDirTree(root.c_str()), 1);  // already gone
}

TEST(Files, DeleteDirTreeRemovesLinksWithoutFollowingThem)
{
    std::string d = vt::FreshDir("treelink");
    std::string outside = vt::FreshDir("treelink_outside");
    vt::WriteAll(outside + "\\precious", "keep me");
    vt::MakeDirs(d + "\\root\\sub");
    vt::WriteAll(d + "\\root\\sub\\f", "x");
    if (!vt::MakeFolderLink(d + "\\root\\sub\\link", outside)) GTEST_SKIP() << "no folder links here";
    // Wine cannot remove a Unix link through Windows calls, so the tree may stay; what matters
    // is that nothing behind the link is touched and the result tells the truth.
    int removed = utl_DeleteDirTree((d + "\\root").c_str());
    EXPECT_EQ(removed != 0, !vt::Exists(d + "\\root"));
    EXPECT_FALSE(vt::Exists(d + "\\root\\sub\\f"));
    EXPECT_EQ(vt::ReadAll(outside + "\\precious"), "keep me");
    vt::RemoveFolderLink(d + "\\root\\sub\\link");
}

// Each deleting helper is given a folder link (to a folder with files, and to an empty one whose
// removal would show that a delete reached it), and a folder that holds such links and a file
// link. What the links point to never changes. Windows removes a link given to the helpers that
// remove their folder; under Wine no Windows call removes a Unix link without reaching its
// target, so every link stays there.
TEST(Files, NoHelperListsOrDeletesThroughALink)
{
    std::string full = vt::FreshDir("link_full");
    vt::WriteAll(Sub(full, "precious"), "keep me");
    vt::MakeDirs(Sub(full, "inner"));
    vt::WriteAll(Sub(full, "inner\\deep"), "keep me too");
    std::string empty = vt::FreshDir("link_empty");
    std::string lone = Sub(vt::FreshDir("link_file"), "lone.txt");
    vt::WriteAll(lone, "keep me");
    const std::string before = vt::Snapshot(full) + vt::Snapshot(empty) + vt::ReadAll(lone);
    ASSERT_EQ(before, "\\inner\n\\inner\\deep=keep me too\n\\precious=keep me\nkeep me");

    const struct {
        const char* name;
        void (*call)(const char* dir);
        bool removesItsFolder;
    } helpers[] = {
        {"utl_RemoveWorkDir", [](const char* d) { utl_RemoveWorkDir(d); }, true},
        {"utl_DeleteFilesInDir", [](const char* d) { utl_DeleteFilesInDir(d, "*.*"); }, false},
        {"utl_DeleteDirTree", [](const char* d) { utl_DeleteDirTree(d); }, true},
        {"utl_DeleteSubDirTrees", [](const char* d) { utl_DeleteSubDirTrees(d); }, false},
    };
    for (const auto& h : helpers) {
        std::string d = vt::FreshDir("links");
        for (const std::string& target : {full, empty}) {
            std::string link = Sub(d, "DAM");
            if (!vt::MakeFolderLink(link, target)) GTEST_SKIP() << "no folder links here";
            h.call(link.c_str());
            EXPECT_EQ(vt::Exists(link), vt::IsWine() || !h.removesItsFolder) << h.name << " on " << target;
            vt::RemoveFolderLink(link);
        }
        std::string work = Sub(d, "work");
        vt::MakeDirs(work);
        vt::WriteAll(Sub(work, "plain.txt"), "x");
        bool linked = vt::MakeFolderLink(Sub(work, "DAM"), full) && vt::MakeFolderLink(Sub(work, "DAM2"), empty) &&
                      vt::MakeFileLink(Sub(work, "lone.lnk"), lone);
        EXPECT_TRUE(linked);
        h.call(work.c_str());
        EXPECT_EQ(vt::Snapshot(full) + vt::Snapshot(empty) + vt::ReadAll(lone), before) << h.name;
        for (auto name : {"DAM", "DAM2", "lone.lnk"}) vt::RemoveFolderLink(Sub(work, name));
    }
    vt::RemoveTree("C:\\vtest\\links");
}

TEST(Files, DeleteDirTreeFailsOnceWhenAFileIsHeldOpen)
{
    std::string d = vt::FreshDir("treeheld");
    std::string root = Sub(d, "root");
    vt::MakeDirs(root + "\\l1");
    std::string held = root + "\\l1\\held";
    vt::WriteAll(held, "x");
    HANDLE h = CreateFileA(held.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(utl_DeleteDirTree(root.c_str()), 0);  // returns, does not loop
    CloseHandle(h);
    EXPECT_TRUE(vt::Exists(held));
    EXPECT_NE(utl_DeleteDirTree(root.c_str()), 0);
}

TEST(Files, DeletionsSkipPathsPastTheLimitWithoutOverrun)
{
    // A file whose full path passes 259 characters, made through the wide \\?\ form.
    std::string d = vt::FreshDir("longpath");
    std::string mid = d + "\\" + std::string(110, 'a');
    std::string deep = mid + "\\" + std::string(110, 'b');  // 239 characters
    std::wstring wdeep(deep.begin(), deep.end());
    std::wstring wmid(mid.begin(), mid.end());
    std::wstring wfile = L"\\\\?\\" + wdeep + L"\\" + std::wstring(40, L'f');
    ASSERT_TRUE(CreateDirectoryW(wmid.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryW(wdeep.c_str(), NULL));
    HANDLE h = CreateFileW(wfile.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    utl_DeleteFilesInDir(deep.c_str(), "*.*");
    EXPECT_EQ(utl_DeleteDirTree(d.c_str()), 0);  // the deep file stays, so the root stays
    EXPECT_NE(GetFileAttributesW(wfile.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileW(wfile.c_str());
    RemoveDirectoryW(wdeep.c_str());
    RemoveDirectoryW(wmid.c_str());
}

TEST(Files, RemoveWorkDirIsNotRecursive)
{
    std::string d = vt::FreshDir("removework");
    std::string dam = Sub(d, "DAM");
    vt::MakeDirs(dam + "\\keep");
    vt::WriteAll(dam + "\\a", "1");
    vt::WriteAll(dam + "\\keep\\b", "2");
    utl_RemoveWorkDir(dam.c_str());
    EXPECT_EQ(vt::List(dam), std::vector<std::string>{"keep"});
    vt::RemoveTree(dam + "\\keep");
    vt::WriteAll(dam + "\\c", "3");
    utl_RemoveWorkDir(dam.c_str());
    EXPECT_FALSE(vt::Exists(dam));
}

TEST(Files, CreateWorkDirReusesAndClearsPlainFiles)
{
    vt::RemoveTree("C:\\tmp\\VemloSetup0");
    char out[260];
    memset(out, 'x', sizeof out);
    ASSERT_EQ(utl_CreateWorkDir(out, sizeof out, "VemloSetup", 0, 1), 1);
    EXPECT_STREQ(out, "C:\\tmp\\VemloSetup0");
    vt::WriteAll("C:\\tmp\\VemloSetup0\\one", "1");
    vt::WriteAll("C:\\tmp\\VemloSetup0\\two", "2");
    vt::MakeDirs("C:\\tmp\\VemloSetup0\\sub");
    vt::WriteAll("C:\\tmp\\VemloSetup0\\sub\\three", "3");
    ASSERT_EQ(utl_CreateWorkDir(out, sizeof out, "VemloSetup", 0, 1), 1);
    EXPECT_EQ(vt::List("C:\\tmp\\VemloSetup0"), std::vector<std::string>{"sub"});
    EXPECT_TRUE(vt::Exists("C:\\tmp\\VemloSetup0\\sub\\three"));
    vt::WriteAll("C:\\tmp\\VemloSetup0\\four", "4");
    ASSERT_EQ(utl_CreateWorkDir(out, sizeof out, "VemloSetup", 0, 0), 1);  // no clearing
    EXPECT_TRUE(vt::Exists("C:\\tmp\\VemloSetup0\\four"));
    vt::RemoveTree("C:\\tmp\\VemloSetup0");
}

TEST(Files, CreateWorkDirBoundsAndFailures)
{
    vt::RemoveTree("C:\\tmp\\VemloSetup0");
    const unsigned len = (unsigned)strlen("C:\\tmp\\VemloSetup0");
    char out[260];
    memset(out, 'x', sizeof out);
    EXPECT_EQ(utl_CreateWorkDir(out, len, "VemloSetup", 0, 1), 0);  // no room for the NUL
    EXPECT_EQ(out[0], 'x');
    EXPECT_EQ(utl_CreateWorkDir(out, len + 1, "VemloSetup", 0, 1), 1);
    EXPECT_STREQ(out, "C:\\tmp\\VemloSetup0");
    vt::RemoveTree("C:\\tmp\\VemloSetup0");

    // A prefix that would make the path pass 259 characters is refused, whatever the buffer.
    std::string longPrefix(252, 'p');  // 7 + 252 + 1 digit = 260
    char big[600];
    memset(big, 'x', sizeof big);
    EXPECT_EQ(utl_CreateWorkDir(big, sizeof big, longPrefix.c_str(), 0, 1), 0);
    EXPECT_EQ(big[0], 'x');

    vt::WriteAll("C:\\tmp\\VemloSetup0", "a plain file in the way");
    EXPECT_EQ(utl_CreateWorkDir(out, sizeof out, "VemloSetup", 0, 1), 0);
    EXPECT_EQ(out[0], 'C');  // left as it was
    DeleteFileA("C:\\tmp\\VemloSetup0");

    char tick[260];
    ASSERT_EQ(utl_CreateWorkDir(tick, sizeof tick, "VemloTick", 1, 0), 1);
    EXPECT_EQ(std::string(tick).rfind("C:\\tmp\\VemloTick", 0), 0u);
    EXPECT_GT(strlen(tick), strlen("C:\\tmp\\VemloTick"));
    RemoveDirectoryA(tick);
}

TEST(Files, OpenModesShareAsSpecified)
{
    std::string d = vt::FreshDir("open");
    std::string p = Sub(d, "f");
    EXPECT_EQ(utl_OpenFileForRead(p.c_str()), INVALID_HANDLE_VALUE);  // missing

    HANDLE w = utl_NewOrOpenFileForWrite(p.c_str());  // creates
    ASSERT_NE(w, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    WriteFile(w, "abcdef", 6, &n, NULL);
    // Shared for reading and writing: a second writer gets in.
    HANDLE w2 = utl_NewOrOpenFileForWrite(p.c_str());
    EXPECT_NE(w2, INVALID_HANDLE_VALUE);
    CloseHandle(w2);
    // A reader refuses to share with a writer that is still open.
    EXPECT_EQ(utl_OpenFileForRead(p.c_str()), INVALID_HANDLE_VALUE);
    CloseHandle(w);

    // Reopening keeps the content and starts at the beginning.
    w = utl_NewOrOpenFileForWrite(p.c_str());
    WriteFile(w, "XY", 2, &n, NULL);
    CloseHandle(w);
    EXPECT_EQ(vt::ReadAll(p), "XYcdef");

    HANDLE r = utl_OpenFileForRead(p.c_str());
    ASSERT_NE(r, INVALID_HANDLE_VALUE);
    HANDLE r2 = utl_OpenFileForRead(p.c_str());  // other readers are welcome
    EXPECT_NE(r2, INVALID_HANDLE_VALUE);
    CloseHandle(r2);
    EXPECT_EQ(CreateFileA(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                          OPEN_EXISTING, 0, NULL), INVALID_HANDLE_VALUE);  // writers are not
    CloseHandle(r);
}

TEST(Files, ClearReadOnlyCodes)
{
    std::string d = vt::FreshDir("readonly");
    std::string p = Sub(d, "f");
    EXPECT_EQ(utl_ClearReadOnly(nullptr), 1101u);
    EXPECT_EQ(utl_ClearReadOnly(p.c_str()), 1001u);
    vt::WriteAll(p, "x");
    SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(utl_ClearReadOnly(p.c_str()), 0u);
    EXPECT_EQ(GetFileAttributesA(p.c_str()), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    DWORD before = GetFileAttributesA(p.c_str());
    EXPECT_EQ(utl_ClearReadOnly(p.c_str()), 0u);
    EXPECT_EQ(GetFileAttributesA(p.c_str()), before & ~(DWORD)FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(before & FILE_ATTRIBUTE_HIDDEN);
}

}  // namespace
