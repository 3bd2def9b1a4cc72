// The package walker: reads a package from any byte source, checks every length against the
// package and hands each record to a visitor. The Win32 library walks files with it, vpack on
// Linux walks streams with it, and the fuzzer walks bytes in memory.
#pragma once
#include <cstdint>

#include "core/payload_digest.h"

// A package: the mixed 17-byte magic, then records of N (4 plain bytes, little-endian), D (4
// plain bytes), N mixed name bytes and D mixed content bytes. A closed package ends with an end
// record named kPackageEndName whose content carries the payload digest. A compressed record has
// kRecordZstd set in N beside its name length, and its D stored bytes are one zstd frame that
// declares its content size (below 4 GiB) and needs a window of at most 8 MiB.
extern const char kPackageMagic[];    // "^-=Vemlo=-^ Reed "
const uint32_t kPackageMagicLen = 17;
extern const char kPackageEndName[];  // "^Vemlo_end^"
const uint32_t kPackageEndNameLen = 11;
const uint32_t kPackageMaxNameLen = 64;
// The mark of a compressed record in N. A reader of the format before it takes N for a name
// length above 64 and refuses the package (161) before writing anything of that record.
const uint32_t kRecordZstd = 0x80000000u;
// The largest window a compressed record's frame may need (2^23 bytes: 8 MiB), so that the memory
// an unpack takes does not grow with the payload.
const uint32_t kZstdWindowLogMax = 23;
const uint32_t kPackagePiece = 4096;
// A destination path and a record name together stay below this (Windows' MAX_PATH).
const uint32_t kPackagePathLimit = 260;
// The whole end record the writers store (BLAKE3): N and D plain, the name and the content mixed.
const uint32_t kEndRecordLen = 8 + kPackageEndNameLen + kEndDataLen;

// The number of a package whose bytes do not give the digest its end record carries (or whose
// end record carries something that is no digest of ours).
const uint32_t kErrDigestMismatch = 167;
// Records appended to a closed package would never be read: the writers refuse them.
const uint32_t kErrPackageClosed = 168;
// A compressed record whose frame is damaged, declares no content size or one of 4 GiB or more,
// needs a larger window, or gives more or fewer bytes than it declares, or more or fewer stored
// bytes than the record holds.
const uint32_t kErrCompressed = 169;

// The record head as a writer stores it: N and D plain, then the name mixed (8 + nameLen bytes
// into out). compressed: the D bytes that follow are a zstd frame (kRecordZstd in N).
void core_EncodeRecordHead(uint8_t* out, const char* name, uint32_t nameLen, uint32_t dataLen, int compressed = 0);
// The end record that closes a package with this digest: 8 + 11 + 2 + digest->len bytes into out
// (kEndRecordLen for BLAKE3); returns that count.
uint32_t core_EncodeEndRecord(uint8_t* out, const DigestValue* digest);

// What a walk found out about the payload digest.
enum { kDigestNone = 0, kDigestOk = 1, kDigestMismatch = 2 };
// The caller sets expect (or leaves it null); the walk fills in the rest.
struct PackDigestCheck {
    // In: the digest the package must give (a setup's slot), null when any package will do. With
    // it, only its algorithm is computed, and a package without an end record, or whose end record
    // names another algorithm or value, is a mismatch.
    const DigestValue* expect;
    int state;             // kDigestNone: no end record, or one with no content
    DigestValue stored;    // what the end record carries (kDigestOk, kDigestMismatch)
    DigestValue computed;  // the same algorithm over the bytes before the end record (BLAKE3 when
                           // the end record names none we know)
    DigestValue blake3;    // BLAKE3-256 of those bytes: what a writer closes the package with
    uint32_t endOffset;    // where the end record starts, from the package start (the package
                           // length when there is none)
};

// Where the walker reads. read fills up to len bytes at the current position and returns how
// many came (fewer only at the end), or -1 when reading failed, with the system's error number
// in lastError. seek moves to an absolute position of the source: 1 done, 0 failed.
struct CoreByteSource {
    int32_t (*read)(void* ctx, uint8_t* buffer, uint32_t len);
    int (*seek)(void* ctx, uint64_t position);
    void* ctx;
    uint32_t lastError;
};

