// The eight dictionaries carried in both libraries, selected by ids 1 to 8.
#pragma once

#include <cstdint>

namespace kvn {

struct DictionaryExtension {
    const char* text;
    uint64_t length;
};

struct BuiltinDictionary {
    const char* name;
    uint64_t name_length;
    const uint8_t* data;
    uint64_t data_length;
    // File extensions of the kind; informative only, since frames select dictionaries by id.
    const DictionaryExtension* extensions;
    uint64_t extension_count;
    uint32_t id;
};

inline constexpr uint32_t kBuiltinDictionaryCount = 8;

// Indexed by id - 1.
extern const BuiltinDictionary* const builtin_dictionaries[kBuiltinDictionaryCount];

// The built-in of this id, or nullptr when id is not 1 to 8.
const BuiltinDictionary* builtinDictionary(uint32_t id);

}  // namespace kvn
