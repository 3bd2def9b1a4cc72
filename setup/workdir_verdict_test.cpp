// Every combination of the facts about a folder, and the verdict the work folder's rules give
// on it; runs in both Windows suites and natively.
#include <gtest/gtest.h>

#include "setup/workdir_verdict.h"

namespace {

// Per place and file system, one letter per owner and DACL: U use, A made anew, R refused (the
// setup stops with 351). Each owner's four letters are, in turn, a DACL neither protected nor
// ours, ours but not protected (inherited from above), protected with other entries, and
// protected and ours.
struct Row {
    WorkDirPlace place;
    bool keepsOwners;
    const char* expected;  // other | administrators | SYSTEM | this process's user
};
const Row kRows[] = {
    // C:\tmp: the administrators' and SYSTEM's are used whatever their DACL; a user's is not.
    {kPlaceParent, true, "RRRR UUUU UUUU RRRR"},
    {kPlaceParent, false, "RRRR UUUU UUUU UUUU"},
    // A work folder found in place is kept only when exactly ours, also where owners are not kept.
    {kPlaceFound, true, "AAAA AAAU AAAA AAAA"},
    {kPlaceFound, false, "AAAA AAAU AAAA AAAA"},
    // One just made must be exactly ours; where owners are not kept, it reads as this user's.
    {kPlaceMade, true, "RRRR RRRU RRRR RRRR"},
    {kPlaceMade, false, "RRRR RRRU RRRR UUUU"},
};

TEST(WorkDirVerdict, EveryOwnerDaclAndFileSystem)
{
    const WorkDirOwner owners[] = {kOwnerOther, kOwnerAdmins, kOwnerSystem, kOwnerSelf};
    int judged = 0;
    for (const Row& row : kRows) {
        const char* cell = row.expected;
        for (WorkDirOwner owner : owners) {
            for (int dacl = 0; dacl < 4; ++dacl, ++cell) {
                const WorkDirFacts facts = {owner, dacl >= 2, dacl % 2 == 1, row.keepsOwners};
                const WorkDirVerdict verdict = WorkDirJudge(row.place, facts);
                const char got = verdict == kWorkDirUse ? 'U' : verdict == kWorkDirMakeAnew ? 'A' : 'R';
                EXPECT_EQ(got, *cell) << "place " << row.place << ", keeps owners " << row.keepsOwners << ", owner "
                                      << owner << ", protected " << facts.daclProtected << ", ours " << facts.daclOurs;
                ++judged;
            }
            if (*cell == ' ') ++cell;
        }
        EXPECT_EQ(*cell, '\0');
    }
    EXPECT_EQ(judged, 3 * 2 * 4 * 4);
}

// The probe file this process has just made reads as its own user's only where owners are not
// kept; a probe that cannot be read (kOwnerOther) keeps the strict rules.
TEST(WorkDirVerdict, KeepsOwnersFromTheProbe)
{
    EXPECT_TRUE(WorkDirKeepsOwners(kOwnerOther));
    EXPECT_TRUE(WorkDirKeepsOwners(kOwnerAdmins));
    EXPECT_TRUE(WorkDirKeepsOwners(kOwnerSystem));
    EXPECT_FALSE(WorkDirKeepsOwners(kOwnerSelf));
}

}  // namespace
