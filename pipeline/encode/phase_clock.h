// Process-wide totals of the host time the body encoder spends in each of
// its phases, kept when the library profiles phases (asked once per
// process). Nothing prints them: they are there for a debugger or a test.
#pragma once

#include <cstdint>

namespace kvn {

enum class EncodePhase : uint32_t { Lz, Huffman, Assembly };
inline constexpr uint32_t kEncodePhases = 3;

// Host time in nanoseconds when phases are profiled, else 0.
uint64_t phaseClockNow();

// Adds the time since `start` (a phaseClockNow reading; 0 adds nothing)
// and returns the reading it took, the next phase's start.
uint64_t addPhaseTime(EncodePhase phase, uint64_t start);

// Nanoseconds spent in the phase so far in this process.
uint64_t encodePhaseTotal(EncodePhase phase);

}  // namespace kvn
