#include "pipeline/encode/body_encode.h"

#include "core/encode/level_table.h"
#include "core/format/frame_header.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/frame_source.h"
#include "pipeline/encode/phase_clock.h"

namespace kvn {

namespace {

// The body as one stored block; a stored frame has no chunk table.
WrittenBytes storedBody(const BodyRequest& request, const EncoderState& encoder) {
    request.dst[kFrameFlagsOffset] &= static_cast<uint8_t>(~kFrameChunkTable);
    return writeStoredSource(request.dst, request.dst_cap, request.header_len, request.src, request.len, encoder);
}

}  // namespace

WrittenBytes encodeBodyGpu(const BodyRequest& request, EncoderState& encoder) {
    LzStage stage;
    stage.geometry = frameGeometry(request.len, request.sc_group_size);
    if (storedFrame(stage.geometry, maxCompressedChunks())) return storedBody(request, encoder);
    uint64_t mark = phaseClockNow();
    if (const Error e = runLzStage(request, encoder, stage); e != Error::None) return {0, e};
    mark = addPhaseTime(EncodePhase::Lz, mark);
    HuffmanResults huffman;
    if (levelParams(request.level).entropy_coded) runHuffmanStage(encoder, stage.descs.size(), huffman);
    mark = addPhaseTime(EncodePhase::Huffman, mark);
    const WrittenBytes body = assembleBody(request, encoder, stage, huffman);
    addPhaseTime(EncodePhase::Assembly, mark);
    // Small chunks over bytes that do not shrink can cost more than the
    // compress bound allows for: a destination of the bound then takes the
    // stored form instead.
    if (body.error == Error::DestinationTooSmall) return storedBody(request, encoder);
    return body;
}

}  // namespace kvn
