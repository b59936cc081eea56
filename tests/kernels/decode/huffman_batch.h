// A batch of Huffman streams as the decode pipeline hands it to the Huffman
// kernels (merged descriptor list, list counts, payload), built with the
// reference encoder, and what the reference decoder makes of it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/format/chunk_records.h"
#include "core/format/chunk_test_data.h"

namespace kvn::test {

// The decoded-stream areas the decode kernel writes: literals, tokens, off16.
inline constexpr uint32_t kHuffAreas = 3;
// Bytes that every area and the table array carry past their last slot, to
// show writes beyond it.
inline constexpr uint32_t kGuardBytes = 4096;
inline constexpr uint8_t kGuardByte = 0xA5;
inline constexpr uint32_t kGuardWord = 0xA5A5A5A5u;

struct HuffBatch {
    std::vector<uint8_t> payload;
    std::vector<KvnHuffDecChunkDesc> descs;     // literal, token, off16-high, off16-low lists in order
    std::array<uint32_t, 4> list_counts{};      // streams per list
    uint32_t slots = 1;                         // scratch slots (sub-chunks) of each area

    // Appends a stream of list `list` (KVN_SCAN_LIST_*) for sub-chunk `slot`:
    // coded bytes after `gap` garbage bytes, announcing `count` symbols.
    // Lists must be added in order.
    void add(uint32_t list, uint32_t slot, const std::vector<uint8_t>& coded, uint32_t count, uint32_t gap = 0);

    uint32_t areaBytes() const { return slots * KVN_SUBCHUNK_SIZE + kGuardBytes; }
    uint32_t lutWords() const { return uint32_t(descs.size()) * KVN_HUFF_LUT_ENTRIES + kGuardBytes / 4; }
};

struct HuffOutputs {
    std::vector<uint32_t> luts;
    std::array<std::vector<uint8_t>, kHuffAreas> areas;
    bool operator==(const HuffOutputs&) const = default;
};

// What the kernels must leave in guard-filled buffers: each stream's table
// and its capped symbol count decoded by the reference decoder.
HuffOutputs referenceOutputs(const HuffBatch& batch);

// The area a stream of list `list` decodes into.
uint32_t areaOfList(uint32_t list);

// Test data (with randomBytes of chunk_test_data.h): n bytes of the system
// headers from byte `skip` on, and geometric byte distributions (p = 0.5
// pushes the rare symbols to 11 bits).
std::vector<uint8_t> textBytes(size_t n, size_t skip = 0);
std::vector<uint8_t> skewedBytes(size_t n, uint32_t seed, double p = 0.03);

}  // namespace kvn::test
