// The package walker over a byte source, and the record bytes the writers store.
#include "core/package_walk.h"

#include <cstring>

#include "core/frame_decode.h"
#include "core/record_name.h"
#include "core/transform.h"

const char kPackageMagic[] = "^-=Vemlo=-^ Reed ";
const char kPackageEndName[] = "^Vemlo_end^";

namespace {

void PutLength(uint8_t* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i) out[i] = (uint8_t)(value >> (8 * i));
}

uint32_t GetLength(const uint8_t* raw)
{
    return (uint32_t)raw[0] | ((uint32_t)raw[1] << 8) | ((uint32_t)raw[2] << 16) | ((uint32_t)raw[3] << 24);
}

}  // namespace

void core_EncodeRecordHead(uint8_t* out, const char* name, uint32_t nameLen, uint32_t dataLen, int compressed)
{
    PutLength(out, compressed ? nameLen | kRecordZstd : nameLen);
    PutLength(out + 4, dataLen);
    std::memcpy(out + 8, name, nameLen);
    core_MixBytes(out + 8, nameLen);
}

uint32_t core_EncodeEndRecord(uint8_t* out, const DigestValue* digest)
{
    const uint32_t dataLen = 2u + digest->len;
    core_EncodeRecordHead(out, kPackageEndName, kPackageEndNameLen, dataLen);
    uint8_t* data = out + 8 + kPackageEndNameLen;
    core_EncodeEndData(data, digest);
    core_MixBytes(data, dataLen);
    return 8 + kPackageEndNameLen + dataLen;
}

