#include "core/dict/dictionary_lookup.h"

#include "core/dict/builtin_dictionary.h"

namespace kvn {

Error findDictionaryById(const DictionaryList& list, uint32_t id, DictionaryBytes* found) {
    *found = {nullptr, 0};
    if (const DictionaryEntry* entry = list.find(id); entry && entry->data) {
        *found = {entry->data, entry->length};
        return Error::None;
    }
    if (const BuiltinDictionary* builtin = builtinDictionary(id)) {
        *found = {builtin->data, builtin->data_length};
        return Error::None;
    }
    return Error::UnknownDictionary;
}

}  // namespace kvn
