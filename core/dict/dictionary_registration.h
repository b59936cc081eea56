// Registration of a caller's dictionary with both sides of a handle: the
// core of kvnSetDictionary, after its argument checks.
#pragma once

#include <cstdint>

#include "core/dict/dictionary_list.h"
#include "core/errors.h"

namespace kvn {

inline constexpr uint32_t kUserDictionaryIdBit = 0x10000000;

// XXH32 of the bytes with bit 28 set, so a user id never equals a built-in id.
uint32_t userDictionaryId(const uint8_t* bytes, uint64_t length);

// Adds a private copy of bytes (length > 0) to each list that lacks it and
// stores the id in *id. All or nothing: on any error neither list changes.
// - bytes already registered: nothing is added; the same id again;
// - other bytes already hold this id: DictionaryCollision (the first keeps it);
// - a copy or list growth fails: OutOfMemory.
Error registerDictionary(DictionaryList& encoder, DictionaryList& decoder, const uint8_t* bytes, uint64_t length,
                         uint32_t* id);

}  // namespace kvn
