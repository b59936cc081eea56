// The LZ decode kernels (general, raw, pipelined) and the sub-chunk scan on
// the host runtime, over the blocks of real or damaged frames as the host
// chunk walk describes them: every output byte, guard included, equals the
// reference decoder's, and every stream the scan lists lies in the payload
// and its scratch slot.
#include <string>

#include "core/format/chunk_walk.h"
#include "kernels/format_constants.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/kernels/decode/lz_batches.h"

using namespace kvn;
using namespace kvn::fuzz;
using dectest::Batch;

namespace {

constexpr uint32_t kGuardBytes = 96;
constexpr uint8_t kGuardFill = 0x5A;
// Scratch is three 128 KiB slots per sub-chunk: blocks with more are skipped.
constexpr uint32_t kMaxSubChunks = 8;
constexpr size_t kMaxFrames = 4;

// Two warps per block of 32 x 2; the pipelined kernel takes a block per work item.
uint32_t lzBlocks(uint32_t items, bool pipelined) { return pipelined ? items : (items + 1) / 2; }

std::vector<uint8_t> runGeneral(const Batch& b, const dectest::Scratch& s, uint32_t& status) {
    std::vector<uint8_t> out(size_t(b.out_len) + kGuardBytes, kGuardFill);
    const uint32_t count = uint32_t(b.descs.size());
    const uint32_t items = (count + b.chunks_per_item - 1) / b.chunks_per_item;
    const std::vector<uint32_t> starts = dectest::subChunkStarts(b);
    const std::vector<uint32_t> slots = dectest::fullSlotStarts(b);
    std::vector<uint8_t> scratch = s.literals;
    scratch.insert(scratch.end(), s.tokens.begin(), s.tokens.end());
    scratch.insert(scratch.end(), s.off16.begin(), s.off16.end());
    const uint64_t stride = s.literals.size();
    const uint8_t* dict = b.use_dictionary ? b.dictionary.data() : nullptr;
    status = 0;
    runKernel("kvnLzDecodeKernel", lzBlocks(items, false), b.payload.data(),
              reinterpret_cast<const uint32_t*>(b.descs.data()), out.data(), b.chunks_per_item, &count,
              KVN_SUBCHUNK_SIZE, static_cast<const uint8_t*>(scratch.data()), stride, starts.data(), slots.data(), dict,
              uint32_t(b.dictionary.size()), 0u, &status);
    return out;
}

std::vector<uint8_t> runRaw(const Batch& b, bool pipelined, uint32_t& status) {
    std::vector<uint8_t> out(size_t(b.out_len) + kGuardBytes, kGuardFill);
    const uint32_t count = uint32_t(b.descs.size());
    const uint32_t items = (count + b.chunks_per_item - 1) / b.chunks_per_item;
    const uint8_t* dict = b.use_dictionary ? b.dictionary.data() : nullptr;
    const uint32_t* descs = reinterpret_cast<const uint32_t*>(b.descs.data());
    status = 0;
    if (pipelined) {
        std::vector<uint32_t> leaves(count, 0xFFFFFFFFu);
        runKernel("kvnLzDecodeRawPipelinedKernel", lzBlocks(items, true), b.payload.data(), descs, out.data(),
                  b.chunks_per_item, &count, KVN_SUBCHUNK_SIZE, dict, uint32_t(b.dictionary.size()), leaves.data(),
                  &status);
    } else {
        runKernel("kvnLzDecodeRawKernel", lzBlocks(items, false), b.payload.data(), descs, out.data(),
                  b.chunks_per_item, &count, KVN_SUBCHUNK_SIZE, dict, uint32_t(b.dictionary.size()), &status);
    }
    return out;
}

// The scan lists of the block: each present stream inside the payload, its
// destination inside the scratch area of the sub-chunks.
void checkScan(const Batch& b) {
    const uint32_t slots = std::max(dectest::subChunkTotal(b), 1u);
    const uint32_t count = uint32_t(b.descs.size());
    const std::vector<uint32_t> starts = dectest::subChunkStarts(b);
    const std::vector<uint32_t> slot_starts = dectest::fullSlotStarts(b);
    const uint32_t payload_end = uint32_t(b.payload.size());
    std::vector<KvnScanHuffDesc> huff[4];
    std::vector<KvnScanRawDesc> raw[2];
    for (auto& l : huff) l.assign(slots, KvnScanHuffDesc{});
    for (auto& l : raw) l.assign(slots, KvnScanRawDesc{});
    runKernel("kvnScanParseKernel", (count + 255) / 256, b.payload.data(), payload_end,
              reinterpret_cast<const uint32_t*>(b.descs.data()), starts.data(), &count, KVN_SUBCHUNK_SIZE,
              reinterpret_cast<uint32_t*>(huff[0].data()), reinterpret_cast<uint32_t*>(huff[1].data()),
              reinterpret_cast<uint32_t*>(huff[2].data()), reinterpret_cast<uint32_t*>(huff[3].data()),
              reinterpret_cast<uint32_t*>(raw[0].data()), reinterpret_cast<uint32_t*>(raw[1].data()),
              slot_starts.data());
    const uint64_t area = uint64_t(slots) * KVN_SUBCHUNK_SIZE;
    for (const auto& list : huff)
        for (const KvnScanHuffDesc& d : list) {
            if (!d.present) continue;
            check(uint64_t(d.src_off) + d.comp_size <= payload_end, "a listed Huffman stream past the payload");
            check(d.dst_off < area, "a listed Huffman stream outside the scratch");
        }
    for (const auto& list : raw)
        for (const KvnScanRawDesc& d : list) {
            if (!d.present) continue;
            check(uint64_t(d.src_off) + d.len <= payload_end, "a listed off16 half past the payload");
            check(uint64_t(d.dst_off) + d.len <= area, "a listed off16 half outside the scratch");
        }
}

// The guard always holds; the bytes are the reference's whenever the kernel
// reports its output complete.
void checkOutput(const std::vector<uint8_t>& out, const std::vector<uint8_t>& expected, uint32_t status,
                 const char* kernel) {
    const size_t used = out.size() - kGuardBytes;
    checkSame(std::span(out).subspan(used), std::span(expected).subspan(used), std::string(kernel) + " wrote past the output");
    if (status & KVN_LZ_STATUS_UNWRITTEN) return;
    checkSame(out, expected, std::string(kernel) + " differs from the reference with a complete status");
}

void decodeBlock(const InputFrame& frame, const FrameBlock& block, std::span<const uint8_t> dict) {
    const uint64_t raw = block.header.raw_size;
    const uint32_t chunk_size = uint32_t(frameChunkSize(frame.header.sc_group_size));
    static std::vector<KvnChunkDesc> descs(KVN_MAX_CHUNKS_PER_BLOCK);
    ChunkWalk walk;
    if (walkChunks(block.payload, raw, chunk_size, frame.header.sc_group_size, block.dst_base, descs, &walk) !=
            Error::None ||
        walk.chunk_count == 0)
        return;
    Batch b;
    b.payload.assign(block.payload.begin(), block.payload.end());
    b.descs.assign(descs.begin(), descs.begin() + walk.chunk_count);
    b.chunks_per_item = walk.chunks_per_item;
    b.out_len = uint32_t(block.dst_base + raw);
    b.dictionary.assign(dict.begin(), dict.end());
    b.use_dictionary = !dict.empty();
    if (dectest::subChunkTotal(b) > kMaxSubChunks) return;

    const std::vector<uint8_t> expected = dectest::referenceOutput(b, kGuardBytes, kGuardFill);
    uint32_t status = 0;
    checkOutput(runGeneral(b, dectest::referenceScratch(b), status), expected, status, "the general LZ kernel");
    checkScan(b);
    if (dectest::usesHuffmanStreams(b)) return;
    checkOutput(runRaw(b, false, status), expected, status, "the raw LZ kernel");
    checkOutput(runRaw(b, true, status), expected, status, "the pipelined LZ kernel");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<InputFrame> frames = inputFrames({data, size});
    if (frames.size() > kMaxFrames) frames.resize(kMaxFrames);
    for (const InputFrame& frame : frames) {
        if (frame.raw_total > kMaxFuzzRaw) continue;
        const std::span<const uint8_t> dict = frameDictionary(frame.header);
        for (const FrameBlock& block : frameBlocks(frame))
            if (!block.header.stored) decodeBlock(frame, block, dict);
    }
    return 0;
}
