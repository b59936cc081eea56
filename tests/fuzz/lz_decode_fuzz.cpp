// The block decode kernels on the host runtime, over the blocks of real or
// damaged frames as the host chunk walk describes them: the LZ kernels
// (general, raw, pipelined) from the reference's decoded streams, and the
// whole device road (sub-chunk scan, compaction, both merges, Huffman tables
// and decode, off16 gather, general LZ). Nothing is written past any output,
// a decode that reports its output complete equals the reference decoder
// when one work item decodes the chunks in order, and a frame whose checksum
// accepts the device road's bytes holds the reference decoder's.
#include <optional>
#include <string>

#include "core/format/chunk_walk.h"
#include "core/integrity/merkle.h"
#include "core/integrity/trailers.h"
#include "kernels/format_constants.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/kernels/decode/lz_batches.h"
#include "tests/reference/ref_decoder.h"

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

template <class T>
uint32_t* words(T* records) {
    return reinterpret_cast<uint32_t*>(records);
}
template <class T>
const uint32_t* words(const T* records) {
    return reinterpret_cast<const uint32_t*>(records);
}

// The decoded-stream scratch as the decode kernels build it: the sub-chunk
// scan lists each stream (inside the payload and the scratch), compaction
// keeps the present ones in order, the merge concatenates the four Huffman
// lists, the Huffman kernels decode them and the gather copies the stored
// off16 halves. Every output is guard-filled.
dectest::Scratch deviceScratch(const Batch& b) {
    const uint32_t slots = std::max(dectest::subChunkTotal(b), 1u);
    const uint32_t count = uint32_t(b.descs.size());
    const std::vector<uint32_t> starts = dectest::subChunkStarts(b);
    const std::vector<uint32_t> slot_starts = dectest::fullSlotStarts(b);
    const uint32_t payload_end = uint32_t(b.payload.size());
    const uint8_t* payload = b.payload.data();
    std::vector<KvnScanHuffDesc> huff[4];
    std::vector<KvnScanRawDesc> raw[2];
    for (auto& l : huff) l.assign(slots, KvnScanHuffDesc{});
    for (auto& l : raw) l.assign(slots, KvnScanRawDesc{});
    runKernel("kvnScanParseKernel", (count + 255) / 256, payload, payload_end, words(b.descs.data()), starts.data(),
              &count, KVN_SUBCHUNK_SIZE, words(huff[0].data()), words(huff[1].data()), words(huff[2].data()),
              words(huff[3].data()), words(raw[0].data()), words(raw[1].data()), slot_starts.data());
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

    // Compaction: the counts as consecutive words (host and CUDA form).
    Guarded compact[4] = {{20 * size_t(slots), kGuardFill}, {20 * size_t(slots), kGuardFill},
                          {20 * size_t(slots), kGuardFill}, {20 * size_t(slots), kGuardFill}};
    Guarded raw_list(24 * size_t(slots), kGuardFill);
    std::vector<uint32_t> counters(KVN_DESC_COUNTER_BYTES / 4, 0);
    runKernel("kvnCompactAllDescsKernel", 5, static_cast<const uint32_t*>(words(huff[0].data())),
              static_cast<const uint32_t*>(words(huff[1].data())), static_cast<const uint32_t*>(words(huff[2].data())),
              static_cast<const uint32_t*>(words(huff[3].data())), static_cast<const uint32_t*>(words(raw[0].data())),
              static_cast<const uint32_t*>(words(raw[1].data())), &slots, words(compact[0].data()),
              words(compact[1].data()), words(compact[2].data()), words(compact[3].data()), words(raw_list.data()),
              counters.data());
    std::vector<KvnHuffDecChunkDesc> merged_expected;
    for (int l = 0; l < 4; ++l) {
        compact[l].checkGuard("the compaction wrote past a Huffman list");
        const auto* got = reinterpret_cast<const KvnHuffDecChunkDesc*>(compact[l].data());
        uint32_t n = 0;
        for (const KvnScanHuffDesc& d : huff[l]) {
            if (!d.present) continue;
            const KvnHuffDecChunkDesc& g = got[n];
            check(g.src_off == d.src_off && g.comp_size == d.comp_size && g.dst_off == d.dst_off &&
                      g.decomp_size == d.decomp_size && g.lut_off == n * KVN_HUFF_LUT_ENTRIES,
                  "the compaction lost or moved a Huffman stream");
            merged_expected.push_back(g);
            merged_expected.back().lut_off = uint32_t(merged_expected.size() - 1) * KVN_HUFF_LUT_ENTRIES;
            ++n;
        }
        check(counters[l] == n, "the compaction counted another number of Huffman streams");
    }
    raw_list.checkGuard("the compaction wrote past the off16 list");
    uint32_t halves = 0;
    const auto* raw_got = reinterpret_cast<const KvnRawOff16Desc*>(raw_list.data());
    for (uint32_t g = 0; g < slots; ++g)
        for (int h = 0; h < 2; ++h) {
            const KvnScanRawDesc& d = raw[h][g];
            if (!d.present) continue;
            check(raw_got[halves].src_off == d.src_off && raw_got[halves].len == d.len && raw_got[halves].dst_off == d.dst_off,
                  "the compaction lost or moved an off16 half");
            ++halves;
        }
    check(counters[KVN_DESC_COUNTER_RAW] == halves, "the compaction counted another number of off16 halves");

    // Both merge forms concatenate the lists with a table slot per stream.
    const uint32_t streams = uint32_t(merged_expected.size());
    const std::span<const uint8_t> expected_bytes(reinterpret_cast<const uint8_t*>(merged_expected.data()),
                                                  20 * size_t(streams));
    std::vector<uint8_t> merged_bytes;
    for (const char* kernel : {"kvnMergeHuffDescsKernel", "kvnMergeHuffDescsParKernel"}) {
        Guarded merged(20 * size_t(streams), kGuardFill), merged_count(4, kGuardFill);
        runKernel(kernel, std::string_view(kernel) == "kvnMergeHuffDescsKernel" ? 1u : 4u,
                  static_cast<const uint32_t*>(words(compact[0].data())), static_cast<const uint32_t*>(words(compact[1].data())),
                  static_cast<const uint32_t*>(words(compact[2].data())), static_cast<const uint32_t*>(words(compact[3].data())),
                  static_cast<const uint32_t*>(&counters[0]), static_cast<const uint32_t*>(&counters[1]),
                  static_cast<const uint32_t*>(&counters[2]), static_cast<const uint32_t*>(&counters[3]),
                  words(merged.data()), words(merged_count.data()));
        merged.checkGuard("a merge wrote past its list");
        merged_count.checkGuard("a merge wrote past its count");
        checkSame(merged.used(), expected_bytes, std::string(kernel) + " differs from the lists it merges");
        check(*words(merged_count.data()) == streams, "a merge counted another number of streams");
        merged_bytes.assign(merged.used().begin(), merged.used().end());
    }

    // Tables, Huffman decode and the off16 gather into the three areas.
    // A Huffman lane that meets an invalid table slot stops and leaves its
    // other symbols as they were: zeros, as in the reference's parsed streams.
    constexpr uint8_t kScratchFill = 0;
    Guarded luts(4 * size_t(KVN_HUFF_LUT_ENTRIES) * streams, kGuardFill);
    Guarded areas[3] = {{area, kScratchFill, kGuardFill}, {area, kScratchFill, kGuardFill},
                        {area, kScratchFill, kGuardFill}};
    const uint32_t* merged = words(merged_bytes.data());
    if (streams) {
        runKernel("kvnHuffBuildLutKernel", streams + 2, payload, merged, words(luts.data()), &streams, 0u);
        runKernel("kvnHuffDecode4StreamKernel", streams + 2, payload, merged, static_cast<const uint32_t*>(words(luts.data())),
                  &streams, static_cast<const uint32_t*>(counters.data()), areas[0].data(), areas[1].data(),
                  areas[2].data(), 0u, 0u);
    }
    luts.checkGuard("the table build wrote past the tables");
    if (halves)
        runKernel("kvnGatherRawOff16Kernel", slots, payload, payload_end, areas[2].data(),
                  static_cast<const uint32_t*>(words(raw_list.data())), &counters[KVN_DESC_COUNTER_RAW], 0u, 0u);
    for (const Guarded& a : areas) a.checkGuard("a Huffman decode or the gather wrote past the scratch");
    dectest::Scratch scratch;
    scratch.literals.assign(areas[0].used().begin(), areas[0].used().end());
    scratch.tokens.assign(areas[1].used().begin(), areas[1].used().end());
    scratch.off16.assign(areas[2].used().begin(), areas[2].used().end());
    return scratch;
}

