// The Huffman jobs of a frame: one stream descriptor per sub-chunk and stream
// kind, each with room for its worst case, placed one after the other in the
// kind's output buffer, so that every coded stream's place is fixed before
// any is coded.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/format/chunk_records.h"

namespace kvn {

enum class HuffKind : uint32_t { Literals = 0, Tokens = 1 };

// An off16 stream is coded as two byte streams from this many entries up.
inline constexpr uint32_t kOff16CodedMin = 32;

// Output room of a stream of n symbols: (2n + 359) rounded down to whole
// words; 0 for no symbols.
uint32_t huffCapacity(uint32_t n);

// The lane scratch width W the encoder needs for these jobs: twice a lane's
// share of the longest stream plus 143, rounded down to 16 bytes.
uint32_t huffLaneWidth(std::span<const HuffEncodeDesc> jobs);

// One job per scan record for the literal or token stream (count 0 where the
// stream is absent). Returns the output bytes the jobs need.
uint64_t streamJobs(std::span<const LzStreamScan> scans, HuffKind kind, std::vector<HuffEncodeDesc>& jobs);

// Two jobs per scan record over the off16 entries as byte streams (stride
// 2): job i the high bytes, job count + i the low bytes, side by side in the
// output; only for kOff16CodedMin entries or more (count 0 otherwise).
uint64_t off16Jobs(std::span<const LzStreamScan> scans, std::vector<HuffEncodeDesc>& jobs);

}  // namespace kvn
