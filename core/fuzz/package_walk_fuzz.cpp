// Fuzz target: the package walker over a package in memory, walked twice (reading every content
// byte with the digest check, then seeking over the content) with the results compared, and the
// digest it reports recomputed here from the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/package_walk.h"

namespace {

struct Memory {
    const uint8_t* data;
    uint64_t size, at;
};

int32_t MemRead(void* ctx, uint8_t* buffer, uint32_t len)
{
    Memory* m = static_cast<Memory*>(ctx);
    uint64_t n = m->at >= m->size ? 0 : m->size - m->at < len ? m->size - m->at : len;
    std::memcpy(buffer, m->data + m->at, (size_t)n);
    m->at += n;
    return (int32_t)n;
}

int MemSeek(void* ctx, uint64_t position)
{
    static_cast<Memory*>(ctx)->at = position;
    return 1;
}

// Names are read as in code page 936, where a trail byte may be 0x5C.
int GbkLeadByte(uint8_t b) { return b >= 0x81 && b <= 0xFE; }

// What a walk saw: records, the content bytes per record, and the outcome.
struct Seen {
    bool content = false;
    uint32_t records = 0, expected = 0, got = 0;
    uint64_t contentSum = 0;
};

uint32_t Begin(void* ctx, const CoreRecord* r)
{
    Seen* s = static_cast<Seen*>(ctx);
    // A name that reaches the visitor is whole: no NUL inside it, terminated after it.
    if (!r->isEnd && std::strlen(r->name) != r->nameLen) std::abort();
    if (s->content && s->got != s->expected) std::abort();  // the previous record's content came whole
    ++s->records;
    s->expected = r->isEnd ? 0 : r->contentLen;
    if (!r->compressed && r->contentLen != r->dataLen) std::abort();
    s->got = 0;
    return 0;
}

uint32_t Piece(void* ctx, const uint8_t* data, uint32_t len)
{
    Seen* s = static_cast<Seen*>(ctx);
    s->got += len;
    for (uint32_t i = 0; i < len; ++i) s->contentSum += data[i];
    return 0;
}

int Walk(const uint8_t* bytes, size_t size, bool content, Seen* seen, PackDigestCheck* check, uint32_t* error)
{
    Memory m = {bytes, size, 0};
    CoreByteSource src = {MemRead, MemSeek, &m, 0};
    seen->content = content;
    CoreVisitor v = {};
    v.begin = Begin;
    v.ctx = seen;
    v.isLeadByte = GbkLeadByte;
    uint8_t* piece = nullptr;
    if (content) {
        v.piece = Piece;
        v.digest = check;
        // An odd piece size of exactly this many heap bytes: one byte over shows.
        piece = static_cast<uint8_t*>(std::malloc(4099));
        v.pieceBuffer = piece;
        v.pieceSize = 4099;
    }
    uint32_t packageLen = 0;
    int ok = core_PackageLength(&v, 1, size, 0, &packageLen, error) &&
             core_WalkPackage(&src, 0, packageLen, &v, error);
    std::free(piece);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact copy on the heap: a read past the package's end is an overflow.
    uint8_t* bytes = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    std::memcpy(bytes, data, size);

    Seen full, skim;
    PackDigestCheck check = {};
    uint32_t fullError = 0, skimError = 0;
    int fullOk = Walk(bytes, size, true, &full, &check, &fullError);
    int skimOk = Walk(bytes, size, false, &skim, nullptr, &skimError);

    // Seeking over the content finds the same records; only the digest check can fail more.
    if (fullOk) {
        if (!skimOk || full.records != skim.records || full.got != full.expected) std::abort();
        // The reported digest is that of the bytes before the end record (all of them without).
        if (check.endOffset > size) std::abort();
        PayloadDigest d;
        core_DigestBegin(&d);
        core_DigestUpdate(&d, bytes, check.endOffset);
        DigestValue blake3, computed;
        core_DigestValue(&d, kDigestBlake3, &blake3);
        if (!core_DigestEqual(&blake3, &check.blake3)) std::abort();
        if (!core_DigestValue(&d, check.computed.algorithm, &computed) || !core_DigestEqual(&computed, &check.computed))
            std::abort();
        if (check.state == kDigestOk && !core_DigestEqual(&check.stored, &check.computed)) std::abort();
    } else if (fullError == kErrDigestMismatch) {
        if (!skimOk || skim.records != full.records) std::abort();
    } else if (fullError == kErrCompressed) {
        // Skimming reads a frame's header only: a frame that breaks later passes it, and the skim
        // goes on to what follows (where it may fail otherwise), never stopping before it.
        if (skim.records < full.records) std::abort();
    } else if (skimOk || skimError != fullError || skim.records != full.records) {
        std::abort();
    }
    std::free(bytes);
    return 0;
}