// The guard always holds. With one work item walking every chunk in order,
// as the reference does, a decode that reports its output complete equals the
// reference; with the frame's own split, chunks decoded side by side may read
// each other's output through damaged matches, and only the frame's checksum
// can tell.
void checkOutput(const std::vector<uint8_t>& out, const std::vector<uint8_t>& expected, uint32_t status,
                 bool in_order, const char* kernel) {
    const size_t used = out.size() - kGuardBytes;
    checkSame(std::span(out).subspan(used), std::span(expected).subspan(used), std::string(kernel) + " wrote past the output");
    if (!in_order || (status & KVN_LZ_STATUS_UNWRITTEN)) return;
    checkSame(out, expected, std::string(kernel) + " differs from the reference with a complete status");
}

// Every kernel over the block, both ways; returns the output of the device
// road with the frame's own split, or nothing when the block is not decoded.
std::optional<std::vector<uint8_t>> decodeBlock(const InputFrame& frame, const FrameBlock& block,
                                                std::span<const uint8_t> dict, ChunkWalk* walk) {
    WalkedBlock w;
    if (!walkBlock(frame, block, block.dst_base, &w) || w.descs.empty()) return std::nullopt;
    *walk = w.walk;
    const uint64_t raw = block.header.raw_size;
    Batch b;
    b.payload.assign(block.payload.begin(), block.payload.end());
    b.descs.assign(w.descs.begin(), w.descs.end());
    b.out_len = uint32_t(block.dst_base + raw);
    b.dictionary.assign(dict.begin(), dict.end());
    b.use_dictionary = !dict.empty();
    if (dectest::subChunkTotal(b) > kMaxSubChunks) return std::nullopt;

    const std::vector<uint8_t> expected = dectest::referenceOutput(b, kGuardBytes, kGuardFill);
    const dectest::Scratch reference_scratch = dectest::referenceScratch(b);
    const bool huffman = dectest::usesHuffmanStreams(b);
    std::vector<uint8_t> road;
    for (const bool in_order : {true, false}) {
        b.chunks_per_item = in_order ? walk->chunk_count : walk->chunks_per_item;
        uint32_t status = 0;
        checkOutput(runGeneral(b, reference_scratch, status), expected, status, in_order, "the general LZ kernel");
        // The whole device road: scratch from the scan, descriptor and Huffman kernels.
        road = runGeneral(b, deviceScratch(b), status);
        checkOutput(road, expected, status, in_order, "the decode kernels");
        if (huffman) continue;
        checkOutput(runRaw(b, false, status), expected, status, in_order, "the raw LZ kernel");
        checkOutput(runRaw(b, true, status), expected, status, in_order, "the pipelined LZ kernel");
    }
    return road;
}

