// kvnSetDictionary and the lookups the encode and decode roads make through
// a handle.
#include <gtest/gtest.h>

#include <string_view>

#include "core/dict/builtin_dictionary.h"
#include "core/dict/dictionary_lookup.h"
#include "core/dict/dictionary_registration.h"
#include "core/interface/fake_backend.h"
#include "korvane.h"

namespace kvn::test {
namespace {

using DictionariesTest = InterfaceTest;

const uint8_t* bytes(std::string_view text) { return reinterpret_cast<const uint8_t*>(text.data()); }

TEST_F(DictionariesTest, SetDictionaryChecksInOrder) {
    void* h = makeHandle();
    uint32_t id = 0;
    EXPECT_EQ(kvnSetDictionary(nullptr, nullptr, 0, nullptr), 1u);
    EXPECT_EQ(kvnSetDictionary(h, nullptr, 4, &id), 2u);
    EXPECT_EQ(kvnSetDictionary(h, bytes("abcd"), 0, &id), 2u);
    EXPECT_EQ(kvnSetDictionary(h, bytes("abcd"), 4, nullptr), 0u) << "out_id may be null";
    EXPECT_EQ(state(h).encoder.dictionaries.entries().size(), 1u);
}

TEST_F(DictionariesTest, BothSidesFindTheRegisteredBytesUnderTheirId) {
    void* h = makeHandle();
    const std::string_view dict = "{\"login\": \"\", \"id\": 0, \"node_id\": \"\", \"avatar_url\": \"\"}";
    uint32_t id = 0, again = 0;
    ASSERT_EQ(kvnSetDictionary(h, bytes(dict), dict.size(), &id), 0u);
    EXPECT_EQ(id, userDictionaryId(bytes(dict), dict.size()));
    EXPECT_EQ(id & 0x10000000u, 0x10000000u);
    ASSERT_EQ(kvnSetDictionary(h, bytes(dict), dict.size(), &again), 0u);
    EXPECT_EQ(again, id);

    for (const DictionaryList* side : {&state(h).encoder.dictionaries, &state(h).decoder.dictionaries}) {
        ASSERT_EQ(side->entries().size(), 1u) << "the same bytes twice keep one entry per side";
        DictionaryBytes found{};
        ASSERT_EQ(findDictionaryById(*side, id, &found), Error::None);
        EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(found.data), found.length), dict);
        EXPECT_NE(found.data, bytes(dict)) << "a private copy";
        // Built-in ids need no registration; other ids are unknown.
        ASSERT_EQ(findDictionaryById(*side, 3, &found), Error::None);
        EXPECT_EQ(found.data, builtinDictionary(3)->data);
        EXPECT_EQ(findDictionaryById(*side, 9, &found), Error::UnknownDictionary);
    }
    // Another handle has not registered it.
    DictionaryBytes found{};
    EXPECT_EQ(findDictionaryById(state(makeHandle()).decoder.dictionaries, id, &found), Error::UnknownDictionary);
}

TEST_F(DictionariesTest, OtherBytesUnderATakenIdAreRefusedAndRegisterNothing) {
    void* h = makeHandle();
    const std::string_view first = "user dictionary sample 92743";
    const std::string_view other = "user dictionary sample 126873";  // the same XXH32
    ASSERT_EQ(userDictionaryId(bytes(first), first.size()), userDictionaryId(bytes(other), other.size()));
    uint32_t id = 0;
    ASSERT_EQ(kvnSetDictionary(h, bytes(first), first.size(), &id), 0u);
    uint32_t refused = 5555;
    EXPECT_EQ(kvnSetDictionary(h, bytes(other), other.size(), &refused), 5u);
    EXPECT_EQ(refused, 5555u);
    for (const DictionaryList* side : {&state(h).encoder.dictionaries, &state(h).decoder.dictionaries}) {
        ASSERT_EQ(side->entries().size(), 1u);
        EXPECT_EQ(side->entries()[0].length, first.size());
    }
}

TEST_F(DictionariesTest, ARegistrationThatRunsOutOfMemoryLeavesBothSidesUnchanged) {
    const std::string_view dict = "p { margin: 0 } h1 { font-size: 2em }";
    // Each side makes room in its list and copies the bytes: four allocations.
    for (int failing = 0; failing < 4; ++failing) {
        void* h = makeHandle();
        injectDictionaryAllocFailure(failing);
        uint32_t id = 0;
        EXPECT_EQ(kvnSetDictionary(h, bytes(dict), dict.size(), &id), 7u) << failing;
        injectDictionaryAllocFailure(-1);
        EXPECT_TRUE(state(h).encoder.dictionaries.entries().empty()) << failing;
        EXPECT_TRUE(state(h).decoder.dictionaries.entries().empty()) << failing;
        EXPECT_EQ(id, 0u);
    }
}

}  // namespace
}  // namespace kvn::test
