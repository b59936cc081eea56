#include "pipeline/encode/frame_trailers.h"

#include <algorithm>
#include <cstring>

#include "core/format/frame_header.h"
#include "core/integrity/merkle.h"
#include "core/integrity/xxh32.h"
#include "pipeline/encode/device_merkle.h"
#include "pipeline/encode/frame_source.h"

namespace kvn {
namespace {

// The leaf size is the chunk size of the header just written.
uint64_t merkleLeafSize(const uint8_t* frame, uint64_t written, const EncodeParams& params) {
    const FrameHeader header = parseFrameHeader(frame, written);
    return frameChunkSize(header.error == Error::None ? header.sc_group_size : chunkFraction(params));
}

}  // namespace

WrittenBytes appendTrailers(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, uint64_t written,
                            const EncodeParams& params, EncoderState& encoder) {
    uint64_t o = written;
    // The body appended the root already: the checksum goes before it.
    const bool root_appended = params.merkle && encoder.merkle_root_appended;
    if (params.checksum) {
        if (o + 4 > cap) return {0, Error::DestinationTooSmall};
        const HostSource bytes = hostSourceBytes(src, len, encoder);
        if (bytes.error != Error::None) return {0, bytes.error};
        uint64_t at = o;
        if (root_appended) {
            at = o - kMerkleRootBytes;
            std::memmove(dst + o, dst + at, kMerkleRootBytes);
            // The device destination holds the root where the checksum goes now.
            encoder.frame_bytes_on_device = std::min(encoder.frame_bytes_on_device, at);
        }
        storeLe32(dst + at, xxh32(bytes.bytes, len));
        o += 4;
    }
    if (params.merkle && !root_appended) {
        if (o + 4 > cap) return {0, Error::DestinationTooSmall};
        uint32_t root = kEmptyMerkleRoot;
        if (len != 0 && encoder.source_merkle_root_present) {
            root = encoder.source_merkle_root;
        } else if (len != 0) {
            const uint64_t leaf_size = merkleLeafSize(dst, o, params);
            std::optional<uint32_t> device_root;
            if (deviceMerkleAvailable()) {
                device_root = deviceLeavesRoot(encoder, len, leaf_size);
                if (!device_root && !encoder.merkle_leaves_valid) device_root = deviceMerkleRoot(src, len, leaf_size, encoder);
            }
            if (device_root) {
                root = *device_root;
            } else {
                const HostSource bytes = hostSourceBytes(src, len, encoder);
                if (bytes.error != Error::None) return {0, bytes.error};
                const MerkleRoot r = chunkMerkleRoot(bytes.bytes, len, leaf_size);
                if (r.error != Error::None) return {0, Error::OutOfMemory};
                root = r.root;
            }
        }
        storeLe32(dst + o, root);
        o += 4;
    }
    return {o, Error::None};
}

}  // namespace kvn
