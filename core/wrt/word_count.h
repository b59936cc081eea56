// Counting the words of a whole text: one table on the calling thread for
// small inputs, else one table per range on up to 16 threads, merged pairwise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/errors.h"
#include "core/wrt/word_table.h"

namespace kvn {

// Inputs from this size up are counted in parallel; below it the slot
// arrays of the extra tables cost more than the threads save.
inline constexpr size_t kWrtParallelCountMin = 0x100000;

// Splits the text into `ranges` counting ranges: starts[i] for i <= ranges,
// starts[0] = 0 and starts[ranges] = n. Each inner start is n x i / ranges,
// moved past the letter run it falls in so that every word is counted once.
void wrtCountRangeStarts(const uint8_t* text, size_t n, uint32_t ranges, size_t* starts);

// Counts every word of the text into `total`. `OutOfMemory` when a table
// cannot grow; `Unexpected` when a worker thread cannot be started.
Error countTextWords(const uint8_t* text, size_t n, uint32_t processors, WordTable* total);

}  // namespace kvn
