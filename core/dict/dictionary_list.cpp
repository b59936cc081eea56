#include "core/dict/dictionary_list.h"

#include <cstdlib>
#include <cstring>

#include "core/platform/fault_countdown.h"

namespace kvn {
namespace {

FaultCountdown g_alloc_fault;

void* allocate(uint64_t bytes) { return g_alloc_fault.fires() ? nullptr : std::malloc(bytes); }

void* reallocate(void* block, uint64_t bytes) { return g_alloc_fault.fires() ? nullptr : std::realloc(block, bytes); }

}  // namespace

void injectDictionaryAllocFailure(int after) { g_alloc_fault.arm(after); }

uint8_t* copyDictionaryBytes(const uint8_t* bytes, uint64_t length) {
    auto* copy = static_cast<uint8_t*>(allocate(length ? length : 1));
    if (copy && length) std::memcpy(copy, bytes, length);
    return copy;
}

void freeDictionaryBytes(uint8_t* copy) { std::free(copy); }

const DictionaryEntry* DictionaryList::find(uint32_t id) const {
    for (const DictionaryEntry& entry : entries())
        if (entry.id == id) return &entry;
    return nullptr;
}

Error DictionaryList::reserveOne() {
    if (count_ < capacity_) return Error::None;
    uint64_t capacity = capacity_ ? capacity_ * 2 : 4;
    auto* grown = static_cast<DictionaryEntry*>(reallocate(entries_, capacity * sizeof(DictionaryEntry)));
    if (!grown) return Error::OutOfMemory;
    entries_ = grown;
    capacity_ = capacity;
    return Error::None;
}

void DictionaryList::append(const DictionaryEntry& entry) { entries_[count_++] = entry; }

void DictionaryList::clear() {
    for (const DictionaryEntry& entry : entries()) freeDictionaryBytes(entry.data);
    std::free(entries_);
    entries_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}

}  // namespace kvn
