// Host readers of frame bytes: the header, the frame walk over concatenated
// frames, the size calls, the trailers, and each block's chunk walk with the
// chunk prefixes it restores.
#include <cstring>

#include "core/format/chunk_walk.h"
#include "core/integrity/trailers.h"
#include "kernels/format_constants.h"
#include "korvane.h"
#include "tests/fuzz/fuzz_support.h"

using namespace kvn;
using namespace kvn::fuzz;

namespace {

// The size calls look only at the handle's presence.
int g_handle;

void checkHeader(std::span<const uint8_t> in) {
    const FrameHeader h = parseFrameHeader(in.data(), in.size());
    if (h.error != Error::None) return;
    check(h.header_length >= kFrameFixedHeaderSize, "a header shorter than its fixed part");
    check(validScGroupSize(h.sc_group_size) && frameChunkSize(h.sc_group_size) >= 1, "a bad chunk fraction read good");
    check(h.byte_plane_stride == 0 || validByteplaneStride(h.byte_plane_stride), "a bad byte-plane stride read good");
    const FrameLength length = frameTotalLength(in.data(), in.size());
    if (length.error != Error::None || length.length > in.size() || length.cut_off) return;
    const FrameStep step = nextFrame(in.data(), in.size(), 0);
    check(step.error == Error::None && step.length == length.length && step.raw_total == length.raw_total,
          "the frame walk and the frame length disagree");
}

void checkSizes(std::span<const uint8_t> in, const std::vector<InputFrame>& frames) {
    uint64_t total = 0;
    const KvnStatus status = kvnGetTotalDecompressedSize(&g_handle, in.data(), in.size(), &total);
    check(status == KVN_STATUS_SUCCESS || status == KVN_STATUS_CORRUPT_FRAME, "a size call failed otherwise");
    if (status == KVN_STATUS_SUCCESS && !in.empty()) check(!frames.empty() && total > 0, "a total size without a frame");
    // The one-frame call reads 64 bytes whatever the frame holds.
    uint8_t head[64] = {};
    std::memcpy(head, in.data(), std::min<size_t>(in.size(), sizeof head));
    uint64_t one = 0;
    const KvnStatus one_status = kvnGetDecompressedSize(&g_handle, head, &one);
    check(one_status == KVN_STATUS_SUCCESS || one_status == KVN_STATUS_CORRUPT_FRAME, "a size call failed otherwise");
}

void checkBlocks(const InputFrame& frame) {
    for (const FrameBlock& block : frameBlocks(frame)) {
        WalkedBlock w;
        if (!walkBlock(frame, block, 0, &w)) continue;
        const ChunkWalk& walk = w.walk;
        const uint64_t raw = block.header.raw_size, chunk_size = w.chunk_size;
        const std::span<const KvnChunkDesc> descs = w.descs;
        check(walk.chunk_count == (raw + chunk_size - 1) / chunk_size, "a walk with another chunk count");
        check(walk.chunks_per_item >= (walk.chunk_count ? 1u : 0u) && walk.chunks_per_item <= walk.chunk_count,
              "a work item of no chunks or more than the block holds");
        uint64_t covered = 0;
        for (uint32_t k = 0; k < walk.chunk_count; ++k) {
            const KvnChunkDesc& d = descs[k];
            check(d.dst_off == covered && d.decomp_size <= chunk_size, "chunks that do not tile the block");
            covered += d.decomp_size;
            if ((d.flags & KVN_CHUNK_KIND_MASK) != KVN_CHUNK_KIND_FILL)
                check(uint64_t(d.src_off) + d.comp_size <= block.payload.size(), "a chunk reaching past its payload");
        }
        check(covered == raw, "chunks that do not cover the block");
        if (walk.has_prefix_area)
            check(walk.prefix_area_off + KVN_CHUNK_PREFIX_BYTES * (walk.chunk_count - 1) <= block.payload.size(),
                  "a prefix area past the payload");
        Guarded out(raw, 0x5A);
        applyChunkPrefixes(block.payload, walk, raw, w.chunk_size, out.data());
        out.checkGuard("chunk prefixes written past the block");
    }
}

void checkTrailers(const InputFrame& frame) {
    const FrameHeader& h = frame.header;
    const MerkleTrailer merkle = readMerkleTrailer(h.has_merkle_root, h.sc_group_size, frame.bytes.data(), frame.bytes.size());
    check(merkle.error == Error::None, "a walked frame without the trailer its flags promise");
    if (merkle.present) check(merkle.leaf_size == frameChunkSize(h.sc_group_size), "a Merkle leaf of another size");
    const uint8_t content[1] = {0};
    const Error sum = checkContentChecksum(h.has_checksum, h.has_merkle_root, frame.bytes.data(), frame.bytes.size(),
                                           content, 0);
    check(sum == Error::None || sum == Error::ChecksumMismatch, "a checksum check failed otherwise");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> in(data, size);
    checkHeader(in);
    const std::vector<InputFrame> frames = inputFrames(in);
    checkSizes(in, frames);
    for (const InputFrame& frame : frames) {
        checkTrailers(frame);
        checkBlocks(frame);
    }
    return 0;
}
