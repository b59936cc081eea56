#include "core/encode/chunk_descriptors.h"

namespace kvn {

std::vector<CompressChunkDesc> buildChunkDescriptors(const FrameGeometry& g, uint64_t len) {
    std::vector<CompressChunkDesc> descs;
    descs.reserve(g.sub_chunks);
    const uint32_t stride = static_cast<uint32_t>(kLzSlotFactor * g.sub);
    for (uint64_t chunk_begin = 0; chunk_begin < len; chunk_begin += g.chunk) {
        const uint64_t chunk_len = len - chunk_begin < g.chunk ? len - chunk_begin : g.chunk;
        for (uint64_t at = 0; at < chunk_len; at += g.sub) {
            const uint64_t sub_len = chunk_len - at < g.sub ? chunk_len - at : g.sub;
            const uint32_t index = static_cast<uint32_t>(descs.size());
            descs.push_back({static_cast<uint32_t>(chunk_begin + at), static_cast<uint32_t>(sub_len),
                             index * stride, stride, index == 0 ? 1u : 0u});
        }
    }
    return descs;
}

}  // namespace kvn
