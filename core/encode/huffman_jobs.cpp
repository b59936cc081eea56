#include "core/encode/huffman_jobs.h"

#include <algorithm>

namespace kvn {

uint32_t huffCapacity(uint32_t n) { return n == 0 ? 0 : (2 * n + KVN_HUFF_CAPACITY_SLACK) & ~3u; }

uint32_t huffLaneWidth(std::span<const HuffEncodeDesc> jobs) {
    uint32_t largest = 0;
    for (const HuffEncodeDesc& j : jobs) largest = std::max(largest, j.count);
    return ((largest >> 5) * 2 + 143) & ~15u;
}

uint64_t streamJobs(std::span<const LzStreamScan> scans, HuffKind kind, std::vector<HuffEncodeDesc>& jobs) {
    jobs.clear();
    uint64_t at = 0;
    for (const LzStreamScan& s : scans) {
        const bool literals = kind == HuffKind::Literals;
        const uint32_t n = literals ? s.lit_count : s.tok_count;
        jobs.push_back({literals ? s.lit_off : s.tok_off, n, 1, uint32_t(at), huffCapacity(n)});
        at += huffCapacity(n);
    }
    return at;
}

uint64_t off16Jobs(std::span<const LzStreamScan> scans, std::vector<HuffEncodeDesc>& jobs) {
    const size_t count = scans.size();
    jobs.assign(2 * count, HuffEncodeDesc{0, 0, 2, 0, 0});
    uint64_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        const LzStreamScan& s = scans[i];
        if (s.off16_count < kOff16CodedMin || s.off16_off == 0) continue;
        const uint32_t cap = huffCapacity(s.off16_count);
        jobs[i] = {s.off16_off + 1, s.off16_count, 2, uint32_t(at), cap};
        jobs[count + i] = {s.off16_off, s.off16_count, 2, uint32_t(at + cap), cap};
        at += 2 * uint64_t(cap);
    }
    return at;
}

}  // namespace kvn
