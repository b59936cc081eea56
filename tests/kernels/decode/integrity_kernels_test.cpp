// The integrity kernels against the CPU definitions: leaves equal
// chunkMerkleLeaf, the device root's verdict agrees with chunkMerkleRoot, the
// chunk-prefix restore equals applyChunkPrefixes, never writing past the
// output length, and the content hash agrees with Debian's libxxhash.
#include <xxhash.h>

#include <algorithm>
#include <vector>

#include "core/format/chunk_walk.h"
#include "core/format/frame_header.h"
#include "core/integrity/merkle.h"
#include "core/integrity/xxh32.h"
#include "kernels/format_constants.h"
#include "tests/core/integrity/sample_data.h"
#include "tests/kernels/decode/decode_kernel_test.h"
#include "tests/reference/reference_codec.h"

namespace kvn::test {
namespace {

constexpr uint32_t kVerdictMatch = 1, kVerdictMismatch = 2;

struct MerkleCase {
    const char* name;
    uint64_t bytes;
    uint32_t chunk_size;
    bool zeros = false;
};

// One chunk, many, tails shorter than a word, chunk sizes that are not a
// multiple of 4 (unaligned words), 1-byte chunks, zero-filled data.
const MerkleCase kMerkleCases[] = {
    {"one_chunk", 1000, 65536},         {"one_chunk_exact", 65536, 65536},
    {"many_chunks_tail_3", 300003, 65536}, {"tail_of_1", 4097, 4096},
    {"tail_shorter_than_word", 4098, 1024}, {"chunk_size_3", 1001, 3},
    {"chunk_size_5", 777, 5},           {"one_byte_chunks", 300, 1},
    {"three_byte_buffer", 3, 65536},    {"full_chunks", 1 << 20, 262144},
    {"zeros", 70000, 4096, true},       {"odd_chunks_many", 100000, 1001},
};

class MerkleKernels : public DecodeKernelTest {
protected:
    // Leaves of data on the device: the hashes of its `leaves` chunks, placed
    // in the leaf array from leaf `first` by the combine kernel.
    void hashBatch(uint32_t data, uint64_t len, uint32_t chunk_size, uint32_t first, uint32_t leaves,
                   uint32_t leaf_array) {
        const uint32_t hashes = guarded(4ull * leaves);
        launch("kvnSegHashKernel", {leaves},
               {rigBuffer(data), rigBuffer(hashes), rigU32(leaves), rigU32(chunk_size), rigU32(uint32_t(len)),
                rigU32(uint32_t(len >> 32))});
        expectGuardFrom(hashes, 4ull * leaves);
        launch("kvnChunkCombineKernel", {(leaves + 127) / 128},
               {rigBuffer(hashes), rigBuffer(leaf_array), rigU32(leaves), rigU32(chunk_size),
                rigU32(uint32_t(len)), rigU32(uint32_t(len >> 32)), rigU32(first)});
    }

