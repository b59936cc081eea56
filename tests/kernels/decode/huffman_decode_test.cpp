// The Huffman table-build and decode kernels against the reference decoder:
// tables entry for entry, decoded scratch byte for byte (guards included).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "huffman_batch.h"
#include "huffman_kernels.h"
#include "reference/ref_huffman.h"

namespace kvn::test {
namespace {

// ---- tables ---------------------------------------------------------------------

std::vector<uint8_t> nibblesOf(const ref::CodeLengths& lengths) {
    std::vector<uint8_t> nibbles(KVN_HUFF_LENGTHS_BYTES);
    for (uint32_t j = 0; j < KVN_HUFF_LENGTHS_BYTES; ++j) nibbles[j] = uint8_t(lengths[2 * j] | lengths[2 * j + 1] << 4);
    return nibbles;
}

ref::CodeLengths lengthsOf(std::initializer_list<std::pair<uint32_t, uint8_t>> symbols) {
    ref::CodeLengths lengths{};
    for (auto [s, l] : symbols) lengths[s] = l;
    return lengths;
}

struct LengthCase {
    const char* name;
    std::vector<uint8_t> nibbles;
};

std::vector<LengthCase> lengthCases() {
    std::vector<LengthCase> cases;
    cases.push_back({"single symbol", nibblesOf(lengthsOf({{0x41, 1}}))});
    cases.push_back({"codes 0, 10, 11", nibblesOf(lengthsOf({{0x41, 1}, {0x42, 2}, {0x43, 2}}))});
    ref::CodeLengths all8;
    all8.fill(8);
    cases.push_back({"all 256 of length 8", nibblesOf(all8)});
    // One symbol of each length 1 to 10, then two of 11: codes 2046 and 2047 share slot 1023.
    ref::CodeLengths chain{};
    for (uint32_t l = 1; l <= 10; ++l) chain[l * 7] = uint8_t(l);
    chain[200] = chain[3] = 11;
    cases.push_back({"11-bit codes 2046 and 2047", nibblesOf(chain)});
    const std::vector<uint8_t> steep = skewedBytes(100000, 7, 0.5);
    const ref::CodeLengths steep_lengths = ref::huffCodeLengths(steep.data(), uint32_t(steep.size()), 1);
    EXPECT_EQ(*std::max_element(steep_lengths.begin(), steep_lengths.end()), KVN_HUFF_MAX_CODE_LEN);
    cases.push_back({"encoder lengths up to 11", nibblesOf(steep_lengths)});
    const std::vector<uint8_t> text = textBytes(60000);
    cases.push_back({"encoder lengths of text", nibblesOf(ref::huffCodeLengths(text.data(), 60000, 1))});
    ref::CodeLengths ones;
    ones.fill(1);
    cases.push_back({"over-subscribed: 256 of length 1", nibblesOf(ones)});
    ref::CodeLengths sevens{};
    for (uint32_t s = 0; s < 200; ++s) sevens[s] = 7;
    cases.push_back({"over-subscribed: 200 of length 7", nibblesOf(sevens)});
    ref::CodeLengths twelves{};
    for (uint32_t s = 0; s < 256; ++s) twelves[s] = uint8_t(s % 3 == 0 ? 12 : (s % 3 == 1 ? 11 : 14));
    cases.push_back({"lengths 11, 12 and 14", nibblesOf(twelves)});
    cases.push_back({"no symbols", std::vector<uint8_t>(KVN_HUFF_LENGTHS_BYTES, 0)});
    for (uint32_t seed = 1; seed <= 4; ++seed) cases.push_back({"damaged: random nibbles", randomBytes(KVN_HUFF_LENGTHS_BYTES, seed)});
    cases.push_back({"cut short: 40 of 128 length bytes", std::vector<uint8_t>(40, 0x54)});
    return cases;
}

class HuffmanKernels : public ::testing::TestWithParam<KernelBackend> {};

TEST_P(HuffmanKernels, TablesMatchTheReferenceEntryForEntry) {
    HuffBatch batch;
    const std::vector<LengthCase> cases = lengthCases();
    for (const LengthCase& c : cases) batch.add(KVN_SCAN_LIST_LITERALS, 0, c.nibbles, 0, 3);
    const HuffOutputs want = referenceOutputs(batch);
    const HuffOutputs got = runHuffman(GetParam(), batch);
    ASSERT_EQ(got.luts.size(), want.luts.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        for (uint32_t slot = 0; slot < KVN_HUFF_LUT_ENTRIES; ++slot) {
            const size_t at = i * KVN_HUFF_LUT_ENTRIES + slot;
            ASSERT_EQ(got.luts[at], want.luts[at]) << cases[i].name << ", slot " << slot;
        }
    }
    EXPECT_EQ(got, want) << "guard words after the last table, or a scratch byte, changed";
}

// ---- well-formed streams ----------------------------------------------------------

struct Source {
    std::vector<uint8_t> symbols;
    uint32_t list;
};

// Symbol counts around the lane split (q = 0, 1, 2) and up to a full sub-chunk;
// an empty stream writes nothing.
constexpr uint32_t kCounts[] = {0, 1, 31, 32, 33, 63, 64, 65, 1000, 4097, 65536, 131071, 131072};

TEST_P(HuffmanKernels, StreamsDecodeToTheirSymbols) {
    std::vector<std::vector<Source>> batches(2);
    uint32_t seed = 1;
    for (uint32_t n : kCounts) {
        std::vector<Source>& sources = batches[n > 4097];
        sources.push_back({textBytes(n, n * 13), KVN_SCAN_LIST_LITERALS});
        sources.push_back({randomBytes(n, seed++), KVN_SCAN_LIST_LITERALS});
        sources.push_back({skewedBytes(n, seed++), KVN_SCAN_LIST_TOKENS});
        sources.push_back({skewedBytes(n, seed++, 0.5), KVN_SCAN_LIST_TOKENS});
        sources.push_back({std::vector<uint8_t>(n, uint8_t(seed++)), KVN_SCAN_LIST_TOKENS});
    }
    for (const std::vector<Source>& sources : batches) {
        HuffBatch batch;
        std::vector<std::vector<uint8_t>> originals;
        for (uint32_t list = 0; list < 2; ++list) {
            for (const Source& s : sources) {
                if (s.list != list) continue;
                const uint32_t slot = batch.list_counts[list];
                batch.add(list, slot, ref::huffEncode(s.symbols.data(), uint32_t(s.symbols.size()), 1),
                          uint32_t(s.symbols.size()), slot % 5);
                originals.push_back(s.symbols);
            }
        }
        // Split off16 halves: high and low bytes of 16-bit values, coded with stride 2.
        const std::vector<uint8_t> offsets = textBytes(2 * 40000, 777);
        for (uint32_t half = 0; half < 2; ++half) {
            std::vector<uint8_t> bytes(40000);
            for (uint32_t i = 0; i < 40000; ++i) bytes[i] = offsets[2 * i + 1 - half];
            batch.add(KVN_SCAN_LIST_OFF16_HIGH + half, 1, ref::huffEncode(offsets.data() + 1 - half, 40000, 2), 40000, 2);
            originals.push_back(bytes);
        }

        const HuffOutputs want = referenceOutputs(batch);
        const HuffOutputs got = runHuffman(GetParam(), batch);
        for (size_t i = 0; i < batch.descs.size(); ++i) {
            const KvnHuffDecChunkDesc& d = batch.descs[i];
            uint32_t list = 0;
            for (uint32_t seen = 0; seen + batch.list_counts[list] <= i; ++list) seen += batch.list_counts[list];
            const uint8_t* decoded = got.areas[areaOfList(list)].data() + d.dst_off;
            ASSERT_TRUE(std::equal(originals[i].begin(), originals[i].end(), decoded))
                << "stream " << i << " of " << d.decomp_size << " symbols";
        }
        EXPECT_EQ(got, want);
    }
}

// Counts above what a scratch slot holds are capped: a full slot for literal
// and token streams, half a slot for each off16 half, so the last slot's
// guard bytes stay as they were.
TEST_P(HuffmanKernels, SymbolCountsAreCappedAtTheirSlot) {
    HuffBatch batch;
    const std::vector<uint8_t> full = textBytes(KVN_STREAM_MAX_SYMBOLS, 5);
    const std::vector<uint8_t> coded = ref::huffEncode(full.data(), KVN_STREAM_MAX_SYMBOLS, 1);
    batch.add(KVN_SCAN_LIST_LITERALS, 0, coded, KVN_STREAM_MAX_SYMBOLS + 4000);
    batch.add(KVN_SCAN_LIST_TOKENS, 1, coded, 0xFFFFFFFFu);
    const std::vector<uint8_t> half = skewedBytes(KVN_OFF16_MAX_ENTRIES + 31, 3);
    batch.add(KVN_SCAN_LIST_OFF16_LOW, 1, ref::huffEncode(half.data(), uint32_t(half.size()), 1), uint32_t(half.size()));
    const HuffOutputs got = runHuffman(GetParam(), batch);
    EXPECT_EQ(got, referenceOutputs(batch));
    EXPECT_TRUE(std::equal(full.begin(), full.end(), got.areas[0].begin()));
    EXPECT_TRUE(std::equal(full.begin(), full.end(), got.areas[1].begin() + KVN_SUBCHUNK_SIZE));
}

// ---- damaged streams ----------------------------------------------------------------

std::vector<uint8_t> withByte(std::vector<uint8_t> v, size_t at, uint8_t value) {
    v.at(at) = value;
    return v;
}

std::vector<uint8_t> withWord(std::vector<uint8_t> v, size_t at, uint32_t value) {
    v.at(at + 3);
    std::memcpy(v.data() + at, &value, 4);
    return v;
}

TEST_P(HuffmanKernels, DamagedStreamsStayInsideTheirSlots) {
    const std::vector<uint8_t> text = textBytes(20000, 99);
    const std::vector<uint8_t> good = ref::huffEncode(text.data(), 20000, 1);
    const uint32_t width = good[KVN_HUFF_DELTA_WIDTH_OFF];
    const uint32_t rows_at = KVN_HUFF_DELTAS_OFF + 4 * width;
    const uint32_t body = rows_at + 4;
    uint32_t rows = 0;
    std::memcpy(&rows, &good[rows_at], 4);
    ASSERT_GT(rows, 2u);

    struct Damage {
        std::string name;
        std::vector<uint8_t> coded;
        uint32_t count;
    };
    std::vector<Damage> damages;
    for (uint32_t cut : {0u, 1u, 100u, 128u, 131u, 135u, rows_at + 2, body, body + 127, body + 128 * (rows - 1) + 5,
                         body + 128 * rows, uint32_t(good.size()) - 1}) {
        damages.push_back({"cut to " + std::to_string(cut), std::vector<uint8_t>(good.begin(), good.begin() + cut), 20000});
    }
    damages.push_back({"more rows than bytes", withWord(good, rows_at, 0xFFFFFFFFu), 20000});
    damages.push_back({"no rows", withWord(good, rows_at, 0), 20000});
    damages.push_back({"huge lane length", withByte(withByte(good, 128, 0xFF), 130, 0xFF), 20000});
    damages.push_back({"delta width 255", withByte(good, KVN_HUFF_DELTA_WIDTH_OFF, 255), 20000});
    damages.push_back({"delta width 40", withByte(good, KVN_HUFF_DELTA_WIDTH_OFF, 40), 20000});
    damages.push_back({"flipped code lengths", withByte(withByte(good, 5, 0xFF), 70, 0x00), 20000});
    damages.push_back({"flipped body byte", withByte(good, body + 300, uint8_t(good[body + 300] ^ 0x5A)), 20000});
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        const uint32_t len = seed * seed * 700;
        damages.push_back({"garbage of " + std::to_string(len) + " bytes", randomBytes(len, seed), 1000u * seed * seed * seed});
    }
    damages.push_back({"garbage, full count", randomBytes(3000, 9), KVN_STREAM_MAX_SYMBOLS});

