#include "huffman_batch.h"

#include <algorithm>
#include <random>
#include <stdexcept>

#include "core/integrity/sample_data.h"

#include "reference/ref_huffman.h"

namespace kvn::test {

void HuffBatch::add(uint32_t list, uint32_t slot, const std::vector<uint8_t>& coded, uint32_t count, uint32_t gap) {
    for (uint32_t later = list + 1; later < 4; ++later)
        if (list_counts[later] != 0) throw std::logic_error("Huffman lists are added in order");
    std::mt19937 rng(uint32_t(payload.size()) + gap);
    for (uint32_t i = 0; i < gap; ++i) payload.push_back(uint8_t(rng()));
    const uint32_t dst = slot * KVN_SUBCHUNK_SIZE + (list == KVN_SCAN_LIST_OFF16_LOW ? KVN_OFF16_LOW_OFFSET : 0);
    const uint32_t index = uint32_t(descs.size());
    descs.push_back({uint32_t(payload.size()), uint32_t(coded.size()), dst, count, index * KVN_HUFF_LUT_ENTRIES});
    payload.insert(payload.end(), coded.begin(), coded.end());
    list_counts[list]++;
    slots = std::max(slots, slot + 1);
}

uint32_t areaOfList(uint32_t list) { return std::min<uint32_t>(list, 2); }

HuffOutputs referenceOutputs(const HuffBatch& batch) {
    HuffOutputs out;
    out.luts.assign(batch.lutWords(), kGuardWord);
    for (auto& area : out.areas) area.assign(batch.areaBytes(), kGuardByte);
    uint32_t index = 0;
    for (uint32_t list = 0; list < 4; ++list) {
        const uint32_t cap = list >= KVN_SCAN_LIST_OFF16_HIGH ? KVN_OFF16_MAX_ENTRIES : KVN_STREAM_MAX_SYMBOLS;
        for (uint32_t k = 0; k < batch.list_counts[list]; ++k, ++index) {
            const KvnHuffDecChunkDesc& d = batch.descs[index];
            const uint8_t* coded = batch.payload.data() + d.src_off;
            std::array<uint8_t, KVN_HUFF_LENGTHS_BYTES> nibbles{};
            std::copy_n(coded, std::min<uint32_t>(d.comp_size, KVN_HUFF_LENGTHS_BYTES), nibbles.begin());
            const ref::HuffLut lut = ref::huffBuildLut(nibbles.data());
            std::copy(lut.begin(), lut.end(), out.luts.begin() + d.lut_off);
            ref::huffDecode(coded, d.comp_size, std::min(d.decomp_size, cap), out.areas[areaOfList(list)].data() + d.dst_off);
        }
    }
    return out;
}

std::vector<uint8_t> textBytes(size_t n, size_t skip) {
    static const std::vector<uint8_t> text = systemHeaderBytes(4 << 20);  // read once per program
    if (n + skip > text.size()) throw std::invalid_argument("more text than the sample holds");
    return std::vector<uint8_t>(text.begin() + skip, text.begin() + skip + n);
}

std::vector<uint8_t> skewedBytes(size_t n, uint32_t seed, double p) {
    std::mt19937 rng(seed);
    std::geometric_distribution<uint32_t> dist(p);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out) b = uint8_t(std::min<uint32_t>(dist(rng), 255));
    return out;
}

}  // namespace kvn::test
