// Runs the encode kernels on one frame input through the kernel rig, with the
// geometry and arguments the body encoder gives them, next to the reference
// encoder's streams for the same input.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/encode/huffman_jobs.h"
#include "core/format/chunk_records.h"
#include "tests/kernels/rig/kernel_rig.h"
#include "tests/reference/reference_codec.h"

namespace kvn::test {

// The cut of a frame into chunks and sub-chunks (3 x max(sub, slot_floor)
// bytes of LZ output per sub-chunk), and the LZ groups of spc sub-chunks.
struct FrameGeometry {
    uint32_t chunk = 0, sub = 0, spc = 0, stride = 0;
    uint64_t chunks = 0;
    std::vector<CompressChunkDesc> descs;
    std::vector<uint32_t> chunk_first_sub;  // chunks + 1 entries
};

FrameGeometry planFrame(size_t len, float fraction, uint32_t slot_floor = 0);

// The first n bytes of a file (fewer when it is shorter; none when missing).
std::vector<uint8_t> fileHead(const std::string& path, size_t n);

struct LzRun {
    const char* kernel = "kvnLzEncodeGreedyKernel";
    ref::LzParams params;
    uint32_t warps = 0;  // 0: one per group (at most 8)
};

// The LZ stage on the rig: the LZ output area, the per-sub-chunk sizes and
// the rig buffer that holds the LZ output.
struct LzResult {
    std::string fault;
    std::vector<uint8_t> lz_output;
    std::vector<uint32_t> sizes;
    uint32_t input_buffer = 0, lz_buffer = 0;
};

LzResult runLzKernel(KernelRig& rig, std::span<const uint8_t> input, const FrameGeometry& frame, const LzRun& run);

// The reference streams of every sub-chunk of the frame, group by group.
std::vector<ref::SubChunkStreams> referenceStreams(std::span<const uint8_t> input, const FrameGeometry& frame,
                                                   const ref::LzParams& params);

// A sub-chunk's bytes in the LZ output area (its slot, cut at its size).
std::vector<uint8_t> slotBytes(const LzResult& lz, const FrameGeometry& frame, size_t i);

// The assembly stage as the body encoder drives it: records from the LZ
// sizes, measure, offsets, write, the compressed-or-raw choice per chunk and
// the frame assembly after `head` (frame header and block header).
struct AssembledFrame {
    std::string fault;
    std::vector<uint8_t> frame;          // head, chunk records, prefix table, end mark
    std::vector<uint32_t> record_sizes;  // the chunk-size table
    std::vector<uint32_t> measured;      // encoded sub-chunk sizes without header
};

// The Huffman kernels over one batch of stream descriptors whose symbols lie
// in `lz_buffer`: code tables (256 entries per descriptor), coded sizes and
// the output buffer (the sum of the capacities) as the kernels left them.
struct HuffBatchResult {
    std::string fault;
    std::vector<uint8_t> lengths;
    std::vector<uint32_t> codes;
    std::vector<uint32_t> sizes;
    std::vector<uint8_t> coded;
    uint32_t coded_buffer = 0;
};

HuffBatchResult runHuffBatch(KernelRig& rig, uint32_t lz_buffer, std::span<const HuffEncodeDesc> descs);

// The scan kernel over every sub-chunk's LZ output.
std::vector<LzStreamScan> runStreamScan(KernelRig& rig, const FrameGeometry& frame, const LzResult& lz,
                                        std::string& fault);

// The whole Huffman stage of a frame: literal, token and off16 batches,
// with the jobs the body encoder gives them.
struct HuffmanStage {
    std::string fault;
    std::vector<LzStreamScan> scans;
    std::vector<HuffEncodeDesc> descs[3];  // literals, tokens, off16 halves
    HuffBatchResult batches[3];
};

HuffmanStage runHuffmanStage(KernelRig& rig, const FrameGeometry& frame, const LzResult& lz);

// With a Huffman stage, the records carry its coded streams.
AssembledFrame assembleFrame(KernelRig& rig, std::span<const uint8_t> input, const FrameGeometry& frame,
                             const LzResult& lz, std::span<const uint8_t> head, const HuffmanStage* huffman = nullptr);

// Records of the sub-chunks with their LZ sizes (no coded streams, assembled
// offset 0).
std::vector<AssembleRecord> assembleRecords(const FrameGeometry& frame, std::span<const uint32_t> lz_sizes);

}  // namespace kvn::test
