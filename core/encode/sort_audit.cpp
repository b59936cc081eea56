#include "core/encode/sort_audit.h"

#include <cstring>
#include <vector>

#include "kernels/lz_sort_layout.h"

namespace kvn {
namespace {

constexpr uint32_t kKeyBytes = 6;
constexpr uint64_t kPositionMask = 0xFFFF;
constexpr uint32_t kMinDistance = 8;
constexpr uint32_t kMinLength = KVN_SORT_MIN_MATCH;
constexpr uint32_t kMaxLength = KVN_SORT_MAX_CAND_LEN;

// The key the builder writes for position p: the six bytes at p (0 past the
// end), most significant first, over the position.
uint64_t keyOf(std::span<const uint8_t> source, uint64_t p) {
    uint64_t key = 0;
    for (uint32_t k = 0; k < kKeyBytes; ++k) key = key << 8 | (p + k < source.size() ? source[p + k] : 0u);
    return key << 16 | p;
}

}  // namespace

std::optional<SortAuditFailure> checkSortedKeys(std::span<const uint64_t> keys, std::span<const uint8_t> source) {
    const uint64_t n = keys.size();
    std::vector<bool> seen(kPositionMask + 1, false);
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t pos = keys[i] & kPositionMask;
        if (pos >= n) return SortAuditFailure{"pos out of range", i};
        if (seen[pos]) return SortAuditFailure{"pos duplicated", i};
        seen[pos] = true;
        if (i > 0 && keys[i] <= keys[i - 1]) return SortAuditFailure{"not strictly increasing", i};
        if (!source.empty() && i % kSortKeySample == 0 && keys[i] != keyOf(source, pos))
            return SortAuditFailure{"content mismatch", i};
    }
    return std::nullopt;
}

std::optional<SortAuditFailure> checkCandidates(std::span<const uint32_t> words, std::span<const uint8_t> source,
                                                uint64_t& records) {
    const uint64_t n = words.size();
    for (uint64_t i = 0; i < n; ++i) {
        const uint32_t w = words[i];
        if (w == 0) continue;
        ++records;
        const uint32_t length = w >> 16, distance = w & 0xFFFF;
        if (distance < kMinDistance || distance > i) return SortAuditFailure{"off out of range", i};
        if (length < kMinLength || length > kMaxLength || i + length > n)
            return SortAuditFailure{"len out of range", i};
        if (!source.empty() && i % kCandidateSample == 0 &&
            std::memcmp(source.data() + i - distance, source.data() + i, length) != 0)
            return SortAuditFailure{"stated length does not match (overstatement)", i};
    }
    return std::nullopt;
}

}  // namespace kvn
