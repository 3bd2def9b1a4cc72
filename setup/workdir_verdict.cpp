// The verdict on a work folder from the facts about it; the Win32 side is setup/workdir.cpp.
#include "setup/workdir_verdict.h"

WorkDirVerdict WorkDirJudge(WorkDirPlace place, const WorkDirFacts& facts)
{
    const bool ours = facts.owner == kOwnerAdmins && facts.daclProtected && facts.daclOurs;
    // Where owners are not kept, every folder reads as this user's, whoever made it.
    const bool ownOnly = !facts.keepsOwners && facts.owner == kOwnerSelf;
    switch (place) {
    case kPlaceParent:
        return facts.owner == kOwnerAdmins || facts.owner == kOwnerSystem || ownOnly ? kWorkDirUse : kWorkDirRefuse;
    case kPlaceFound:
        return ours ? kWorkDirUse : kWorkDirMakeAnew;
    case kPlaceMade:
        return ours || ownOnly ? kWorkDirUse : kWorkDirRefuse;
    }
    return kWorkDirRefuse;
}

bool WorkDirKeepsOwners(WorkDirOwner probeOwner)
{
    return probeOwner != kOwnerSelf;
}
