// The work folder's rules as a pure verdict over facts read off a folder: whom it belongs to,
// whether its DACL is protected and holds exactly our entries, and whether the file system
// keeps owners at all. No system call: every combination is tested on any system.
#pragma once

// Who owns a folder. A folder whose security cannot be read counts as kOwnerOther.
enum WorkDirOwner { kOwnerOther, kOwnerAdmins, kOwnerSystem, kOwnerSelf };

// Which folder is judged: the one above the work folder (C:\tmp), a work folder found in
// place, or one this process has just made.
enum WorkDirPlace { kPlaceParent, kPlaceFound, kPlaceMade };

enum WorkDirVerdict {
    kWorkDirUse,      // take the folder as it is (a found one is then emptied)
    kWorkDirMakeAnew, // a found folder goes whole and is made again
    kWorkDirRefuse,   // the work folder cannot be prepared: the setup stops with 351
};

struct WorkDirFacts {
    WorkDirOwner owner;
    bool daclProtected;  // SE_DACL_PROTECTED: nothing inherited from above
    bool daclOurs;       // the DACL's entries are exactly those SecureWorkDir gives, byte for byte
    bool keepsOwners;    // the file system keeps the owner a new file is given (Wine does not)
};

// A folder of the administrators with exactly our protected DACL is used wherever it is; above
// the work folder, SYSTEM's and the administrators' are used whatever their DACL. Only where
// owners are not kept is a folder of this process's own user used (not a found work folder:
// that one is made anew). Anything else is made anew when found, and refused above or made.
WorkDirVerdict WorkDirJudge(WorkDirPlace place, const WorkDirFacts& facts);

// Whether owners are kept, from the owner read back off a file this process has just made:
// Wine names every file its user's. When that cannot be told (kOwnerOther for an unreadable
// probe), the answer is yes, so the strict rules hold.
bool WorkDirKeepsOwners(WorkDirOwner probeOwner);
