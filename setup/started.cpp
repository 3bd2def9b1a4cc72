// The processes a run started and their descendants: found through the parent ids of the process
// list, held by handle, and waited for by handle, so that no other program of the same name,
// started by anybody else, can hold the run.
#include <windows.h>
#include <tlhelp32.h>

#include "setup/setup.h"

namespace {

// Each pass of a look adds one generation; a tree deeper than this is looked at again next time.
const int kPasses = 16;

bool IsRunning(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

}  // namespace

StartedTree::StartedTree(HANDLE root, const char* name) : count_(0), name_(name)
{
    FILETIME exited, kernel, user;
    Entry& e = entries_[0];
    e.id = GetProcessId(root);
    e.process = root;
    e.confirmed = true;
    e.named = true;
    e.endSeen = false;
    if (e.id == 0 || !GetProcessTimes(root, &e.created, &exited, &kernel, &user)) {
        // Without its id and start the root is still waited for, but nothing is found below it.
        e.id = 0;
        e.created.dwLowDateTime = e.created.dwHighDateTime = 0xFFFFFFFF;
    }
    count_ = 1;
}

StartedTree::~StartedTree()
{
    for (int i = 1; i < count_; ++i) CloseHandle(entries_[i].process);  // the root is the caller's
}

int StartedTree::Find(DWORD id, bool confirmedOnly) const
{
    for (int i = 0; i < count_; ++i)
        if (entries_[i].id == id && id != 0 && (entries_[i].confirmed || !confirmedOnly)) return i;
    return -1;
}

void StartedTree::Drop(int i)
{
    CloseHandle(entries_[i].process);
    entries_[i] = entries_[--count_];
}

void StartedTree::Look()
{
    for (int pass = 0; pass < kPasses; ++pass) {
        // Noted before the list is made: whatever such a process started before it ended, and
        // still runs, is in this list.
        for (int i = 1; i < count_; ++i)
            if (!entries_[i].endSeen && !IsRunning(entries_[i].process)) entries_[i].endSeen = true;
        SnapshotHolder snap(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry;
        entry.dwSize = sizeof entry;
        if (!snap.First(&entry)) return;  // unreadable: the handles still tell
        // A process taken in the last pass was opened by its id after that list was made: the id
        // may have been free and given to another process in between. This list, made after the
        // open, must show it under a parent of the tree, or it goes.
        bool listed[kMaxProcesses] = {};
        bool added = false;
        do {
            int known = Find(entry.th32ProcessID, false);
            if (known >= 0) {
                // Listed under a parent outside the tree: another process got the id; it goes below.
                if (!entries_[known].confirmed && Find(entry.th32ParentProcessID, true) >= 0)
                    entries_[known].confirmed = listed[known] = true;
                continue;
            }
            int parent = Find(entry.th32ParentProcessID, true);
            if (parent < 0 || count_ >= kMaxProcesses) continue;
            HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
            if (!process) continue;
            Entry& e = entries_[count_];
            FILETIME exited, kernel, user;
            // A child is made after its parent. A process whose parent id belonged to an earlier
            // process (ids are reused) is older than the tree's process of that id.
            if (!GetProcessTimes(process, &e.created, &exited, &kernel, &user) ||
                CompareFileTime(&e.created, &entries_[parent].created) < 0) {
                CloseHandle(process);
                continue;
            }
            entry.szExeFile[sizeof entry.szExeFile - 1] = '\0';
            e.id = entry.th32ProcessID;
            e.process = process;
            e.confirmed = false;
            e.endSeen = false;
            e.named = lstrcmpiA(BareImageName(entry.szExeFile), name_) == 0;
            listed[count_] = true;
            ++count_;
            added = true;
        } while (snap.Next(&entry));
        bool unconfirmed = false;
        for (int i = count_ - 1; i > 0; --i) {
            if (entries_[i].confirmed) continue;
            if (!listed[i]) {
                Drop(i);  // gone from the list, or listed under another parent
                continue;
            }
            unconfirmed = true;
        }
        if (!added && !unconfirmed) {
            DropEnded();
            return;
        }
    }
}

void StartedTree::DropEnded()
{
    // Every process of this list is in the tree or of no interest, and a process that had ended
    // before the list was made can start nothing more: its entry only takes room (and would fill
    // the tree after enough short helpers). The root stays: it is the caller's.
    for (int i = count_ - 1; i > 0; --i)
        if (entries_[i].endSeen) Drop(i);
}

bool StartedTree::Running()
{
    Look();
    for (int i = 0; i < count_; ++i)
        if (entries_[i].confirmed && entries_[i].named && IsRunning(entries_[i].process)) return true;
    return false;
}

void StartedTree::Wait(DWORD ms)
{
    HANDLE running[MAXIMUM_WAIT_OBJECTS];
    DWORD n = 0;
    for (int i = 0; i < count_ && n < MAXIMUM_WAIT_OBJECTS; ++i)
        if (entries_[i].confirmed && entries_[i].named && IsRunning(entries_[i].process))
            running[n++] = entries_[i].process;
    if (n > 0)
        WaitForMultipleObjects(n, running, FALSE, ms);
    else
        Sleep(ms);
}

int StartedTree::Count() const { return count_; }
