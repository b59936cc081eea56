// Choosing a frame's WRT dictionary from word counts: the words whose codes
// save the most bytes, forty one-byte codes first, then up to 4096 two-byte
// codes. The CPU encoder selects from its word table, the GPU encoder from
// the candidate table it read back from the device; both give the same result.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/wrt/word_table.h"
#include "core/wrt/wrt_format.h"

namespace kvn {

// Bytes a word of L letters counted c times saves with a one-byte code
// (gain1) or a two-byte code (gain2), net of its entry in the section.
struct WrtCandidate {
    uint64_t word_index;
    int64_t gain1;
    int64_t gain2;
};

// Only words seen more often than this can be chosen.
inline constexpr uint32_t kWrtMinCountExclusive = 4;

// A dictionary over a word table: after selection each record's `count`
// holds its code number (index + 1), or 0 when the word was not chosen.
struct WrtDictionary {
    WordTable table;
    WrtSelection selection;  // record indices in code order
};

// Selects from the counts in `table` and, on success, moves the table into
// the dictionary. N may be 0 when no word is frequent enough.
Error selectWrtDictionary(WordTable* table, WrtDictionary* dictionary);
void wrtDictionaryDeinit(WrtDictionary* dictionary);

// The same selection over a candidate table: u8 lengths, 32-byte word slots
// and u32 counts. The arrays are only read.
Error selectWrtWordsFromCandidates(const uint8_t* lengths, const uint8_t* words, const uint32_t* counts,
                                   uint32_t candidate_count, WrtSelection* selection);

}  // namespace kvn