    // The verdict in passes of KVN_VERDICT_PASS_STRIPES stripes, as the
    // decode pipeline launches it.
    uint32_t verdict(uint32_t leaf_array, uint32_t leaves, uint32_t expected_root) {
        const uint32_t cell = guarded(4 * KVN_VERDICT_CELL_WORDS);
        const uint32_t stripes = leaves / 4;
        for (uint32_t first = 0;; first += KVN_VERDICT_PASS_STRIPES) {
            launch("kvnMerkleVerdictKernel", {1}, {rigBuffer(leaf_array), rigBuffer(cell), rigU32(leaves),
                                                   rigU32(expected_root), rigU32(first)});
            if (stripes - first <= KVN_VERDICT_PASS_STRIPES) break;
        }
        expectGuardFrom(cell, 4 * KVN_VERDICT_CELL_WORDS);
        return readWords<uint32_t>(cell, 1)[0];
    }
};

TEST_P(MerkleKernels, LeavesAndVerdictMatchTheCpuRoot) {
    for (const MerkleCase& c : kMerkleCases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> data = c.zeros ? std::vector<uint8_t>(c.bytes, 0) : systemHeaderBytes(c.bytes);
        const uint32_t leaves = uint32_t((c.bytes + c.chunk_size - 1) / c.chunk_size);
        const uint32_t data_id = rig_.buffer(data);
        const uint32_t leaf_array = guarded(4ull * leaves);
        hashBatch(data_id, c.bytes, c.chunk_size, 0, leaves, leaf_array);
        expectGuardFrom(leaf_array, 4ull * leaves);

        std::vector<uint32_t> expected(leaves);
        for (uint32_t k = 0; k < leaves; ++k) {
            expected[k] = chunkMerkleLeaf(data.data(), uint64_t(k) * c.chunk_size,
                                          std::min<uint64_t>(uint64_t(k + 1) * c.chunk_size, c.bytes));
        }
        ASSERT_EQ(readWords<uint32_t>(leaf_array, leaves), expected);

        const MerkleRoot root = chunkMerkleRoot(data.data(), data.size(), c.chunk_size);
        ASSERT_EQ(root.error, Error::None);
        EXPECT_EQ(verdict(leaf_array, leaves, root.root), kVerdictMatch);
        EXPECT_EQ(verdict(leaf_array, leaves, root.root ^ 0x100u), kVerdictMismatch);
    }
}

TEST_P(MerkleKernels, CombinePlacesABatchAtItsLeafOffset) {
    const std::vector<uint32_t> hashes = {11, 22, 33, 44, 55};
    const uint32_t in = rig_.bufferOf(hashes);
    const uint32_t leaf_array = guarded(4 * 300);
    launch("kvnChunkCombineKernel", {1},
           {rigBuffer(in), rigBuffer(leaf_array), rigU32(5), rigU32(0), rigU32(0), rigU32(0), rigU32(295)});
    const std::vector<uint8_t> bytes = rig_.read(leaf_array);
    for (size_t i = 0; i < 4 * 295; ++i) ASSERT_EQ(bytes[i], kGuard) << i;
    std::vector<uint32_t> placed(5);
    std::memcpy(placed.data(), bytes.data() + 4 * 295, 20);
    EXPECT_EQ(placed, hashes);
    expectGuardFrom(leaf_array, 4 * 300);
}

TEST_P(MerkleKernels, VerdictOfFewLeavesAndZeroLeaves) {
    // Fewer than four leaves take the short road of XXH32; the root of a
    // single leaf is XXH32 of its 4 bytes.
    for (uint32_t count : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u}) {
        std::vector<uint32_t> leaves(count);
        for (uint32_t i = 0; i < count; ++i) leaves[i] = 0x9E3779B1u * (i + 1);
        const std::vector<uint8_t> bytes = asBytes(leaves);
        const uint32_t id = rig_.buffer(bytes);
        EXPECT_EQ(verdict(id, count, xxh32(bytes.data(), bytes.size())), kVerdictMatch) << count;
    }
    const uint32_t empty = rig_.buffer(16, 0);
    EXPECT_EQ(verdict(empty, 0, kEmptyMerkleRoot), kVerdictMatch);
}

TEST_P(MerkleKernels, VerdictOfManyLeavesFoldsEveryStripe) {
    // One thread folding 300,007 leaves runs past lavapipe's 65,535 loop
    // iterations and judges a prefix of them; the passes fold every stripe,
    // and the 3 tail leaves. Pass boundaries exactly at the end too.
    for (uint32_t count : {300007u, 2 * 4 * KVN_VERDICT_PASS_STRIPES, 4 * KVN_VERDICT_PASS_STRIPES + 1}) {
        std::vector<uint32_t> leaves(count);
        uint32_t state = count;
        for (uint32_t& leaf : leaves) leaf = state = state * 1664525u + 1013904223u;
        const std::vector<uint8_t> bytes = asBytes(leaves);
        const uint32_t id = rig_.buffer(bytes);
        const uint32_t root = xxh32(bytes.data(), bytes.size());
        EXPECT_EQ(verdict(id, count, root), kVerdictMatch) << count;
        EXPECT_EQ(verdict(id, count, root ^ 1u), kVerdictMismatch) << count;
    }
}

// ---- chunk prefixes -----------------------------------------------------------

struct PrefixCase {
    const char* name;
    uint64_t bytes;
    float sc_group_size;
};

// A last chunk shorter than C and shorter than 8 bytes, and a single chunk.
const PrefixCase kPrefixCases[] = {
    {"many_chunks", 200000, 1.0f / 64},
    {"last_chunk_3_bytes", 4096 * 5 + 3, 1.0f / 64},
    {"last_chunk_8_bytes", 4096 * 3 + 8, 1.0f / 64},
    {"one_chunk", 3000, 1.0f / 64},
};

TEST_P(MerkleKernels, PrefixApplyRestoresChunkStartsWithinTheOutput) {
    for (const PrefixCase& c : kPrefixCases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> input = systemHeaderBytes(c.bytes);
        ref::EncodeOptions options = ref::encodeOptionsForLevel(1, c.sc_group_size);
        const ref::EncodedBlock block = ref::encodeBlock(input, options);
        const uint32_t chunk_size = uint32_t(frameChunkSize(c.sc_group_size));
        std::vector<KvnChunkDesc> descs(block.record_sizes.size() + 1);
        ChunkWalk walk;
        ASSERT_EQ(walkChunks(block.payload, input.size(), chunk_size, c.sc_group_size, 0, descs, &walk), Error::None);

        // Decoded output whose chunk starts were damaged, as a decode that
        // leans on the previous chunk leaves them.
        std::vector<uint8_t> damaged = input;
        for (uint64_t start = chunk_size; start < damaged.size(); start += chunk_size) {
            for (uint64_t i = start; i < std::min<uint64_t>(start + 8, damaged.size()); ++i) damaged[i] ^= 0x5A;
        }
        std::vector<uint8_t> expected = damaged;
        applyChunkPrefixes(block.payload, walk, input.size(), chunk_size, expected.data());

        const uint32_t out = guarded(damaged.size());
        rig_.write(out, damaged);
        const uint32_t payload = rig_.buffer(block.payload);
        const uint32_t chunks = walk.chunk_count;
        const uint64_t area = walk.has_prefix_area ? walk.prefix_area_off : 0;
        if (chunks > 1) ASSERT_TRUE(walk.has_prefix_area);
        launch("kvnScPrefixApplyKernel", {(chunks + 127) / 128},
               {rigBuffer(out), rigBuffer(payload), rigU32(uint32_t(area)), rigU32(uint32_t(area >> 32)),
                rigU32(chunks), rigU32(chunk_size), rigU32(uint32_t(input.size())), rigU32(0)});
        EXPECT_EQ(readWords<uint8_t>(out, damaged.size()), expected);
        if (chunks > 1) EXPECT_EQ(readWords<uint8_t>(out, damaged.size()), input);
        expectGuardFrom(out, damaged.size());
    }
}

TEST_P(MerkleKernels, OverlappingPrefixesOfShortChunksApplyInChunkOrder) {
    // 3-byte chunks: each 8-byte entry reaches over the next two chunks,
    // and its entries disagree with their neighbours on purpose. Chunk order
    // (the host's) leaves every byte with its own chunk's entry.
    const uint32_t chunk = 3, chunks = 300;
    const uint64_t len = uint64_t(chunk) * chunks - 1;
    std::vector<uint8_t> area(8 * (chunks - 1));
    for (size_t i = 0; i < area.size(); ++i) area[i] = uint8_t(i * 7 + 1);
    std::vector<uint8_t> payload(5, 0x55);
    payload.insert(payload.end(), area.begin(), area.end());
    ChunkWalk walk;
    walk.chunk_count = chunks;
    walk.has_prefix_area = true;
    walk.prefix_area_off = 5;
    std::vector<uint8_t> expected(len, 0x11);
    applyChunkPrefixes(payload, walk, len, chunk, expected.data());
    const uint32_t out = guarded(len);
    rig_.write(out, std::vector<uint8_t>(len, 0x11));
    launch("kvnScPrefixApplyKernel", {(chunks + 127) / 128},
           {rigBuffer(out), rigBuffer(rig_.buffer(payload)), rigU32(5), rigU32(0), rigU32(chunks), rigU32(chunk),
            rigU32(uint32_t(len)), rigU32(0)});
    EXPECT_EQ(readWords<uint8_t>(out, len), expected);
    expectGuardFrom(out, len);
}

TEST_P(MerkleKernels, PrefixApplyNeverWritesAtOrPastTheOutputLength) {
    // Chunks 1 to 4 of 10-byte chunks over an output of 25 bytes: chunk 2
    // gets 5 bytes, chunks 3 and 4 start past the end and get nothing.
    std::vector<uint8_t> area(32);
    for (size_t i = 0; i < area.size(); ++i) area[i] = uint8_t(0xA0 + i);
    const uint32_t payload = rig_.buffer(area);
    const uint32_t out = guarded(25);
    launch("kvnScPrefixApplyKernel", {1},
           {rigBuffer(out), rigBuffer(payload), rigU32(0), rigU32(0), rigU32(5), rigU32(10), rigU32(25), rigU32(0)});
    std::vector<uint8_t> expected(25, kGuard);
    std::copy(area.begin(), area.begin() + 8, expected.begin() + 10);
    std::copy(area.begin() + 8, area.begin() + 13, expected.begin() + 20);
    EXPECT_EQ(readWords<uint8_t>(out, 25), expected);
    expectGuardFrom(out, 25);
}

KVN_ON_BOTH_BACKENDS(MerkleKernels);

// ---- content checksum ---------------------------------------------------------

constexpr uint32_t kHashCut = KVN_CONTENT_HASH_CUT;
constexpr uint64_t kPassBytes = 16ull * KVN_CONTENT_HASH_PASS_STRIPES;

class ContentHashKernel : public DecodeKernelTest {
protected:
    struct Pass {
        uint32_t first;
        uint32_t stripes;
    };

