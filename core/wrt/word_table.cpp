#include "core/wrt/word_table.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/platform/platform.h"
#include "core/wrt/wrt_format.h"

namespace kvn {
namespace {

// Grows a malloc'd array by about half again so that appends stay amortised.
template <typename T>
bool growArray(T** array, size_t* capacity, size_t needed, size_t first_capacity) {
    if (needed <= *capacity) return true;
    size_t grown = *capacity ? *capacity + *capacity / 2 : first_capacity;
    if (grown < needed) grown = needed;
    void* moved = std::realloc(*array, grown * sizeof(T));
    if (!moved) return false;
    *array = static_cast<T*>(moved);
    *capacity = grown;
    return true;
}

// Allocates an empty slot array of `count` slots (a power of two).
Error allocateSlots(WordTable* table, uint32_t count) {
    // Probes land anywhere in the array: huge pages spare most TLB misses.
    auto* slots = static_cast<uint32_t*>(allocHugePages(size_t{count} * sizeof(uint32_t)));
    if (!slots) return Error::OutOfMemory;
    // Fresh pages read as zero, but a probe that reads a page before any
    // insert writes it maps the shared zero page, and the later write fault
    // then stops every thread of the process for a TLB flush. One write per
    // page up front commits the pages (zeroed by the system) without that.
    for (size_t i = 0; i < count; i += 4096 / sizeof(uint32_t)) slots[i] = 0;
    table->slots = slots;
    table->slot_mask = count - 1;
    return Error::None;
}

void freeSlots(WordTable* table) {
    if (table->slots) freePages(table->slots, (size_t{table->slot_mask} + 1) * sizeof(uint32_t));
    table->slots = nullptr;
    table->slot_mask = 0;
}

// Doubles the slot array and places every record again.
Error growSlots(WordTable* table) {
    WordTable grown;
    KVN_TRY(allocateSlots(&grown, (table->slot_mask + 1) * 2));
    for (uint32_t r = 0; r < table->record_count; ++r) {
        const WordRecord& record = table->records[r];
        uint32_t h = wrtWordHash(table->word(record), record.length) & grown.slot_mask;
        while (grown.slots[h] != 0) h = (h + 1) & grown.slot_mask;
        grown.slots[h] = r + 1;
    }
    freeSlots(table);
    table->slots = std::exchange(grown.slots, nullptr);
    table->slot_mask = std::exchange(grown.slot_mask, 0);
    return Error::None;
}

bool sameWord(const WordTable& table, uint32_t index, const uint8_t* word, uint32_t length) {
    const WordRecord& r = table.records[index];
    return r.length == length && std::memcmp(table.arena + r.arena_offset, word, length) == 0;
}

}  // namespace

WordTable::WordTable(WordTable&& other) noexcept { *this = std::move(other); }

WordTable& WordTable::operator=(WordTable&& other) noexcept {
    if (this != &other) {
        wordTableDeinit(this);
        slots = std::exchange(other.slots, nullptr);
        slot_mask = std::exchange(other.slot_mask, 0);
        arena = std::exchange(other.arena, nullptr);
        arena_size = std::exchange(other.arena_size, 0);
        arena_capacity = std::exchange(other.arena_capacity, 0);
        records = std::exchange(other.records, nullptr);
        record_count = std::exchange(other.record_count, 0);
        record_capacity = std::exchange(other.record_capacity, 0);
        status = std::exchange(other.status, Error::None);
        live = std::exchange(other.live, false);
    }
    return *this;
}

WordTable::~WordTable() { wordTableDeinit(this); }

Error wordTableInit(WordTable* table) {
    wordTableDeinit(table);
    Error e = allocateSlots(table, kWordTableFirstSlots);
    if (e == Error::None) table->live = true;
    return e;
}

void wordTableDeinit(WordTable* table) {
    freeSlots(table);
    std::free(table->arena);
    std::free(table->records);
    table->arena = nullptr;
    table->records = nullptr;
    table->arena_size = table->arena_capacity = 0;
    table->record_count = table->record_capacity = 0;
    table->live = false;
}

Error wordTableInsert(WordTable* table, const uint8_t* word, uint32_t length, uint32_t* index) {
    uint32_t h = wrtWordHash(word, length) & table->slot_mask;
    for (uint32_t slot; (slot = table->slots[h]) != 0; h = (h + 1) & table->slot_mask) {
        if (sameWord(*table, slot - 1, word, length)) {
            *index = slot - 1;
            return Error::None;
        }
    }
    if (table->record_count >= kWordTableMaxRecords) return Error::DictFull;
    if (size_t{table->record_count} + 1 > (size_t{table->slot_mask} + 1) / 2) {
        KVN_TRY(growSlots(table));
        h = wrtWordHash(word, length) & table->slot_mask;
        while (table->slots[h] != 0) h = (h + 1) & table->slot_mask;
    }

    size_t record_capacity = table->record_capacity;
    if (!growArray(&table->arena, &table->arena_capacity, table->arena_size + length, size_t{1} << 16) ||
        !growArray(&table->records, &record_capacity, size_t{table->record_count} + 1, size_t{1} << 12))
        return Error::OutOfMemory;
    table->record_capacity = uint32_t(record_capacity);

    std::memcpy(table->arena + table->arena_size, word, length);
    uint32_t added = table->record_count++;
    table->records[added] = WordRecord{uint32_t(table->arena_size), 0, uint8_t(length)};
    table->arena_size += length;
    table->slots[h] = added + 1;
    *index = added;
    return Error::None;
}

int64_t wordTableFind(const WordTable& table, const uint8_t* word, uint32_t length) {
    uint32_t h = wrtWordHash(word, length) & table.slot_mask;
    for (uint32_t slot; (slot = table.slots[h]) != 0; h = (h + 1) & table.slot_mask)
        if (sameWord(table, slot - 1, word, length)) return slot - 1;
    return -1;
}

Error countWords(WordTable* table, const uint8_t* text, size_t text_size, size_t start, size_t end) {
    size_t i = start;
    // A run that began before `start` belongs to the range before this one.
    if (i > 0) {
        while (i < text_size && isWrtLetter(text[i - 1]) && isWrtLetter(text[i])) ++i;
    }
    uint8_t lower[kWrtMaxWordLength];
    while (i < end) {
        if (!isWrtLetter(text[i])) {
            ++i;
            continue;
        }
        size_t run = i;
        while (i < text_size && isWrtLetter(text[i])) ++i;
        size_t length = i - run;
        if (length < kWrtMinWordLength || length > kWrtMaxWordLength) continue;
        for (size_t k = 0; k < length; ++k) lower[k] = text[run + k] | 0x20;
        uint32_t index;
        Error e = wordTableInsert(table, lower, uint32_t(length), &index);
        if (e == Error::DictFull) continue;
        if (e != Error::None) return e;
        ++table->records[index].count;
    }
    return Error::None;
}

}  // namespace kvn
