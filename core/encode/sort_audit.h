// Checks of the sort-parse pre-passes' results for one sub-chunk, read back
// from its workspace region on the host: the sorted keys (six source bytes
// over the position, strictly increasing, every position once) and a
// candidate table (per position (length << 16) | distance, 0 for none).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace kvn {

// Where a sub-chunk first fails a check: the reason as the audit lines name
// it, and the sorted index (keys) or position (candidates).
struct SortAuditFailure {
    const char* reason;
    uint64_t at;
};

// Sampled content checks: every this many sorted indices for the keys, at
// positions that are a multiple of this for the candidates.
inline constexpr uint64_t kSortKeySample = 997;
inline constexpr uint64_t kCandidateSample = 31;

// `keys` holds the sub-chunk's n sorted keys and `source` its n bytes
// (empty: the content is not checked). Nothing when they pass.
std::optional<SortAuditFailure> checkSortedKeys(std::span<const uint64_t> keys, std::span<const uint8_t> source);

// `words` holds the sub-chunk's n candidate words and `source` its n bytes
// (empty: the content is not checked); `records` grows by the nonzero words
// seen before a failure.
std::optional<SortAuditFailure> checkCandidates(std::span<const uint32_t> words, std::span<const uint8_t> source,
                                                uint64_t& records);

}  // namespace kvn