// The frame as the device road decodes it (stored blocks copied, chunk
// prefixes restored); when its checksum (and Merkle root) accept the bytes,
// they are the reference decoder's.
void checkFrame(const InputFrame& frame) {
    const FrameHeader& h = frame.header;
    const std::span<const uint8_t> dict = frameDictionary(h);
    const uint32_t chunk_size = uint32_t(frameChunkSize(h.sc_group_size));
    std::vector<uint8_t> out(frame.raw_total, kGuardFill);
    bool whole = true;
    for (const FrameBlock& block : frameBlocks(frame)) {
        const uint64_t raw = block.header.raw_size;
        if (block.header.stored) {
            std::copy_n(block.payload.begin(), std::min<uint64_t>(raw, block.payload.size()), out.begin() + block.dst_base);
            whole = whole && block.payload.size() >= raw;
            continue;
        }
        ChunkWalk walk;
        const std::optional<std::vector<uint8_t>> road = decodeBlock(frame, block, dict, &walk);
        if (!road) {
            whole = false;
            continue;
        }
        std::copy_n(road->begin() + block.dst_base, raw, out.begin() + block.dst_base);
        applyChunkPrefixes(block.payload, walk, raw, chunk_size, out.data() + block.dst_base);
    }
    if (!whole || !h.has_checksum || (h.has_content_size && h.content_size != out.size())) return;
    if (checkContentChecksum(true, h.has_merkle_root, frame.bytes.data(), frame.bytes.size(), out.data(), out.size()) !=
        Error::None)
        return;
    // A Merkle root the bytes do not match refuses the frame as well.
    const MerkleTrailer merkle = readMerkleTrailer(h.has_merkle_root, h.sc_group_size, frame.bytes.data(), frame.bytes.size());
    if (merkle.present && chunkMerkleRoot(out.data(), out.size(), merkle.leaf_size, 1).root != merkle.stored_root) return;
    const ref::DecodedFrame reference = ref::decodeFrame(frame.bytes, {dict.data(), uint32_t(dict.size())});
    checkSame(out, reference.bytes, "a frame whose checksum passes differs from the reference decode");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<InputFrame> frames = inputFrames({data, size});
    if (frames.size() > kMaxFrames) frames.resize(kMaxFrames);
    for (const InputFrame& frame : frames) {
        if (frame.raw_total > kMaxFuzzRaw) continue;
        checkFrame(frame);
    }
    return 0;
}
