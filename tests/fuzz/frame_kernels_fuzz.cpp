// The frame-walk kernels (one-thread walk, mega walk, chunk-table walk), the
// sub-chunk numbering kernel and the integrity kernels (leaf hashes, combine,
// Merkle verdict, chunk-prefix apply) on the host runtime, over real or
// damaged frames: every output guard-filled, and each result equal to what the
// host readers (frame walk, chunk walk, Merkle root, chunk prefixes) make of
// the same bytes whenever the kernel reports success.
#include <cstdio>
#include <cstring>

#include "core/format/byte_order.h"
#include "core/format/chunk_walk.h"
#include "core/integrity/merkle.h"
#include "core/integrity/trailers.h"
#include "kernels/format_constants.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/reference/ref_decoder.h"

using namespace kvn;
using namespace kvn::fuzz;

namespace {

constexpr uint32_t kCapacity = 512;  // descriptors the walks may write
constexpr uint32_t kMaxLeaves = 4096;
constexpr uint8_t kFill = 0xEE;
// What the verdict kernel writes in its first word.
constexpr uint32_t kVerdictMatch = 1, kVerdictMismatch = 2;

// Device buffers hold whole words: the kernels' view of a byte buffer.
std::vector<uint8_t> wordPadded(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> out(bytes.begin(), bytes.end());
    out.resize((out.size() + 15) & ~size_t{15}, 0);
    if (out.empty()) out.resize(16, 0);
    return out;
}

// The WalkMeta cells in order: count, decoded, sub-chunk size, payload base,
// payload length, status.
enum Cell { kCount, kDecoded, kSubChunkSize, kPayloadBase, kPayloadLength, kStatus, kCells };

struct Walk {
    uint32_t meta[kCells] = {};
    uint32_t subchunk_total = 0;
    std::vector<KvnChunkDesc> descs;
    std::vector<uint32_t> starts;     // each chunk's first sub-chunk
    std::vector<size_t> frame_first;  // each frame's first chunk
};

// The host readers' walk of every frame in input; false when they refuse it.
bool hostWalk(std::span<const uint8_t> input, Walk* out) {
    uint64_t decoded = 0, base = 0, payload_end = 0;
    bool has_base = false;
    static std::vector<KvnChunkDesc> descs(KVN_MAX_CHUNKS_PER_BLOCK);
    for (uint64_t pos = 0; pos < input.size();) {
        const FrameStep step = nextFrame(input.data(), input.size(), pos);
        if (step.ends_input) break;
        if (step.error != Error::None) return false;
        const InputFrame frame{input.subspan(pos, step.length), step.header, step.raw_total};
        const uint32_t chunk_size = uint32_t(frameChunkSize(step.header.sc_group_size));
        out->frame_first.push_back(out->descs.size());
        for (const FrameBlock& block : frameBlocks(frame)) {
            const uint64_t start = pos + uint64_t(block.payload.data() - frame.bytes.data());
            if (!has_base) base = start, has_base = true;
            if (block.header.stored) {
                out->descs.push_back({uint32_t(start - base), block.header.raw_size, block.header.raw_size,
                                      uint32_t(decoded), KVN_CHUNK_KIND_STORED, 0, {}});
            } else {
                ChunkWalk walk;
                if (walkChunks(block.payload, block.header.raw_size, chunk_size, step.header.sc_group_size, decoded,
                               descs, &walk) != Error::None)
                    return false;
                for (uint32_t i = 0; i < walk.chunk_count; ++i) {
                    KvnChunkDesc d = descs[i];
                    if ((d.flags & KVN_CHUNK_KIND_MASK) != KVN_CHUNK_KIND_FILL) d.src_off += uint32_t(start - base);
                    out->descs.push_back(d);
                }
            }
            decoded += block.header.raw_size;
            payload_end = start + block.payload.size();
            if (out->descs.size() > kCapacity) return false;
        }
        pos += step.length;
    }
    out->starts.resize(out->descs.size());
    out->subchunk_total = uint32_t(subChunkStarts(out->descs, KVN_SUBCHUNK_SIZE, out->starts.data()));
    out->meta[kCount] = uint32_t(out->descs.size());
    out->meta[kDecoded] = uint32_t(decoded);
    out->meta[kSubChunkSize] = KVN_SUBCHUNK_SIZE;
    out->meta[kPayloadBase] = uint32_t(base);
    out->meta[kPayloadLength] = uint32_t(payload_end - base);
    return true;
}

enum class WalkKernel { Frame, Mega, Table };

Walk deviceWalk(WalkKernel kind, std::span<const uint8_t> input, uint32_t table_off = 0, uint32_t table_chunks = 0) {
    const std::vector<uint8_t> src = wordPadded(input);
    Guarded descs(24 * kCapacity, kFill), starts(4 * kCapacity, kFill), total(4, kFill);
    Guarded cells[kCells] = {{4, kFill}, {4, kFill}, {4, kFill}, {4, kFill}, {4, kFill}, {4, kFill}};
    auto* d = reinterpret_cast<uint32_t*>(descs.data());
    auto* s = reinterpret_cast<uint32_t*>(starts.data());
    auto* t = reinterpret_cast<uint32_t*>(total.data());
    uint32_t* c[kCells];
    for (int i = 0; i < kCells; ++i) c[i] = reinterpret_cast<uint32_t*>(cells[i].data());
    const uint32_t len = uint32_t(input.size());
    if (kind == WalkKernel::Frame)
        runKernel("kvnWalkFrameKernel", 1, src.data(), d, c[0], c[1], c[2], c[3], c[4], c[5], s, t, len, kCapacity,
                  0xFFFFFFFFu);
    else if (kind == WalkKernel::Mega)
        runKernel("kvnMegaWalkKernel", 1, src.data(), d, c[0], c[1], c[2], c[3], c[4], c[5], s, t, len, kCapacity);
    else
        runKernel("kvnWalkFrameTableKernel", 1, src.data(), d, c[0], c[1], c[2], c[3], c[4], c[5], s, t, len,
                  table_off, table_chunks, kCapacity, 0xFFFFFFFFu);
    descs.checkGuard("a frame walk wrote descriptors past its capacity");
    starts.checkGuard("a frame walk wrote sub-chunk starts past its capacity");
    total.checkGuard("a frame walk wrote past its total cell");
    for (const Guarded& cell : cells) cell.checkGuard("a frame walk wrote past a cell");
    Walk w;
    for (int i = 0; i < kCells; ++i) std::memcpy(&w.meta[i], cells[i].data(), 4);
    if (w.meta[kStatus] != 0) return w;
    const uint32_t count = w.meta[kCount];
    check(count <= kCapacity, "a frame walk counted more descriptors than it may write");
    w.descs.resize(count);
    w.starts.resize(count);
    if (count) {
        std::memcpy(w.descs.data(), descs.data(), 24 * size_t(count));
        std::memcpy(w.starts.data(), starts.data(), 4 * size_t(count));
    }
    std::memcpy(&w.subchunk_total, total.data(), 4);
    return w;
}

// A device walk may refuse more than the host readers (narrower rules) and
// leaves header fields and trailers to the host, so it may also accept frames
// the host refuses. What it accepts must still describe chunks inside the
// walked payload and the decoded total; when both accept, the results match.
void checkWalk(const Walk& device, bool host_ok, const Walk& host, const std::string& kernel) {
    if (device.meta[kStatus] != 0) return;
    uint64_t covered = 0;
    for (const KvnChunkDesc& d : device.descs) {
        if ((d.flags & KVN_CHUNK_KIND_MASK) != KVN_CHUNK_KIND_FILL)
            check(uint64_t(d.src_off) + d.comp_size <= device.meta[kPayloadLength], kernel + " describes a chunk past the payload");
        check(d.dst_off == covered, kernel + " describes chunks that do not tile the output");
        covered += d.decomp_size;
    }
    check(covered == device.meta[kDecoded], kernel + " counts another decoded size than its chunks cover");
    if (!host_ok) return;
    // Without a chunk no offset is taken from the payload base: the table walk
    // places it after the block header it reads even when that is the end mark.
    Walk compared = device;
    if (device.meta[kCount] == 0) compared.meta[kPayloadBase] = host.meta[kPayloadBase];
    if (!std::equal(compared.meta, compared.meta + kCells, host.meta)) {
        for (int i = 0; i < kCells; ++i) std::fprintf(stderr, "cell %d: %u, host %u\n", i, device.meta[i], host.meta[i]);
        fail(kernel + " cells differ from the host walk");
    }
    check(device.descs.size() == host.descs.size() &&
              (host.descs.empty() || std::memcmp(device.descs.data(), host.descs.data(), 24 * host.descs.size()) == 0),
          kernel + " descriptors differ from the host walk");
    check(device.starts == host.starts && device.subchunk_total == host.subchunk_total,
          kernel + " sub-chunk starts differ from the host's");
}

void checkSubChunkNumbering(const Walk& host) {
    const uint32_t n = uint32_t(host.descs.size());
    Guarded starts(4 * size_t(n), kFill), total(4, kFill);
    runKernel("kvnPrefixSumChunksKernel", 1, reinterpret_cast<const uint32_t*>(host.descs.data()),
              reinterpret_cast<uint32_t*>(starts.data()), reinterpret_cast<uint32_t*>(total.data()), n,
              KVN_SUBCHUNK_SIZE);
    starts.checkGuard("the sub-chunk numbering wrote past its starts");
    total.checkGuard("the sub-chunk numbering wrote past its total");
    check(n == 0 || std::memcmp(starts.data(), host.starts.data(), 4 * size_t(n)) == 0, "sub-chunk starts differ");
    uint32_t got = 0;
    std::memcpy(&got, total.data(), 4);
    check(got == host.subchunk_total, "the sub-chunk total differs");
}

// Leaf hashes, combine and verdict over data against the host Merkle root.
void checkMerkle(std::span<const uint8_t> data, uint32_t chunk_size, const MerkleTrailer& trailer) {
    const uint64_t len = data.size();
    const uint32_t leaves = uint32_t((len + chunk_size - 1) / chunk_size);
    if (leaves > kMaxLeaves) return;
    const std::vector<uint8_t> words = wordPadded(data);
    Guarded hashes(4 * size_t(leaves), kFill), leaf_array(4 * size_t(leaves), kFill);
    auto* h = reinterpret_cast<uint32_t*>(hashes.data());
    auto* l = reinterpret_cast<uint32_t*>(leaf_array.data());
    if (leaves) {
        runKernel("kvnSegHashKernel", leaves, reinterpret_cast<const uint32_t*>(words.data()), h, leaves, chunk_size,
                  uint32_t(len), uint32_t(len >> 32));
        runKernel("kvnChunkCombineKernel", (leaves + 127) / 128, static_cast<const uint32_t*>(h), l, leaves, chunk_size,
                  uint32_t(len), uint32_t(len >> 32), 0u);
    }
    hashes.checkGuard("the leaf hashes ran past their array");
    leaf_array.checkGuard("the combine wrote past the leaf array");
    for (uint32_t k = 0; k < leaves; ++k) {
        const uint64_t begin = uint64_t(k) * chunk_size;
        check(l[k] == chunkMerkleLeaf(data.data(), begin, std::min<uint64_t>(begin + chunk_size, len)),
              "a device leaf differs from the host's");
    }
    const MerkleRoot root = chunkMerkleRoot(data.data(), len, chunk_size, 1);
    check(root.error == Error::None, "the host Merkle root failed");
    const uint32_t expected = trailer.present ? trailer.stored_root : root.root;
    Guarded cell(4 * KVN_VERDICT_CELL_WORDS, kFill);
    const uint32_t stripes = leaves / 4;
    for (uint32_t first = 0;; first += KVN_VERDICT_PASS_STRIPES) {
        runKernel("kvnMerkleVerdictKernel", 1, static_cast<const uint32_t*>(l), reinterpret_cast<uint32_t*>(cell.data()),
                  leaves, expected, first);
        if (stripes - first <= KVN_VERDICT_PASS_STRIPES) break;
    }
    cell.checkGuard("the verdict wrote past its cell");
    uint32_t verdict = 0;
    std::memcpy(&verdict, cell.data(), 4);
    check(verdict == (root.root == expected ? kVerdictMatch : kVerdictMismatch), "the verdict differs from the host root");
}

// The prefix-apply kernel against applyChunkPrefixes, over each coded block.
void checkPrefixes(const InputFrame& frame) {
    for (const FrameBlock& block : frameBlocks(frame)) {
        WalkedBlock w;
        if (!walkBlock(frame, block, 0, &w)) continue;
        const uint64_t raw = block.header.raw_size;
        const uint32_t chunk_size = w.chunk_size;
        const ChunkWalk& walk = w.walk;
        Guarded host(raw, kFill), device(raw, kFill);
        applyChunkPrefixes(block.payload, walk, raw, chunk_size, host.data());
        const std::vector<uint8_t> payload = wordPadded(block.payload);
        const uint64_t area = walk.has_prefix_area ? walk.prefix_area_off : 0;
        const uint32_t chunks = walk.has_prefix_area ? walk.chunk_count : 0;
        if (chunks)
            runKernel("kvnScPrefixApplyKernel", (chunks + 127) / 128, device.data(), payload.data(), uint32_t(area),
                      uint32_t(area >> 32), chunks, chunk_size, uint32_t(raw), uint32_t(raw >> 32));
        device.checkGuard("the prefix apply wrote past the block");
        checkSame(device.all(), host.all(), "the prefix apply differs from the host's");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> in(data, size);
    Walk host;
    const bool host_ok = hostWalk(in, &host);
    checkWalk(deviceWalk(WalkKernel::Frame, in), host_ok, host, "kvnWalkFrameKernel");
    // The multi-frame walk marks each frame's first chunk.
    Walk marked = host;
    for (size_t i : host.frame_first)
        if (i < marked.descs.size()) marked.descs[i].flags |= KVN_CHUNK_FLAG_FRAME_FIRST;
    checkWalk(deviceWalk(WalkKernel::Mega, in), host_ok, marked, "kvnMegaWalkKernel");
    if (host_ok) checkSubChunkNumbering(host);

    for (const InputFrame& frame : inputFrames(in)) {
        if (frame.raw_total > kMaxFuzzRaw) continue;
        const FrameHeader& h = frame.header;
        const uint32_t chunk_size = uint32_t(frameChunkSize(h.sc_group_size));
        if (h.has_chunk_table) {
            const uint64_t table = chunkTableLength(frame.raw_total, chunk_size);
            const uint64_t trailers = kTrailerSize * ((h.has_checksum ? 1 : 0) + (h.has_merkle_root ? 1 : 0));
            Walk one;
            const bool one_ok = hostWalk(frame.bytes, &one);
            checkWalk(deviceWalk(WalkKernel::Table, frame.bytes, uint32_t(frame.bytes.size() - trailers - table),
                                     uint32_t(table / kChunkTableEntrySize)),
                          one_ok, one, "kvnWalkFrameTableKernel");
        }
        checkPrefixes(frame);
        // The leaves of the decoded bytes when the frame decodes, else of the frame's own bytes.
        const std::span<const uint8_t> dict = frameDictionary(h);
        const ref::DecodedFrame decoded = ref::decodeFrame(frame.bytes, {dict.data(), uint32_t(dict.size())});
        const MerkleTrailer trailer = readMerkleTrailer(h.has_merkle_root, h.sc_group_size, frame.bytes.data(), frame.bytes.size());
        if (decoded.error == Error::None) checkMerkle(decoded.bytes, chunk_size, trailer);
        else checkMerkle(frame.bytes, chunk_size, trailer);
    }
    return 0;
}