    // Even cases are literal streams, odd ones token streams, each in its own slot.
    HuffBatch sorted;
    for (uint32_t list = 0; list < 2; ++list)
        for (uint32_t i = list; i < damages.size(); i += 2) sorted.add(list, i, damages[i].coded, damages[i].count, 7);
    const HuffOutputs want = referenceOutputs(sorted);
    const HuffOutputs got = runHuffman(GetParam(), sorted);
    for (uint32_t i = 0; i < damages.size(); ++i) {
        const uint32_t area = i % 2;
        const auto slot = [&](const HuffOutputs& o) {
            return std::vector<uint8_t>(o.areas[area].begin() + i * KVN_SUBCHUNK_SIZE,
                                        o.areas[area].begin() + (i + 1) * KVN_SUBCHUNK_SIZE);
        };
        EXPECT_EQ(slot(got), slot(want)) << damages[i].name;
    }
    EXPECT_EQ(got, want);
}

INSTANTIATE_TEST_SUITE_P(Backends, HuffmanKernels, ::testing::ValuesIn(kernelBackends()),
                         [](const auto& info) { return backendName(info.param); });

// ---- the CUDA form's window --------------------------------------------------------

// A window of the merged list, from its first descriptor index, decoded into
// an area that starts at the window's destination base.
TEST(HuffmanKernelWindow, DecodesFromItsFirstDescriptorIntoItsBase) {
    HuffBatch batch;
    for (uint32_t i = 0; i < 4; ++i) {
        const std::vector<uint8_t> symbols = textBytes(3000 + 500 * i, 100 * i);
        batch.add(KVN_SCAN_LIST_LITERALS, i, ref::huffEncode(symbols.data(), uint32_t(symbols.size()), 1),
                  uint32_t(symbols.size()), i);
    }
    const uint32_t first = 2;
    const HuffOutputs got = runHuffmanWindow(batch, first, first * KVN_SUBCHUNK_SIZE);
    const HuffOutputs want = referenceOutputs(batch);
    for (uint32_t slot = 0; slot < 4; ++slot) {
        const auto begin = slot * KVN_SUBCHUNK_SIZE;
        const std::vector<uint8_t> decoded(got.areas[0].begin() + begin, got.areas[0].begin() + begin + KVN_SUBCHUNK_SIZE);
        if (slot < first) {
            EXPECT_EQ(decoded, std::vector<uint8_t>(KVN_SUBCHUNK_SIZE, kGuardByte)) << "slot " << slot;
        } else {
            EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), want.areas[0].begin() + begin)) << "slot " << slot;
        }
    }
}

}  // namespace
}  // namespace kvn::test
