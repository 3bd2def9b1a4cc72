// vpack's encoder of compressed records: one file into one zstd frame that declares its content
// size and needs a window of at most 8 MiB (what the stub's decoder takes).
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_c_useRowMatchFinder
#include <zstd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/transform.h"
#include "tools/vpack.h"

namespace {

const size_t kChunk = 1024 * 1024;

// The compression context of one file, freed on every path.
struct Encoder {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ~Encoder() { ZSTD_freeCCtx(c); }
};

}  // namespace

unsigned long VpackCompressFile(const VpackInput& in, int level, VpackFile* spool, uint64_t* frameLen,
                                std::string* what, const std::atomic<bool>* stop)
{
    VpackFile f;
    if (unsigned long err = VpackOpenInput(in.path, &f, what)) return err;
    Encoder e;
    if (!e.c) {
        *what = in.path + ": no memory to compress it";
        return 157;
    }
    ZSTD_CCtx_setParameter(e.c, ZSTD_c_compressionLevel, level);
    // The stub's decoder takes windows of at most 2^23 bytes; more would be refused as 169.
    ZSTD_CCtx_setParameter(e.c, ZSTD_c_windowLog, (int)kZstdWindowLogMax);
    ZSTD_CCtx_setParameter(e.c, ZSTD_c_contentSizeFlag, 1);
    ZSTD_CCtx_setParameter(e.c, ZSTD_c_checksumFlag, 0);  // the payload digest covers the stored bytes
    // Left to itself, zstd picks its match finder for a small file by whether the build has SSE2,
    // so the 32-bit vpack.exe would write other bytes than the 64-bit and Linux builds: always the
    // row-based one, for the same bytes from every build.
    ZSTD_CCtx_setParameter(e.c, ZSTD_c_useRowMatchFinder, ZSTD_ps_enable);
    // No workers of zstd's own: with them a file beyond one job (32 MiB) becomes other bytes than
    // without, and Debian's static library, which the Linux build links, has none (it ignores the
    // setting), so the builds would differ. The cores are used a file each (vpack_ahead.cpp).
    ZSTD_CCtx_setParameter(e.c, ZSTD_c_nbWorkers, 0);
    ZSTD_CCtx_setPledgedSrcSize(e.c, in.size);
    std::vector<uint8_t> input(kChunk), output(ZSTD_CStreamOutSize());
    uint64_t read = 0;
    *frameLen = 0;
    for (;;) {
        if (stop && stop->load()) {
            *what = in.path + ": stopped";
            return 157;
        }
        size_t want = in.size - read < kChunk ? (size_t)(in.size - read) : kChunk, got = 0;
        if (!VpackRead(&f, input.data(), want, &got) || got != want) {
            *what = in.path + ": it changed size while packed";
            return 166;
        }
        read += got;
        const bool last = read == in.size;
        ZSTD_inBuffer src = {input.data(), got, 0};
        for (;;) {
            ZSTD_outBuffer dst = {output.data(), output.size(), 0};
            size_t left = ZSTD_compressStream2(e.c, &dst, &src, last ? ZSTD_e_end : ZSTD_e_continue);
            if (ZSTD_isError(left)) {
                // The file gave other bytes than it had when measured, or the library failed.
                *what = in.path + ": " + ZSTD_getErrorName(left);
                return 166;
            }
            if (spool && !VpackWrite(spool, output.data(), dst.pos)) {
                *what = in.path + ": a temporary beside the output: " + VpackSystemReason();
                return 157;
            }
            *frameLen += dst.pos;
            if (last ? left == 0 : src.pos == src.size) break;
        }
        if (last) break;
    }
    size_t more = 0;
    if (!VpackRead(&f, input.data(), 1, &more) || more != 0) {
        *what = in.path + ": it changed size while packed";
        return 166;
    }
    return 0;
}

int VpackCompressionLevel(const char* command, const VpackArgs& args, bool byDefault, int* level)
{
    const bool asked = args.Has("--compress") || args.Has("--level");
    if (args.Has("--store") && asked) return VpackUsage(command);
    *level = (byDefault ? !args.Has("--store") : asked) ? kVpackDefaultLevel : 0;
    if (const char* text = args.Value("--level")) {
        char* end = nullptr;
        long n = std::strtol(text, &end, 10);
        // zstd's levels without its "ultra" ones, which would want windows beyond the stub's.
        if (!*text || *end || n < 1 || n > 19) return VpackUsage(command);
        *level = (int)n;
    }
    return 0;
}

namespace {

// One record of the package being repacked: its content goes into a temporary, which becomes a
// record of the output when the record is whole.
struct Repacking {
    VpackPackageWriter* w;
    std::unique_ptr<VpackOutput> spool;
    VpackInput in;
    unsigned long err = 0;
    std::string what;
};

uint32_t RepackBegin(void* ctx, const CoreRecord* record)
{
    Repacking* r = static_cast<Repacking*>(ctx);
    if (r->err || record->isEnd) return (uint32_t)r->err;
    r->spool.reset(new VpackOutput);
    if ((r->err = r->spool->Open(r->w->out->target, &r->what))) return (uint32_t)r->err;
    r->in = VpackInput();
    r->in.path = r->spool->tmp;
    r->in.stored.assign(record->name, record->nameLen);
    return 0;
}

uint32_t RepackPiece(void* ctx, const uint8_t* data, uint32_t len)
{
    Repacking* r = static_cast<Repacking*>(ctx);
    if (r->spool->Put(data, len, &r->what)) return r->err = 157;
    r->in.size += len;
    return 0;
}

void RepackFinish(void* ctx)
{
    Repacking* r = static_cast<Repacking*>(ctx);
    if (r->err || !r->spool) return;
    r->spool->file.Close();  // read again by name (on Windows it is held without sharing)
    r->err = r->w->Record(r->in, &r->what);
    r->spool.reset();
}

}  // namespace

unsigned long VpackPackageWriter::Repack(const std::string& path, const DigestValue& expected, std::string* what)
{
    PackDigestCheck check = {};
    Repacking r;
    r.w = this;
    CoreVisitor v = {};
    v.begin = RepackBegin;
    v.piece = RepackPiece;
    v.finish = RepackFinish;
    v.ctx = &r;
    v.digest = &check;
    unsigned long err = VpackWalk(path, 0, v, what);
    if (r.err) {
        *what = r.what;
        return r.err;
    }
    // The records repacked are those of the package that was checked, or it changed in between.
    if (!err && !core_DigestEqual(&check.blake3, &expected)) {
        *what = path + ": it changed while read";
        return 166;
    }
    return err;
}
