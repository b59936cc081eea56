// kvnScanParseKernel and kvnGatherRawOff16Kernel on the host kernel runtime
// and on lavapipe. The scan's descriptors are held against the reference
// through what they are for: Huffman-decoding every listed stream (with the
// reference Huffman decoder) and gathering every stored off16 half must
// rebuild the decoded-stream scratch, from which the general LZ kernel then
// decodes exactly the reference bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernels/format_constants.h"
#include "lz_runs.h"

namespace kvn::dectest {
namespace {

class ScanParse : public ::testing::TestWithParam<Backend> {};

std::string caseName(const ::testing::TestParamInfo<Backend>& info) { return backendName(info.param); }

// Runs scan, Huffman decode and gather over the batch; the scratch they fill.
Scratch scratchFromScan(Backend backend, const Batch& b) {
    const ScanLists lists = runScanParse(backend, b);
    const uint32_t n = std::max(subChunkTotal(b), 1u);
    const size_t bytes = size_t(n) * KVN_SUBCHUNK_SIZE;
    Scratch s{std::vector<uint8_t>(bytes, 0xC3), std::vector<uint8_t>(bytes, 0xC3), std::vector<uint8_t>(bytes, 0xC3)};
    std::vector<uint8_t>* areas[4] = {&s.literals, &s.tokens, &s.off16, &s.off16};
    std::vector<bool> reached(n, false);
    forEachSubChunk(b, [&](const SubChunkView& v) { reached[v.slot] = true; });
    for (uint32_t list = 0; list < 4; ++list) {
        for (uint32_t g = 0; g < n; ++g) {
            const KvnScanHuffDesc& d = lists.huff[list][g];
            if (!reached[g] || !d.present) continue;
            const uint32_t low = list == KVN_SCAN_LIST_OFF16_LOW ? KVN_OFF16_LOW_OFFSET : 0;
            EXPECT_EQ(d.dst_off, g * KVN_SUBCHUNK_SIZE + low) << "list " << list << " slot " << g;
            EXPECT_LE(d.decomp_size, list >= KVN_SCAN_LIST_OFF16_HIGH ? KVN_OFF16_MAX_ENTRIES : KVN_STREAM_MAX_SYMBOLS);
            EXPECT_LE(uint64_t(d.src_off) + d.comp_size, b.payload.size());
            ref::huffDecode(b.payload.data() + d.src_off, d.comp_size, d.decomp_size, areas[list]->data() + d.dst_off);
        }
    }
    // The compaction's order: per slot the high half, then the low half.
    std::vector<KvnRawOff16Desc> raw;
    for (uint32_t g = 0; g < n; ++g) {
        for (int half = 0; half < 2; ++half) {
            const KvnScanRawDesc& d = lists.raw[half][g];
            if (!reached[g] || !d.present) continue;
            EXPECT_EQ(d.dst_off, g * KVN_SUBCHUNK_SIZE + (half ? KVN_OFF16_LOW_OFFSET : 0));
            raw.push_back({d.src_off, d.len, d.dst_off});
        }
    }
    s.off16 = runGather(backend, b.payload, uint32_t(b.payload.size()), raw, 2 * n, s.off16);
    return s;
}

TEST_P(ScanParse, ListedStreamsRebuildTheScratchTheLzDecodeNeeds) {
    onBackend(GetParam(), false, [] {
        std::vector<Batch> batches = fixtureBatches();
        for (Batch& b : damagedBatches()) batches.push_back(std::move(b));
        for (const Batch& b : batches) {
            SCOPED_TRACE(b.name);
            const Scratch s = scratchFromScan(GetParam(), b);
            EXPECT_TRUE(sameBytes(runLz(GetParam(), b, {LzKernel::General, &s}), referenceOutput(b, kGuardBytes, kGuardFill)));
        }
    });
}

// Stored sub-chunks, stored and byte-fill chunks and chunks of kind 3 record
// nothing, though the stored bytes read like Huffman stream headers.
TEST_P(ScanParse, SubChunksWithoutStreamsLeaveTheirSlotsEmpty) {
    onBackend(GetParam(), false, [] {
        std::vector<uint8_t> stored_body = {0x88, 0x00, 24};  // valid, plain literals, 24 bytes
        for (uint32_t i = 0; i < 24; ++i) stored_body.push_back(uint8_t(0x40 + (i % 3) * 0x40));
        Batch b;
        b.name = "no streams";
        b.payload = stored_body;
        b.descs = {{0, uint32_t(stored_body.size()), 24, 0, KVN_CHUNK_KIND_CODED, 0, {}},
                   {0, 27, 27, 24, KVN_CHUNK_KIND_STORED, 0, {}},
                   {0, 0, 50, 51, KVN_CHUNK_KIND_FILL, 7, {}},
                   {0, 27, 27, 101, 3, 0, {}}};
        b.out_len = 128;
        const ScanLists lists = runScanParse(GetParam(), b);
        for (uint32_t g = 0; g < subChunkTotal(b); ++g) {
            for (const auto& l : lists.huff) EXPECT_EQ(l[g].present, 0u) << "slot " << g;
            for (const auto& l : lists.raw) EXPECT_EQ(l[g].present, 0u) << "slot " << g;
        }
    });
}

// A stored half never fills more than its 65536 bytes, and a copy stops at
// the payload end.
TEST_P(ScanParse, GatherCapsEachHalfAndStopsAtThePayloadEnd) {
    onBackend(GetParam(), false, [] {
        std::vector<uint8_t> payload(100000);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 13 + 5);
        const uint32_t end = 90000;
        const std::vector<KvnRawOff16Desc> list = {
            {0, 70000, 0},                 // longer than a half
            {80000, 30000, 65536},         // runs past the payload end
            {95000, 10, 131072},           // starts past the payload end
            {1000, 0, 131072 + 65536}};    // empty
        std::vector<uint8_t> region(4 * 65536 + 64, 0xEE);
        std::vector<uint8_t> expected = region;
        std::copy(payload.begin(), payload.begin() + 65536, expected.begin());
        std::copy(payload.begin() + 80000, payload.begin() + end, expected.begin() + 65536);
        EXPECT_TRUE(sameBytes(runGather(GetParam(), payload, end, list, 6, region), expected));
    });
}

INSTANTIATE_TEST_SUITE_P(Backends, ScanParse, ::testing::Values(Backend::Host, Backend::Lavapipe), caseName);

}  // namespace
}  // namespace kvn::dectest
