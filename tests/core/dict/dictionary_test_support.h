// Helpers shared by the dictionary tests.
#pragma once

#include <string_view>
#include <vector>

#include "core/dict/dictionary_list.h"
#include "core/dict/dictionary_registration.h"

namespace kvn::test {

inline const uint8_t* bytesOf(std::string_view text) { return reinterpret_cast<const uint8_t*>(text.data()); }

// What a list holds, copied out so that it can be compared after a call.
struct EntrySnapshot {
    const uint8_t* data;
    uint64_t length;
    uint32_t id;
    std::vector<uint8_t> bytes;
    bool operator==(const EntrySnapshot&) const = default;
};

inline std::vector<EntrySnapshot> snapshot(const DictionaryList& list) {
    std::vector<EntrySnapshot> out;
    for (const DictionaryEntry& e : list.entries())
        out.push_back({e.data, e.length, e.id, std::vector<uint8_t>(e.data, e.data + e.length)});
    return out;
}

// The two lists of one handle.
struct HandleSides {
    DictionaryList encoder;
    DictionaryList decoder;

    Error add(std::string_view bytes, uint32_t* id) {
        return registerDictionary(encoder, decoder, bytesOf(bytes), bytes.size(), id);
    }
};

}  // namespace kvn::test