namespace {

// One walk: the source, the visitor, and where the walk stands.
struct Walker {
    const CoreByteSource* src = nullptr;
    const CoreVisitor* v;
    uint32_t* error;
    PayloadDigest state;
    PayloadDigest* digest = nullptr;
    mutable int pending = 0;  // the hasher has a piece under way
    CoreFrame frame = {};     // the decoder of compressed records, made at the first one
    int decoding = 0;         // the record's content goes through it
    int muted = 0;            // a frame failed: the rest is only digested, nothing handed on
    ~Walker();
};

// Waits for the piece the hasher has under way: the digest takes every byte in order, and its
// stored buffer must not be read into again before.
void Settle(const Walker& w)
{
    if (!w.pending) return;
    w.v->hasher->wait(w.v->hasher->ctx);
    w.pending = 0;
}

// However the walk ends, nothing of it is read after it.
Walker::~Walker()
{
    Settle(*this);
    core_FrameRelease(&frame);
}

void Trace(const Walker& w, const char* format, uint32_t a = 0, uint32_t b = 0, uint32_t c = 0)
{
    if (w.v->trace) w.v->trace(w.v->ctx, format, a, b, c);
}

int Fail(const Walker& w, uint32_t code)
{
    *w.error = code;
    return 0;
}

// Reads up to len bytes: the count, or -1 when the read failed.
int32_t Read(const Walker& w, uint8_t* buffer, uint32_t len)
{
    int32_t got = w.src->read(w.src->ctx, buffer, len);
    return got < 0 || (uint32_t)got > len ? -1 : got;
}

int ReadAll(const Walker& w, uint8_t* buffer, uint32_t len) { return Read(w, buffer, len) == (int32_t)len; }

// A compressed record that does not decode: 169, or 0 when the walk goes on. A walk that checks
// the package against the digest its caller expects goes on to the end record, digesting and
// handing nothing on: a package that is not the one expected is 167 wherever its damage lies, and
// only the expected package whose frame still fails is 169.
uint32_t FrameFault(Walker& w, uint32_t code)
{
    if (code != kErrCompressed || !w.v->digest || !w.v->digest->expect) return code;
    if (!w.muted) Trace(w, "The record does not decode: the payload digest decides.");
    w.muted = 1;
    w.decoding = 0;
    return 0;
}

// Hands on a piece of a record's content as it is stored (unmixed): to the visitor, or through
// the decoder of a compressed record. 0 or an error number.
uint32_t Deliver(Walker& w, const uint8_t* data, uint32_t len)
{
    if (!w.v->piece || w.muted) return 0;
    if (w.decoding) return FrameFault(w, core_FrameFeed(&w.frame, data, len, w.v->piece, w.v->ctx));
    return w.v->piece(w.v->ctx, data, len);
}

// Reads len stored bytes and unmixes them, feeding them to the payload digest on the way when
// there is one. The digest takes a whole piece at once: BLAKE3 hashes many 1 KiB chunks side by
// side only when it is given many (16 KiB slices left it several times slower than in memory).
int ReadUnmix(const Walker& w, uint8_t* buffer, uint32_t len, PayloadDigest* digest)
{
    if (!ReadAll(w, buffer, len)) return 0;
    if (!digest) {
        core_MixBytes(buffer, len);
        return 1;
    }
    Settle(w);
    const uint32_t slice = 256 * 1024;
    for (uint32_t at = 0; at < len; at += slice) {
        uint32_t n = len - at < slice ? len - at : slice;
        core_DigestUpdate(digest, buffer + at, n);
        core_MixBytes(buffer + at, n);
    }
    return 1;
}

// The digests of everything read so far, as the check reports them: BLAKE3, and the algorithm
// the end record names (BLAKE3 when it names none that runs).
void TakeValues(const Walker& w, PackDigestCheck* check, uint8_t algorithm)
{
    Settle(w);
    core_DigestValue(w.digest, kDigestBlake3, &check->blake3);
    if (!core_DigestValue(w.digest, algorithm, &check->computed)) check->computed = check->blake3;
}

// The end record's content against the digest of everything before it, and against the digest
// the caller expects. 0 or 167.
uint32_t CheckEndRecord(const Walker& w, uint32_t dataLen, PackDigestCheck* check)
{
    TakeValues(w, check, kDigestBlake3);
    if (dataLen == 0) return check->expect ? kErrDigestMismatch : 0;  // nothing in it: no digest
    check->state = kDigestMismatch;
    uint8_t data[kEndDataMax];
    if (dataLen > kEndDataMax || !ReadUnmix(w, data, dataLen, nullptr) ||
        !core_DecodeEndData(data, dataLen, &check->stored))
        return kErrDigestMismatch;
    TakeValues(w, check, check->stored.algorithm);
    if (!core_DigestEqual(&check->stored, &check->computed)) return kErrDigestMismatch;
    check->state = kDigestOk;  // sound in itself; but perhaps not the package the caller expects
    if (check->expect && !core_DigestEqual(check->expect, &check->computed)) return kErrDigestMismatch;
    return 0;
}

int Walk(Walker& w, uint32_t offset, uint32_t packageLen)
{
    const CoreVisitor* v = w.v;
    if (!w.src->seek(w.src->ctx, offset)) return Fail(w, 159);

    PackDigestCheck* check = v->digest;
    if (check) {
        check->state = kDigestNone;
        std::memset(&check->stored, 0, sizeof check->stored);
        check->computed = check->blake3 = check->stored;
        check->endOffset = packageLen;
        // A caller that knows what to expect pays for that one algorithm only.
        core_DigestBegin(&w.state, check->expect ? check->expect->algorithm : 0);
        w.digest = &w.state;
    }

    uint8_t buffer[kPackagePiece];
    uint8_t* content = v->pieceBuffer && v->pieceSize ? v->pieceBuffer : buffer;
    const uint32_t pieceSize = v->pieceBuffer && v->pieceSize ? v->pieceSize : kPackagePiece;
    if (!ReadUnmix(w, buffer, kPackageMagicLen, w.digest)) return Fail(w, 159);
    if (std::memcmp(buffer, kPackageMagic, kPackageMagicLen) != 0) return Fail(w, 160);

    uint32_t total = kPackageMagicLen;  // dwCurTotalLen
    Trace(w, "dwCurTotalLen = %d", total);
    uint32_t index = 0;
    while (total < packageLen) {
        ++index;
        Trace(w, "unpack time = %d", index);
        const uint32_t recordStart = total;

        // The length fields and the name go into the digest only once the record is known not
        // to be the end record, which the digest does not cover.
        uint8_t fields[8] = {}, rawName[kPackageMaxNameLen];
        int32_t got = Read(w, fields, 4);
        if (got < 0) {
            Trace(w, "ReadFile failed with err. %d", w.src->lastError);
            return Fail(w, 161);
        }
        const int compressed = (GetLength(fields) & kRecordZstd) != 0;
        const uint32_t nameLen = GetLength(fields) & ~kRecordZstd;
        Trace(w, "dwBufDataLen = %d dwCurFileNameLen = %d sizeof(DWORD) = %d", (uint32_t)got, nameLen, 4);
        // dstLen < 260, nameLen <= 64: the sum cannot wrap.
        if (got < 4 || nameLen > kPackageMaxNameLen || nameLen + v->dstLen >= kPackagePathLimit)
            return Fail(w, 161);
        if (Read(w, fields + 4, 4) != 4) return Fail(w, 162);
        const uint32_t dataLen = GetLength(fields + 4);

        // Summed in 64 bits: a corrupt data length near 2^32 must not wrap round to a small total.
        uint64_t next = (uint64_t)total + 8u + nameLen + dataLen;
        Trace(w, "dwCurTotalLen = %d", (uint32_t)next);
        if (next > packageLen) return Fail(w, 163);
        total = (uint32_t)next;

        if (!ReadAll(w, buffer, nameLen)) return Fail(w, 164);
        std::memcpy(rawName, buffer, nameLen);
        core_MixBytes(buffer, nameLen);
        buffer[nameLen] = '\0';
        CoreRecord record;
        record.index = index;
        record.nameLen = nameLen;
        record.dataLen = dataLen;
        record.name = reinterpret_cast<const char*>(buffer);
        record.isEnd = nameLen == kPackageEndNameLen && std::memcmp(buffer, kPackageEndName, nameLen) == 0;
        record.compressed = compressed;
        record.contentLen = dataLen;
        if (compressed && record.isEnd) return Fail(w, 161);  // the end record is always stored
        if (w.digest && !record.isEnd) {
            Settle(w);
            core_DigestUpdate(w.digest, fields, sizeof fields);
            core_DigestUpdate(w.digest, rawName, nameLen);
        }
        // Checked before anything is opened: a name must never reach outside the destination.
        if (!record.isEnd && !core_IsSafeRecordName(record.name, nameLen, v->isLeadByte)) return Fail(w, 165);
        // A compressed record says how long its content is before anything of it is written.
        uint8_t head[kFrameHeadMax];
        const uint32_t headLen = compressed ? (dataLen < kFrameHeadMax ? dataLen : kFrameHeadMax) : 0;
        if (headLen && !ReadUnmix(w, head, headLen, w.digest)) return Fail(w, 166);
        if (compressed && !w.muted && !core_FrameContentLen(head, headLen, &record.contentLen)) {
            if (uint32_t code = FrameFault(w, kErrCompressed)) return Fail(w, code);
        }
        if (v->begin && !w.muted) {
            if (uint32_t code = v->begin(v->ctx, &record)) return Fail(w, code);
        }
        if (record.isEnd) {
            Trace(w, "The file is end.");
            if (check) {
                check->endOffset = recordStart;
                if (uint32_t code = CheckEndRecord(w, dataLen, check)) return Fail(w, code);
            }
            return w.muted ? Fail(w, kErrCompressed) : 1;
        }

        if (!v->piece && !w.digest) {
            // Nobody looks at the content: stepped over (the bound above keeps it in the source).
            if (!w.src->seek(w.src->ctx, (uint64_t)offset + total)) return Fail(w, 166);
            if (v->finish) v->finish(v->ctx);
            continue;
        }
        // The name is no longer needed: the buffer now carries the content piece by piece. A
        // large content goes through the hasher's buffers in turn: while it digests and unmixes
        // one piece beside the walk, the walk hands on the piece before and reads the next. Only
        // BLAKE3 is worth the hand-over.
        const CoreHasher* hasher = w.digest && (w.digest->running >> kDigestBlake3 & 1) && content != buffer &&
                                           dataLen >= kHashBesideMin
                                       ? v->hasher
                                       : nullptr;
        const uint8_t* ready = nullptr;  // a piece unmixed and not yet handed on
        uint32_t readyLen = 0;
        uint32_t copied = headLen;
        w.decoding = compressed && v->piece && !w.muted;
        if (w.decoding) {
            if (!core_FrameBegin(&w.frame, record.contentLen)) return Fail(w, kErrCompressed);
            if (uint32_t code = Deliver(w, head, headLen)) return Fail(w, code);
        }
        for (uint32_t turn = 0; copied < dataLen; ++turn) {
            uint32_t piece = dataLen - copied < pieceSize ? dataLen - copied : pieceSize;
            copied += piece;
            if (!hasher) {
                if (!ReadUnmix(w, content, piece, w.digest)) return Fail(w, 166);
                if (uint32_t code = Deliver(w, content, piece)) return Fail(w, code);
                continue;
            }
            uint8_t* stored = hasher->stored[turn & 1];
            uint8_t* plain = hasher->plain[turn & 1];
            if (!ReadAll(w, stored, piece)) return Fail(w, 166);
            Settle(w);  // the piece before, in the other buffers
            if (hasher->start(hasher->ctx, w.digest, stored, plain, piece)) {
                w.pending = 1;
            } else {
                core_DigestUpdate(w.digest, stored, piece);
                core_MixBytesInto(plain, stored, piece);
            }
            if (ready) {
                if (uint32_t code = Deliver(w, ready, readyLen)) return Fail(w, code);
            }
            ready = plain;
            readyLen = piece;
        }
        Settle(w);
        if (ready) {
            if (uint32_t code = Deliver(w, ready, readyLen)) return Fail(w, code);
        }
        if (w.decoding) {
            if (uint32_t code = FrameFault(w, core_FrameEnd(&w.frame, v->piece, v->ctx))) return Fail(w, code);
        }
        if (v->finish && !w.muted) v->finish(v->ctx);
    }
    if (check) {
        TakeValues(w, check, kDigestBlake3);
        // A setup bound to its package never takes one that has no end record to compare.
        if (check->expect) return Fail(w, kErrDigestMismatch);
    }
    return 1;
}

}  // namespace

int core_PackageLength(const CoreVisitor* visitor, int sized, uint64_t sourceSize, uint32_t offset,
                       uint32_t* packageLen, uint32_t* error)
{
    Walker w;
    w.v = visitor;
    w.error = error;
    const uint32_t sizeHigh = sized ? (uint32_t)(sourceSize >> 32) : 0;
    const uint32_t sizeLow = sized ? (uint32_t)sourceSize : 0;
    Trace(w, "dwSizeHigh = %d dwSizeLow = %d", sizeHigh, sizeLow);
    if (!sized || sizeHigh != 0 || offset >= sizeLow) return Fail(w, 155);
    *packageLen = sizeLow - offset;
    Trace(w, "dwSizeLow = dwSizeLow - dwOffset= %d", *packageLen);
    return 1;
}

int core_WalkPackage(const CoreByteSource* src, uint32_t offset, uint32_t packageLen, const CoreVisitor* visitor,
                     uint32_t* error)
{
    Walker w;
    w.src = src;
    w.v = visitor;
    w.error = error;
    return Walk(w, offset, packageLen);
}
