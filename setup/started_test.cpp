// The started-process tree with real processes: it keeps following an installer's relaunch
// however many short helper processes came and went before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "setup/setup.h"
#include "testing/testutil.h"

namespace {

// The events of one test run, named after the test process.
std::string EventName(const std::string& tag, const char* what) { return "vemlo-started-" + tag + "-" + what; }

bool Signal(const std::string& name)
{
    HANDLE e = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (!e) return false;
    BOOL ok = SetEvent(e);
    CloseHandle(e);
    return ok != 0;
}

bool AwaitEvent(const std::string& name)
{
    HANDLE e = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
    if (!e) return false;
    DWORD got = WaitForSingleObject(e, 120000);
    CloseHandle(e);
    return got == WAIT_OBJECT_0;
}

}  // namespace

// A helper: says it runs, and ends when told.
VEMLO_CHILD(tree_helper)
{
    if (argc < 1) return 2;
    return Signal(EventName(argv[0], "up")) && AwaitEvent(EventName(argv[0], "go")) ? 0 : 3;
}

// An installer: runs argv[1] helpers one after another, each to its end, then relaunches itself
// (a helper that says so and ends when told) and ends at once.
VEMLO_CHILD(tree_installer)
{
    if (argc < 2) return 2;
    for (int i = 0; i < atoi(argv[1]); ++i) {
        HANDLE helper = vt::StartChild("tree_helper", {argv[0]});
        if (!helper) return 3;
        WaitForSingleObject(helper, INFINITE);
        CloseHandle(helper);
    }
    HANDLE relaunched = vt::StartChild("tree_relaunched", {argv[0]});
    if (!relaunched) return 4;
    CloseHandle(relaunched);
    return 0;
}

VEMLO_CHILD(tree_relaunched)
{
    if (argc < 1) return 2;
    return Signal(EventName(argv[0], "relaunched")) && AwaitEvent(EventName(argv[0], "end")) ? 0 : 3;
}

// 70 helpers, each seen running by the tree, then the relaunch: the tree still finds it after the
// installer it started has ended, and waits for it until it ends.
TEST(StartedTree, FollowsARelaunchAfterSeventyHelpers)
{
    const int helpers = 70;
    static_assert(helpers > StartedTree::kMaxProcesses, "more helpers than the tree holds at once");
    const std::string tag = std::to_string(GetCurrentProcessId());
    HANDLE up = CreateEventA(NULL, FALSE, FALSE, EventName(tag, "up").c_str());
    HANDLE go = CreateEventA(NULL, FALSE, FALSE, EventName(tag, "go").c_str());
    HANDLE relaunched = CreateEventA(NULL, TRUE, FALSE, EventName(tag, "relaunched").c_str());
    HANDLE end = CreateEventA(NULL, TRUE, FALSE, EventName(tag, "end").c_str());
    ASSERT_TRUE(up && go && relaunched && end);

    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    HANDLE installer = vt::StartChild("tree_installer", {tag, std::to_string(helpers)});
    ASSERT_TRUE(installer);
    int most = 0;
    {
        StartedTree tree(installer, BareImageName(self));
        for (int i = 0; i < helpers; ++i) {
            ASSERT_EQ(WaitForSingleObject(up, 120000), WAIT_OBJECT_0) << "helper " << i;
            EXPECT_TRUE(tree.Running());  // a look while the helper runs: the tree takes it
            most = std::max(most, tree.Count());
            SetEvent(go);
        }
        ASSERT_EQ(WaitForSingleObject(relaunched, 120000), WAIT_OBJECT_0);
        ASSERT_EQ(WaitForSingleObject(installer, 120000), WAIT_OBJECT_0);
        EXPECT_TRUE(tree.Running()) << "the relaunched installer escaped the tree (" << tree.Count() << " held)";
        SetEvent(end);
        int rounds = 0;
        while (tree.Running() && rounds < 1000) {  // ends with the relaunched installer
            tree.Wait(100);
            ++rounds;
        }
        EXPECT_FALSE(tree.Running());
    }
    // The root, the helper of the moment and one that had just ended at most.
    EXPECT_LE(most, 3);
    for (HANDLE h : {installer, up, go, relaunched, end}) CloseHandle(h);
}
