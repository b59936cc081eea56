// The descriptor kernels: sub-chunk numbering against subChunkStarts on
// batches built with the reference encoder, compaction and merge of the
// Huffman and stored-off16 lists against their definitions, with every output
// guard-filled.
#include <random>
#include <vector>

#include "core/format/chunk_walk.h"
#include "core/format/frame_header.h"
#include "tests/core/format/chunk_test_data.h"
#include "tests/kernels/decode/decode_kernel_test.h"
#include "tests/reference/reference_codec.h"

namespace kvn::test {
namespace {

// ---- sub-chunk numbering ------------------------------------------------------

struct BatchCase {
    const char* name;
    std::vector<uint8_t> (*input)();
    float sc_group_size;
    bool huffman;
    bool fill_chunks;
};

std::vector<uint8_t> textInput() { return machineText(700000); }
std::vector<uint8_t> randomInput() { return randomBytes(300000, 5); }  // stored chunks
std::vector<uint8_t> repetitiveInput() { return repetitiveBytes(600000, 7); }
std::vector<uint8_t> runsInput() {  // single-byte chunks become byte-fill records
    std::vector<uint8_t> out;
    for (int i = 0; i < 40; ++i) out.insert(out.end(), 4096, uint8_t(i * 7));
    return out;
}

const BatchCase kBatches[] = {
    {"text_quarter_chunks", textInput, 0.25f, false, false},
    {"text_full_chunks_huffman", textInput, 1.0f, true, false},
    {"random_stored", randomInput, 0.25f, false, false},
    {"repetitive_small_chunks", repetitiveInput, 1.0f / 64, true, false},
    {"fill_chunks", runsInput, 1.0f / 64, false, true},
};

std::vector<KvnChunkDesc> batchDescs(const BatchCase& c) {
    const std::vector<uint8_t> input = c.input();
    ref::EncodeOptions options = ref::encodeOptionsForLevel(c.huffman ? 3 : 1, c.sc_group_size);
    options.fill_chunks = c.fill_chunks;
    const ref::EncodedBlock block = ref::encodeBlock(input, options);
    std::vector<KvnChunkDesc> descs(block.record_sizes.size());
    ChunkWalk walk;
    EXPECT_EQ(walkChunks(block.payload, input.size(), uint32_t(frameChunkSize(c.sc_group_size)), c.sc_group_size, 0,
                         descs, &walk),
              Error::None);
    descs.resize(walk.chunk_count);
    return descs;
}

class PrefixSumChunks : public DecodeKernelTest {
protected:
    // Runs the kernel and returns the starts (checked for guard bytes behind
    // them) and the total.
    std::pair<std::vector<uint32_t>, uint32_t> run(const std::vector<KvnChunkDesc>& descs, uint32_t subchunk_size) {
        const uint32_t n = uint32_t(descs.size());
        const uint32_t in = descs.empty() ? rig_.buffer(24, 0) : rig_.bufferOf(descs);
        const uint32_t starts = guarded(4ull * n);
        const uint32_t total = guarded(4);
        EXPECT_EQ(rig_.launch("kvnPrefixSumChunksKernel", {1},
                              {rigBuffer(in), rigBuffer(starts), rigBuffer(total), rigU32(n), rigU32(subchunk_size)}),
                  "");
        expectGuardFrom(starts, 4ull * n);
        expectGuardFrom(total, 4);
        return {readWords<uint32_t>(starts, n), readWords<uint32_t>(total, 1)[0]};
    }