// One record as the walker hands it to its visitor.
struct CoreRecord {
    uint32_t index;    // 1 for the first record
    uint32_t nameLen;     // N without the mark of a compressed record
    uint32_t dataLen;     // D: the bytes stored
    const char* name;     // nameLen bytes, NUL-terminated after them
    int isEnd;            // the end record: no content follows, the walk stops after begin
    int compressed;       // the stored bytes are a zstd frame: the pieces are what it decodes to
    uint32_t contentLen;  // the content's length: D, or what the frame declares
};

// A second thread the platform lends the walker for large contents (the core starts none of its
// own): while the walker hands on one piece and reads the next, the hasher digests the piece after
// it and unmixes it. One piece at a time, in the order they come.
struct CoreHasher {
    // Begins, beside the caller, digesting len stored bytes at data into d and unmixing them into
    // out: 1 when under way, 0 when the caller must do both itself (no thread could be had).
    int (*start)(void* ctx, PayloadDigest* d, const uint8_t* data, uint8_t* out, uint32_t len);
    // Returns once the piece last started is digested and unmixed.
    void (*wait)(void* ctx);
    void* ctx;
    uint8_t* stored[2];  // four buffers of the visitor's pieceSize: the stored bytes of a piece
    uint8_t* plain[2];   // and its content, in turn
};
// Contents at least this long are digested beside; shorter ones cost less than a hand-over.
const uint32_t kHashBesideMin = 1024 * 1024;

// What the walker does with each record. begin runs once the name is read and found safe (for
// the end record too; for a compressed record once its frame's header is read and found sound);
// it returns 0 to go on or an error number. piece gets the unmixed (and decoded) content in order
// (contentLen bytes in all) and returns 0 or an error number; finish runs after the last piece.
// A null callback does nothing. trace, when set, gets each line of the unpack trace: a format
// with up to three %d and their values.
struct CoreVisitor {
    uint32_t (*begin)(void* ctx, const CoreRecord* record);
    uint32_t (*piece)(void* ctx, const uint8_t* data, uint32_t len);
    void (*finish)(void* ctx);
    void (*trace)(void* ctx, const char* format, uint32_t a, uint32_t b, uint32_t c);
    void* ctx;
    uint32_t dstLen;             // length of the destination folder (0 when nothing is written)
    int (*isLeadByte)(uint8_t);  // the double-byte lead bytes of the names' code page (null: none)
    uint8_t* pieceBuffer;        // content goes through here in pieces of pieceSize bytes; null:
    uint32_t pieceSize;          // 4096-byte pieces on the walker's stack
    PackDigestCheck* digest;     // non-null: the walk checks the payload digest and reports here;
                                 // a mismatch ends it with 167
    const CoreHasher* hasher;    // non-null (with digest and pieceBuffer): large contents are
                                 // digested beside the walk
};

// The length of the package that starts at offset in a source of sourceSize bytes (sized 0: the
// size could not be read), with its two trace lines. 1 with *packageLen set; 0 with 155 in
// *error when the source is unsized, 4 GiB or more, or not larger than offset.
int core_PackageLength(const CoreVisitor* visitor, int sized, uint64_t sourceSize, uint32_t offset,
                       uint32_t* packageLen, uint32_t* error);
// Walks the packageLen bytes of package that lie in src from offset, handing each record to
// visitor. 1 when the walk reached the package end or its end record; 0 with *error set: 159
// fewer than 17 bytes or no seek; 160 no magic; 161-166 a record that does not fit; 167 a
// digest mismatch; 169 a compressed record that does not decode (decoded only when there is a
// piece callback; with none, only its frame's header is checked); or what a callback returned. Content nobody looks at (no piece callback, no
// digest) is seeked over.
int core_WalkPackage(const CoreByteSource* src, uint32_t offset, uint32_t packageLen, const CoreVisitor* visitor,
                     uint32_t* error);
