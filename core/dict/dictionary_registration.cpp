#include "core/dict/dictionary_registration.h"

#include <cstring>

#include "core/integrity/xxh32.h"

namespace kvn {
namespace {

enum class Holding { Absent, Same, Other };

Holding holding(const DictionaryList& list, uint32_t id, const uint8_t* bytes, uint64_t length) {
    const DictionaryEntry* entry = list.find(id);
    if (!entry) return Holding::Absent;
    bool same = entry->data && entry->length == length && std::memcmp(entry->data, bytes, length) == 0;
    return same ? Holding::Same : Holding::Other;
}

// One side's share of a registration: its copy is made and its list has room
// before either side changes.
struct PreparedSide {
    DictionaryList* list = nullptr;
    uint8_t* copy = nullptr;
};

Error prepare(PreparedSide* side, DictionaryList& list, const uint8_t* bytes, uint64_t length) {
    side->list = &list;
    KVN_TRY(list.reserveOne());
    side->copy = copyDictionaryBytes(bytes, length);
    return side->copy ? Error::None : Error::OutOfMemory;
}

}  // namespace

uint32_t userDictionaryId(const uint8_t* bytes, uint64_t length) { return xxh32(bytes, length) | kUserDictionaryIdBit; }

Error registerDictionary(DictionaryList& encoder, DictionaryList& decoder, const uint8_t* bytes, uint64_t length,
                         uint32_t* id) {
    uint32_t new_id = userDictionaryId(bytes, length);
    DictionaryList* sides[] = {&encoder, &decoder};

    PreparedSide prepared[2];
    int prepared_count = 0;
    Error error = Error::None;
    for (DictionaryList* list : sides) {
        Holding held = holding(*list, new_id, bytes, length);
        if (held == Holding::Same) continue;
        if (held == Holding::Other) {
            error = Error::DictionaryCollision;
            break;
        }
        error = prepare(&prepared[prepared_count++], *list, bytes, length);
        if (error != Error::None) break;
    }
    if (error != Error::None) {
        for (int i = 0; i < prepared_count; ++i) freeDictionaryBytes(prepared[i].copy);
        return error;
    }

    for (int i = 0; i < prepared_count; ++i) prepared[i].list->append({prepared[i].copy, length, new_id});
    *id = new_id;
    return Error::None;
}

}  // namespace kvn
