// How every encode and decode road finds the bytes a dictionary id names.
#pragma once

#include <cstdint>

#include "core/dict/dictionary_list.h"
#include "core/errors.h"

namespace kvn {

struct DictionaryBytes {
    const uint8_t* data;
    uint64_t length;
};

// The side's own list first (first entry with the id), then the built-ins for
// ids 1 to 8. An entry without data counts as absent. UnknownDictionary when
// neither has the id; *found is then {nullptr, 0}.
Error findDictionaryById(const DictionaryList& list, uint32_t id, DictionaryBytes* found);

}  // namespace kvn
