// One launch of an LZ or sub-chunk kernel over a batch on either backend.
#pragma once

#include <cstdint>
#include <vector>

#include "decode_rig.h"
#include "lz_batches.h"

namespace kvn::dectest {

enum class LzKernel { General, Raw, Pipelined };

inline constexpr uint32_t kGuardBytes = 96;
inline constexpr uint8_t kGuardFill = 0x5A;

struct LzRun {
    LzKernel kernel = LzKernel::General;
    const Scratch* scratch = nullptr;  // general kernel: the Huffman stage's output; null = none
    uint32_t chunks_per_item = 0;      // 0: the batch's own
    std::vector<uint32_t>* leaves = nullptr;  // pipelined kernel on the host: one leaf hash per chunk
    uint32_t* status = nullptr;               // the KVN_LZ_STATUS_* bits the launch reported
};

// The output buffer (out_len bytes and a guard, all starting as kGuardFill)
// after one launch.
std::vector<uint8_t> runLz(Backend backend, const Batch& b, const LzRun& run);

// The six scan lists (four Huffman, two stored-half) after kvnScanParseKernel.
struct ScanLists {
    std::vector<KvnScanHuffDesc> huff[4];
    std::vector<KvnScanRawDesc> raw[2];
};
ScanLists runScanParse(Backend backend, const Batch& b);

// The off16 region after kvnGatherRawOff16Kernel over `list` (count entries
// read from the count cell), starting from `region`.
std::vector<uint8_t> runGather(Backend backend, const std::vector<uint8_t>& payload, uint32_t payload_end,
                               const std::vector<KvnRawOff16Desc>& list, uint32_t slots, std::vector<uint8_t> region);

}  // namespace kvn::dectest

namespace kvn::dectest {

// Equal byte vectors; on a difference, the first differing offset and the
// lengths rather than both vectors.
inline ::testing::AssertionResult sameBytes(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
    auto at = [&](const std::vector<uint8_t>& v) { return i < v.size() ? std::to_string(v[i]) : std::string("end"); };
    return ::testing::AssertionFailure() << "first difference at byte " << i << " of " << actual.size() << " / "
                                         << expected.size() << ": " << at(actual) << " instead of " << at(expected);
}

}  // namespace kvn::dectest
