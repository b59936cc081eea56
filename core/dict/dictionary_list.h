// The user dictionaries of one side of a handle (encoder or decoder). Each side
// keeps its own private copy of every registered dictionary.
#pragma once

#include <cstdint>
#include <span>

#include "core/errors.h"

namespace kvn {

struct DictionaryEntry {
    uint8_t* data;  // owned by the list
    uint64_t length;
    uint32_t id;
};

// An all-zero list is a valid empty list. Entries are never removed one by
// one: clear() frees them all at once when the handle goes away.
class DictionaryList {
public:
    DictionaryList() = default;
    ~DictionaryList() { clear(); }
    DictionaryList(const DictionaryList&) = delete;
    DictionaryList& operator=(const DictionaryList&) = delete;

    std::span<const DictionaryEntry> entries() const { return {entries_, count_}; }

    // The first entry with this id, whether or not it holds data.
    const DictionaryEntry* find(uint32_t id) const;

    // Appending is split in two so that a caller can prepare several lists
    // and then change all of them without any step left that can fail.
    // reserveOne() makes room for one more entry (OutOfMemory when it cannot);
    // after it, append() takes ownership of entry.data and cannot fail.
    Error reserveOne();
    void append(const DictionaryEntry& entry);

    // Frees every copy and the list itself, leaving it empty.
    void clear();

private:
    DictionaryEntry* entries_ = nullptr;
    uint64_t count_ = 0;
    uint64_t capacity_ = 0;
};

// A private copy of bytes for a list entry, or nullptr when memory runs out.
uint8_t* copyDictionaryBytes(const uint8_t* bytes, uint64_t length);
void freeDictionaryBytes(uint8_t* copy);

// Test seam for every allocation above: the next `after` allocations succeed,
// the one after fails, and later ones succeed again. A negative value disarms it.
void injectDictionaryAllocFailure(int after);

}  // namespace kvn
