// What vpack asks of the platform: files opened, read, written and put in place whole, file
// identity, the code page record names are stored in, and the client's stored formats. On Windows
// these are Win32 calls and the library's functions; on Linux POSIX calls, iconv and the core.
// Everything above this line (the package commands) is the same code in both builds, so both give
// the same bytes, texts and error numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Splits a path at its last separator: "a.txt" gives "." and "a.txt". On Windows \ and / both
// separate (double-byte characters stepped over) and "C:x" gives "C:." and "x"; on Linux only /
// does. False when the name part is empty.
bool VpackSplitPath(const std::string& path, std::string* dir, std::string* name);

// ---- Interruptions -----------------------------------------------------------------------------
// INT, TERM and HUP on Linux, Ctrl-C and Ctrl-Break on Windows do not end vpack at once: they are
// noted, the next read, write or rename fails with the reason "interrupted", the command cleans up
// (temporaries, made folders, originals put back) as after any failure, and VpackEndInterrupted
// then ends the program as the interruption would have (the signal again; STATUS_CONTROL_C_EXIT).

void VpackCatchInterrupts();
bool VpackInterrupted();
// Returns only when nothing interrupted the program.
void VpackEndInterrupted();

// ---- Files ------------------------------------------------------------------------------------
// Every call that fails keeps the system's reason for VpackSystemReason(), read before anything
// else can touch the system's error number.

// An open file: the descriptor or the HANDLE, -1 when none. Closed by its destructor.
struct VpackFile {
    std::intptr_t h = -1;
    VpackFile() = default;
    ~VpackFile() { Close(); }
    VpackFile(const VpackFile&) = delete;
    VpackFile& operator=(const VpackFile&) = delete;
    bool IsOpen() const { return h != -1; }
    void Close();
};

bool VpackOpenRead(const std::string& path, VpackFile* f);
// Reads up to len bytes at the position into data: *got is short only at the end of the file.
bool VpackRead(VpackFile* f, void* data, size_t len, size_t* got);
bool VpackWrite(VpackFile* f, const void* data, size_t len);
bool VpackSeek(VpackFile* f, uint64_t position);
bool VpackSize(VpackFile* f, uint64_t* size);
// Flushes what was written to f to the disk.
bool VpackFlush(VpackFile* f);

// Creates a new, empty, uniquely named file ".NAME.vpack-XXXXXX" in target's folder, opened for
// writing; *tmp is its path. Nothing is left behind when it fails.
bool VpackCreateTemp(const std::string& target, std::string* tmp, VpackFile* f);
// Puts the temporary in place: flushes it to the disk (when f is still open), closes it, renames it to target (over an
// existing target when replace is set; else an existing target fails) and flushes the folder. On
// failure the temporary is still there (the caller removes it) and target is as it was.
bool VpackCommit(VpackFile* f, const std::string& tmp, const std::string& target, bool replace);

enum VpackKind { kVpackMissing, kVpackFile, kVpackDir, kVpackOther };
// What path is; follow: a link counts as what it points to (else a link is kVpackOther).
VpackKind VpackKindOf(const std::string& path, bool follow);
// A file's identity on its volume (device and inode, or volume serial and file index): two
// spellings of one file give the same. False when the file cannot be looked at.
struct VpackFileId {
    uint64_t volume = 0, index = 0;
    bool operator==(const VpackFileId& o) const { return volume == o.volume && index == o.index; }
};
bool VpackIdOf(const std::string& path, VpackFileId* id);

bool VpackMakeDir(const std::string& path);
bool VpackRemoveDir(const std::string& path);
void VpackRemoveFile(const std::string& path);

// The reason the last failed call gave, in words that are the same in both builds for the common
// cases ("no such file or folder", "access denied", "no space left on the disk", ...) and the
// system's own text otherwise.
std::string VpackSystemReason();

// ---- Record names -----------------------------------------------------------------------------
// A record name is stored in the ANSI code page of the Windows that will unpack it: the stub opens
// its files with the "A" functions.

// Sets the code page names are stored in (--codepage). Linux: any Windows ANSI code page iconv
// knows (936, 1252, ...); Windows: only this system's ANSI code page, which is what it uses anyway.
// False with *why when it cannot be used.
bool VpackSetCodepage(unsigned long codepage, std::string* why);
// The stored bytes of a file name as the host spells it. False with *why when it cannot be
// stored (on Linux: a non-ASCII name with no code page set, or one the code page lacks).
bool VpackStoredName(const std::string& host, std::string* stored, std::string* why);
// The host's spelling of a stored name. False when there is none (on Linux: a non-ASCII name and
// no code page set, or bytes the code page does not have).
bool VpackHostName(const std::string& stored, std::string* host);
// The stored code page's double-byte lead bytes, for the name rule (null: single-byte).
using VpackLeadByteFn = int (*)(uint8_t);
VpackLeadByteFn VpackLeadBytes();
// dir joined with a record's host name: its \ and / separators made the host's.
std::string VpackJoinRecord(const std::string& dir, const std::string& hostName);
// The folders between dir and a record's file, outermost first: "a\b/c.txt" gives dir/a and
// dir/a/b. \ and / both separate, as they do for the stub; a double-byte character's trail byte
// is no separator.
std::vector<std::string> VpackRecordFolders(const std::string& dir, const std::string& hostName);

// ---- Files below a destination folder ---------------------------------------------------------
// extract reaches a record's file from the destination folder without following a link on the
// way: path is dest joined with the record (VpackJoinRecord). Linux walks the folders with openat
// and O_NOFOLLOW and works in the last one by its descriptor; Windows opens every folder on the
// way without following a reparse point, refuses one that is, and holds them (no delete sharing,
// so none can be swapped) while it works by name. A link on the way fails with the reason "it is
// a link".

// What is at path; a link on the way or at path is kVpackOther.
VpackKind VpackKindBelow(const std::string& dest, const std::string& path);
bool VpackMakeDirBelow(const std::string& dest, const std::string& path);
bool VpackRemoveDirBelow(const std::string& dest, const std::string& path);
void VpackRemoveBelow(const std::string& dest, const std::string& path);
// A new temporary ".NAME.vpack-XXXXXX" beside path, open for writing.
bool VpackCreateTempBelow(const std::string& dest, const std::string& path, std::string* tmp, VpackFile* f);
// Renames from to to (both in one folder), over an existing to only when replace is set, and
// flushes the folder.
bool VpackRenameBelow(const std::string& dest, const std::string& from, const std::string& to, bool replace);
// Windows: an empty text when every argument reached the program as typed; else the line that
// says which one did not (the system's ANSI code page lacks a character of it). Linux: empty.
std::string VpackArgumentProblem(int argc, char** argv);

// ---- The client's stored formats --------------------------------------------------------------

// The stored password (PWD_* codes of core/password.h).
int VpackEncryptPwd(const std::string& password, std::string* text);
int VpackDecryptPwd(const std::string& text, std::string* password);
// Digest files: 0 or a VRF_ERR_* code of core/vrf.h; namedPair hashes the fixed icon block.
unsigned long VpackMakeVrf(const std::string& ini, const std::string& vrf, bool namedPair);
bool VpackVerifyVrf(const std::string& ini, const std::string& vrf, bool namedPair);
// MD5 of a whole file (16 bytes). False when it cannot be read whole.
bool VpackMd5File(const std::string& path, unsigned char* digest);
