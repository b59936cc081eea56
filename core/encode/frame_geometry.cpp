#include "core/encode/frame_geometry.h"

#include "core/format/frame_header.h"
#include "core/format/size_math.h"

namespace kvn {

FrameGeometry frameGeometry(uint64_t len, float sc_group_size) {
    FrameGeometry g{};
    g.chunk = frameChunkSize(sc_group_size);
    g.chunks = ceilDiv(len, g.chunk);
    g.sub = g.chunk < kMaxSubChunkSize ? g.chunk : kMaxSubChunkSize;
    const uint64_t full_chunk_subs = ceilDiv(g.chunk, g.sub);
    const uint64_t last_len = len - (g.chunks - 1) * g.chunk;
    g.sub_chunks = (g.chunks - 1) * full_chunk_subs + ceilDiv(last_len, g.sub);
    // A fraction above 1 makes one match window of trunc(fraction) whole
    // chunks: the chunks a decoder works through in order in one work item.
    // A window that ended inside a chunk could refer back into chunks the
    // decoder handles in another item.
    const uint64_t unclamped = static_cast<uint64_t>(sc_group_size * static_cast<float>(kMaxChunkSize));
    const uint64_t whole_chunks = unclamped / kMaxChunkSize;
    g.subs_per_group = whole_chunks > 1 ? whole_chunks * full_chunk_subs : full_chunk_subs;
    return g;
}

}  // namespace kvn
