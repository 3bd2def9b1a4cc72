// The decoder of compressed records: one zstd frame, fed in pieces, decoded into a fixed buffer
// and handed on in pieces, never trusting what the frame says about itself.
#pragma once
#include <cstdint>

struct ZSTD_DCtx_s;

// The most bytes a frame's header takes: enough to learn its content size.
const uint32_t kFrameHeadMax = 18;
// What a frame decodes into before it is handed on.
const uint32_t kFrameOutPiece = 256 * 1024;

// Where decoded bytes go: 0, or an error number that ends the decode.
using CoreFrameSink = uint32_t (*)(void* ctx, const uint8_t* data, uint32_t len);

// One frame being decoded. Zeroed it holds nothing; core_FrameRelease frees what it took (safe
// twice), and one decoder serves one frame after another.
struct CoreFrame {
    ZSTD_DCtx_s* dctx;
    uint8_t* out;        // kFrameOutPiece bytes
    uint32_t outPos;     // decoded bytes not yet handed on
    uint32_t declared;   // the content size the frame's header declares
    uint32_t produced;   // decoded bytes handed on so far
    int done;            // the frame has ended
};

// Reads a frame's header from its first len bytes (the whole frame when shorter than
// kFrameHeadMax): 1 with *contentLen when it is a zstd frame that declares a content size below
// 4 GiB and needs a window of at most 2^kZstdWindowLogMax bytes; 0 otherwise. Pure.
int core_FrameContentLen(const uint8_t* head, uint32_t len, uint32_t* contentLen);
// Starts decoding a frame that declares contentLen bytes: 1, or 0 when no memory could be had.
int core_FrameBegin(CoreFrame* f, uint32_t contentLen);
// Decodes the next len bytes of the frame, handing each full kFrameOutPiece to sink: 0, or 169
// when the frame is damaged, would give more than it declared or has ended before these bytes,
// or what sink returned.
uint32_t core_FrameFeed(CoreFrame* f, const uint8_t* data, uint32_t len, CoreFrameSink sink, void* ctx);
// After the last stored byte: hands on the rest. 0, or 169 when the frame has not ended or gave
// fewer bytes than it declared, or what sink returned.
uint32_t core_FrameEnd(CoreFrame* f, CoreFrameSink sink, void* ctx);
void core_FrameRelease(CoreFrame* f);
