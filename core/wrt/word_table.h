// The hash table in which the WRT encoder counts the words of a text, keyed
// by the lower-cased word. Open addressing with linear probing over a slot
// array that is never more than half full: it starts small and doubles up to
// kWordTableMaxSlots, where the record limit keeps it half full. A text with
// few distinct words so keeps its table in cache, and the counts are those a
// table of the largest size would give.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/errors.h"

namespace kvn {

inline constexpr uint32_t kWordTableFirstSlots = 0x10000;
inline constexpr uint32_t kWordTableMaxSlots = 0x800000;
inline constexpr uint32_t kWordTableMaxRecords = 0x400000;

struct WordRecord {
    uint32_t arena_offset;
    uint32_t count;  // occurrences; after selection the code number (index + 1), 0 when not selected
    uint8_t length;
};

struct WordTable {
    uint32_t* slots = nullptr;  // record index + 1, 0 = empty
    uint32_t slot_mask = 0;     // slot count - 1
    uint8_t* arena = nullptr;   // lower-cased words back to back
    size_t arena_size = 0;
    size_t arena_capacity = 0;
    WordRecord* records = nullptr;
    uint32_t record_count = 0;
    uint32_t record_capacity = 0;
    Error status = Error::None;  // first error of the worker that filled the table
    bool live = false;           // owns its arrays

    WordTable() = default;
    WordTable(WordTable&& other) noexcept;
    WordTable& operator=(WordTable&& other) noexcept;
    ~WordTable();

    const uint8_t* word(const WordRecord& record) const { return arena + record.arena_offset; }
};

// FNV-1a, 32 bit; the GPU encoder hashes words the same way.
inline uint32_t wrtWordHash(const uint8_t* word, uint32_t length) {
    uint32_t h = 0x811C9DC5u;
    for (uint32_t i = 0; i < length; ++i) h = (h ^ word[i]) * 16777619u;
    return h;
}

// Allocates the first, zeroed slot array; the table is empty and live afterwards.
Error wordTableInit(WordTable* table);
void wordTableDeinit(WordTable* table);

// Finds or adds a lower-cased word of 3..32 bytes. `DictFull` once the table
// holds its maximum number of records; `OutOfMemory` when it cannot grow.
Error wordTableInsert(WordTable* table, const uint8_t* word, uint32_t length, uint32_t* index);

// The record index of a word, or -1 when the table does not hold it.
int64_t wordTableFind(const WordTable& table, const uint8_t* word, uint32_t length);

// Counts every word whose first letter lies in [start, end); the word may run
// on past `end`. Words that no longer fit the table are not counted.
Error countWords(WordTable* table, const uint8_t* text, size_t text_size, size_t start, size_t end);

}  // namespace kvn