    // The verdict of the given passes over `len` bytes at byte `at` of buffer `id`.
    uint32_t verdictOf(uint32_t id, uint64_t at, uint64_t len, uint32_t expected, const std::vector<Pass>& passes) {
        const uint32_t cell = guarded(4 * KVN_CONTENT_HASH_CELL_WORDS);
        for (const Pass& p : passes) {
            const uint64_t start = at + 16ull * p.first;
            launch("kvnContentHashKernel", {1},
                   {rigBuffer(cell), rigAddress(id, start & ~uint64_t{3}), rigU32(uint32_t(start & 3)),
                    rigU32(p.first), rigU32(p.stripes), rigU32(uint32_t(len)), rigU32(uint32_t(len >> 32)),
                    rigU32(expected)});
        }
        expectGuardFrom(cell, 4 * KVN_CONTENT_HASH_CELL_WORDS);
        return readWords<uint32_t>(cell, 1)[0];
    }

    // As the decode pipeline launches it: passes of KVN_CONTENT_HASH_PASS_STRIPES.
    uint32_t verdictOf(uint32_t id, uint64_t at, uint64_t len, uint32_t expected) {
        const uint32_t stripes = uint32_t(len / 16);
        std::vector<Pass> passes;
        uint32_t first = 0;
        do {
            const uint32_t count = std::min(stripes - first, KVN_CONTENT_HASH_PASS_STRIPES);
            passes.push_back({first, count});
            first += count;
        } while (first < stripes);
        return verdictOf(id, at, len, expected, passes);
    }
};

// Lengths below a stripe, around stripes and around pass boundaries, tails of
// 1 to 15 bytes, at offsets that are not a multiple of 4.
TEST_P(ContentHashKernel, EqualsLibxxhashAtEveryLengthAndOffset) {
    const uint64_t lengths[] = {0,  1,   3,   4,    15,   16,   17, 31, 33, 64, 1000, 4099, kPassBytes - 1,
                                kPassBytes, kPassBytes + 7, 2 * kPassBytes + 13, 3 * kPassBytes};
    const std::vector<uint8_t> data = systemHeaderBytes(3 * kPassBytes + 16);
    const uint32_t id = rig_.buffer(data);
    for (uint64_t len : lengths) {
        for (uint64_t at : {0, 1, 2, 3, 16}) {
            SCOPED_TRACE(testing::Message() << "length " << len << " at " << at);
            const uint32_t expected = XXH32(data.data() + at, len, 0);
            EXPECT_EQ(verdictOf(id, at, len, expected), kVerdictMatch);
            if (at == 0) EXPECT_EQ(verdictOf(id, at, len, expected ^ 0x10u), kVerdictMismatch);
        }
    }
}

TEST_P(ContentHashKernel, AChangedByteAnywhereChangesTheVerdict) {
    std::vector<uint8_t> data = systemHeaderBytes(kPassBytes + 21);
    const uint32_t expected = XXH32(data.data(), data.size(), 0);
    for (uint64_t at : {uint64_t{0}, kPassBytes - 1, kPassBytes + 3, data.size() - 1}) {
        data[at] ^= 0x01;
        EXPECT_EQ(verdictOf(rig_.buffer(data), 0, data.size(), expected), kVerdictMismatch) << at;
        data[at] ^= 0x01;
    }
}

// Passes that do not fold every stripe give no verdict, never a match or a
// mismatch: a stripe left out, a pass skipped, and on lavapipe a pass longer
// than the 65,535 iterations its loop may run (the host runtime runs it whole).
TEST_P(ContentHashKernel, StripesLeftUnfoldedGiveNoVerdict) {
    const uint32_t long_pass = 70000;
    const std::vector<uint8_t> data = systemHeaderBytes(16ull * long_pass + 5);
    const uint32_t id = rig_.buffer(data);
    const uint64_t len = data.size();
    const uint32_t expected = XXH32(data.data(), len, 0);
    struct Case {
        const char* name;
        std::vector<Pass> passes;
        uint32_t verdict;
    };
    const Case cases[] = {
        {"whole", {{0, 40000}, {40000, long_pass - 40000}}, kVerdictMatch},
        {"stripe_left_out", {{0, 39999}, {40000, long_pass - 40000}}, kHashCut},
        {"pass_skipped", {{0, 20000}, {40000, long_pass - 40000}}, kHashCut},
        {"one_long_pass", {{0, long_pass}}, GetParam() == KernelBackend::Lavapipe ? kHashCut : kVerdictMatch},
    };
    for (const Case& c : cases) EXPECT_EQ(verdictOf(id, 0, len, expected, c.passes), c.verdict) << c.name;
}

KVN_ON_BOTH_BACKENDS(ContentHashKernel);

}  // namespace
}  // namespace kvn::test