    void expectLikeHost(const std::vector<KvnChunkDesc>& descs, uint32_t subchunk_size) {
        std::vector<uint32_t> expected(descs.size());
        const uint64_t expected_total = subChunkStarts(descs, subchunk_size, expected.data());
        const auto [starts, total] = run(descs, subchunk_size);
        EXPECT_EQ(starts, expected);
        EXPECT_EQ(total, expected_total);
    }
};

TEST_P(PrefixSumChunks, EncodedBatchesMatchSubChunkStarts) {
    for (const BatchCase& c : kBatches) {
        SCOPED_TRACE(c.name);
        const std::vector<KvnChunkDesc> descs = batchDescs(c);
        ASSERT_FALSE(descs.empty());
        expectLikeHost(descs, KVN_SUBCHUNK_SIZE);
        expectLikeHost(descs, 0);  // read as 65536
    }
}

TEST_P(PrefixSumChunks, LargestBatchAndEdgeCounts) {
    // 65,536 chunks of every kind and size: more than one thread could walk
    // within lavapipe's loop budget.
    std::mt19937 rng(3);
    std::vector<KvnChunkDesc> descs(KVN_MAX_CHUNKS_PER_BLOCK);
    for (KvnChunkDesc& d : descs) {
        d = {};
        d.flags = rng() % 3;
        d.decomp_size = (rng() % 5 == 0) ? 0 : rng() % (KVN_CHUNK_UNIT + 1);
    }
    for (uint32_t n : {0u, 1u, 255u, 256u, 257u, 65536u}) {
        SCOPED_TRACE(n);
        expectLikeHost(std::vector<KvnChunkDesc>(descs.begin(), descs.begin() + n), KVN_SUBCHUNK_SIZE);
    }
}

TEST_P(PrefixSumChunks, FrameFirstCodedChunkCountsItsSubChunks) {
    // Multi-frame walks mark a frame's first chunk with flag bit 2; the chunk
    // kind, not the whole flags word, decides its sub-chunk count.
    std::vector<KvnChunkDesc> descs(3, KvnChunkDesc{});
    descs[0].decomp_size = 262144;
    descs[0].flags = KVN_CHUNK_FLAG_FRAME_FIRST | KVN_CHUNK_KIND_CODED;
    descs[1].decomp_size = 1000;
    descs[1].flags = KVN_CHUNK_FLAG_FRAME_FIRST | KVN_CHUNK_KIND_STORED;
    descs[2].decomp_size = 131073;
    const auto [starts, total] = run(descs, KVN_SUBCHUNK_SIZE);
    EXPECT_EQ(starts, (std::vector<uint32_t>{0, 2, 3}));
    EXPECT_EQ(total, 5u);
}

KVN_ON_BOTH_BACKENDS(PrefixSumChunks);

// ---- compaction and merge -------------------------------------------------------

// The six scan arrays of one batch of T sub-chunk slots.
struct ScanLists {
    std::vector<KvnScanHuffDesc> huff[4];
    std::vector<KvnScanRawDesc> raw[2];  // first (high-byte) halves, second halves
};

// Random slots, each present with probability `percent` / 100; absent slots
// keep whatever the scan left (random words) except `present`.
ScanLists randomScanLists(uint32_t slots, uint32_t percent, uint32_t seed) {
    std::mt19937 rng(seed);
    ScanLists lists;
    for (auto& l : lists.huff) {
        l.resize(slots);
        for (uint32_t g = 0; g < slots; ++g) l[g] = {rng(), rng() % 70000, g * 131072, rng() % 131073, rng() % 100 < percent ? 1u : 0u};
    }
    for (uint32_t h = 0; h < 2; ++h) {
        lists.raw[h].resize(slots);
        for (uint32_t g = 0; g < slots; ++g)
            lists.raw[h][g] = {rng(), rng() % 65537, g * 131072 + h * 65536, rng() % 100 < percent ? 1u : 0u};
    }
    return lists;
}

struct Compacted {
    std::vector<KvnHuffDecChunkDesc> huff[4];
    std::vector<KvnRawOff16Desc> raw;
};

Compacted compactReference(const ScanLists& in) {
    Compacted out;
    for (int b = 0; b < 4; ++b) {
        for (const KvnScanHuffDesc& d : in.huff[b]) {
            if (!d.present) continue;
            const uint32_t k = uint32_t(out.huff[b].size());
            out.huff[b].push_back({d.src_off, d.comp_size, d.dst_off, d.decomp_size, k * KVN_HUFF_LUT_ENTRIES});
        }
    }
    for (size_t g = 0; g < in.raw[0].size(); ++g) {
        for (int h = 0; h < 2; ++h) {
            const KvnScanRawDesc& d = in.raw[h][g];
            if (d.present) out.raw.push_back({d.src_off, d.len, d.dst_off});
        }
    }
    return out;
}

class DescriptorLists : public DecodeKernelTest {
protected:
    // Where count c lives in the counter buffer: its own 256-byte cell on
    // Vulkan, consecutive words on CUDA and the host.
    size_t counterWord(uint32_t c) const {
        return GetParam() == KernelBackend::Lavapipe ? c * KVN_DESC_COUNTER_CELL_BYTES / 4 : c;
    }

