#include "pipeline/encode/body_encode.h"

#include "core/encode/level_table.h"
#include "core/format/frame_header.h"

namespace kvn {

WrittenBytes encodeBodyGpu(const BodyRequest& request, EncoderState& encoder) {
    LzStage stage;
    stage.geometry = frameGeometry(request.len, request.sc_group_size);
    if (storedFrame(stage.geometry)) {
        request.dst[kFrameFlagsOffset] &= static_cast<uint8_t>(~kFrameChunkTable);
        return writeStoredBody(request.dst, request.dst_cap, request.header_len, request.src, request.len);
    }
    if (const Error e = runLzStage(request, encoder, stage); e != Error::None) return {0, e};
    HuffmanResults huffman;
    if (levelParams(request.level).entropy_coded) runHuffmanStage(encoder, stage.descs.size(), huffman);
    return assembleBody(request, encoder, stage, huffman);
}

}  // namespace kvn
