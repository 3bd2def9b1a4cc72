// Compressed records: zstd frames decoded in pieces with every size checked against the record.
#include "core/frame_decode.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader: the header read before anything decodes
#include <zstd.h>

#include <cstdlib>

#include "core/package_walk.h"

namespace {

// Hands on what the buffer holds: never past what the frame declared.
uint32_t Flush(CoreFrame* f, CoreFrameSink sink, void* ctx)
{
    if (f->outPos == 0) return 0;
    if (f->outPos > f->declared - f->produced) return kErrCompressed;
    uint32_t len = f->outPos;
    f->outPos = 0;
    f->produced += len;
    return sink ? sink(ctx, f->out, len) : 0;
}

}  // namespace

int core_FrameContentLen(const uint8_t* head, uint32_t len, uint32_t* contentLen)
{
    ZSTD_frameHeader h;
    if (ZSTD_getFrameHeader(&h, head, len) != 0) return 0;  // damaged, or cut short
    if (h.frameType != ZSTD_frame || h.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN ||
        h.frameContentSize > 0xFFFFFFFFull || h.windowSize > (1ull << kZstdWindowLogMax))
        return 0;
    *contentLen = (uint32_t)h.frameContentSize;
    return 1;
}

int core_FrameBegin(CoreFrame* f, uint32_t contentLen)
{
    if (!f->dctx) {
        f->dctx = ZSTD_createDCtx();
        if (!f->dctx) return 0;
    }
    if (!f->out) {
        f->out = static_cast<uint8_t*>(std::malloc(kFrameOutPiece));
        if (!f->out) return 0;
    }
    ZSTD_DCtx_reset(f->dctx, ZSTD_reset_session_and_parameters);
    if (ZSTD_isError(ZSTD_DCtx_setParameter(f->dctx, ZSTD_d_windowLogMax, (int)kZstdWindowLogMax))) return 0;
    f->outPos = f->produced = 0;
    f->declared = contentLen;
    f->done = 0;
    return 1;
}

uint32_t core_FrameFeed(CoreFrame* f, const uint8_t* data, uint32_t len, CoreFrameSink sink, void* ctx)
{
    ZSTD_inBuffer in = {data, len, 0};
    for (;;) {
        // Stored bytes after the frame's end belong to no frame.
        if (f->done) return in.pos < in.size ? kErrCompressed : 0;
        ZSTD_outBuffer out = {f->out, kFrameOutPiece, f->outPos};
        const size_t inBefore = in.pos;
        size_t left = ZSTD_decompressStream(f->dctx, &out, &in);
        if (ZSTD_isError(left)) return kErrCompressed;
        const int moved = in.pos != inBefore || out.pos != f->outPos;
        f->outPos = (uint32_t)out.pos;
        if (left == 0) f->done = 1;
        if (f->outPos == kFrameOutPiece) {
            // A full buffer: the decoder may hold more of these bytes' output.
            if (uint32_t code = Flush(f, sink, ctx)) return code;
            continue;
        }
        // Room left and every byte taken: all they give is out; the next piece is needed.
        if (in.pos == in.size) return 0;
        if (!moved && !f->done) return kErrCompressed;
    }
}

uint32_t core_FrameEnd(CoreFrame* f, CoreFrameSink sink, void* ctx)
{
    if (!f->done) return kErrCompressed;  // the record ends inside the frame
    if (uint32_t code = Flush(f, sink, ctx)) return code;
    return f->produced == f->declared ? 0 : kErrCompressed;
}

void core_FrameRelease(CoreFrame* f)
{
    ZSTD_freeDCtx(f->dctx);
    f->dctx = nullptr;
    std::free(f->out);
    f->out = nullptr;
}