    template <class T>
    uint32_t listBuffer(const std::vector<T>& v) {
        return v.empty() ? rig_.buffer(16, 0) : rig_.bufferOf(v);
    }
};

TEST_P(DescriptorLists, CompactionKeepsPresentEntriesInSubChunkOrder) {
    struct Case {
        uint32_t slots, percent;
    };
    for (const Case c : {Case{0, 50}, Case{1, 100}, Case{255, 50}, Case{256, 100}, Case{257, 30}, Case{5000, 50},
                         Case{32767, 60}, Case{700, 0}}) {
        SCOPED_TRACE(testing::Message() << c.slots << " slots, " << c.percent << "%");
        const ScanLists in = randomScanLists(c.slots, c.percent, c.slots + c.percent);
        const Compacted expected = compactReference(in);
        uint32_t scan[6];
        for (int b = 0; b < 4; ++b) scan[b] = listBuffer(in.huff[b]);
        for (int h = 0; h < 2; ++h) scan[4 + h] = listBuffer(in.raw[h]);
        const uint32_t total = rig_.bufferOf(std::vector<uint32_t>{c.slots});
        uint32_t out[4];
        for (int b = 0; b < 4; ++b) out[b] = guarded(20ull * c.slots);
        const uint32_t raw = guarded(24ull * c.slots);
        const uint32_t counters = rig_.buffer(KVN_DESC_COUNTER_BYTES, 0);
        launch("kvnCompactAllDescsKernel", {5},
               {rigBuffer(scan[0]), rigBuffer(scan[1]), rigBuffer(scan[2]), rigBuffer(scan[3]), rigBuffer(scan[4]),
                rigBuffer(scan[5]), rigBuffer(total), rigBuffer(out[0]), rigBuffer(out[1]), rigBuffer(out[2]),
                rigBuffer(out[3]), rigBuffer(raw), rigBuffer(counters)});
        const std::vector<uint32_t> counts = rig_.readAs<uint32_t>(counters);
        for (int b = 0; b < 4; ++b) {
            const size_t n = expected.huff[b].size();
            EXPECT_EQ(counts[counterWord(b)], n) << "list " << b;
            EXPECT_EQ(asBytes(readWords<KvnHuffDecChunkDesc>(out[b], n)), asBytes(expected.huff[b])) << "list " << b;
            expectGuardFrom(out[b], 20 * n);
        }
        EXPECT_EQ(counts[counterWord(KVN_DESC_COUNTER_RAW)], expected.raw.size());
        EXPECT_EQ(asBytes(readWords<KvnRawOff16Desc>(raw, expected.raw.size())), asBytes(expected.raw));
        expectGuardFrom(raw, 12 * expected.raw.size());
        EXPECT_EQ(counts[counterWord(KVN_DESC_COUNTER_MERGED)], 0u);  // the merge's cell is not touched
    }
}

TEST_P(DescriptorLists, BothMergeFormsConcatenateTheListsWithTableSlots) {
    struct Case {
        uint32_t counts[4];
    };
    for (const Case c : {Case{{3, 0, 2, 1}}, Case{{0, 0, 0, 0}}, Case{{300, 5, 257, 1000}}, Case{{0, 0, 0, 7}}}) {
        std::mt19937 rng(c.counts[0] + c.counts[3]);
        std::vector<KvnHuffDecChunkDesc> lists[4], expected;
        for (int b = 0; b < 4; ++b) {
            for (uint32_t i = 0; i < c.counts[b]; ++i) {
                lists[b].push_back({rng(), rng(), rng(), rng(), i * KVN_HUFF_LUT_ENTRIES});
                KvnHuffDecChunkDesc m = lists[b].back();
                m.lut_off = uint32_t(expected.size()) * KVN_HUFF_LUT_ENTRIES;
                expected.push_back(m);
            }
        }
        for (const char* kernel : {"kvnMergeHuffDescsKernel", "kvnMergeHuffDescsParKernel"}) {
            SCOPED_TRACE(testing::Message() << kernel << " " << c.counts[0] << "," << c.counts[1] << ","
                                            << c.counts[2] << "," << c.counts[3]);
            uint32_t in[4], count[4];
            for (int b = 0; b < 4; ++b) {
                in[b] = listBuffer(lists[b]);
                count[b] = rig_.bufferOf(std::vector<uint32_t>{c.counts[b]});
            }
            const uint32_t merged = guarded(20 * expected.size());
            const uint32_t merged_count = guarded(4);
            launch(kernel, {std::string(kernel) == "kvnMergeHuffDescsKernel" ? 1u : 4u},
                   {rigBuffer(in[0]), rigBuffer(in[1]), rigBuffer(in[2]), rigBuffer(in[3]), rigBuffer(count[0]),
                    rigBuffer(count[1]), rigBuffer(count[2]), rigBuffer(count[3]), rigBuffer(merged),
                    rigBuffer(merged_count)});
            EXPECT_EQ(readWords<uint32_t>(merged_count, 1)[0], expected.size());
            EXPECT_EQ(asBytes(readWords<KvnHuffDecChunkDesc>(merged, expected.size())), asBytes(expected));
            expectGuardFrom(merged, 20 * expected.size());
            expectGuardFrom(merged_count, 4);
        }
    }
}

KVN_ON_BOTH_BACKENDS(DescriptorLists);

}  // namespace
}  // namespace kvn::test
