#include <gtest/gtest.h>

#include "core/dict/builtin_dictionary.h"
#include "core/dict/dictionary_lookup.h"
#include "core/dict/dictionary_test_support.h"

namespace kvn {
namespace {

using test::HandleSides;

TEST(DictionaryLookup, BuiltinsNeedNoRegistration) {
    DictionaryList empty;
    for (uint32_t id = 1; id <= kBuiltinDictionaryCount; ++id) {
        DictionaryBytes found{};
        ASSERT_EQ(findDictionaryById(empty, id, &found), Error::None) << id;
        EXPECT_EQ(found.data, builtinDictionary(id)->data);
        EXPECT_EQ(found.length, builtinDictionary(id)->data_length);
    }
}

TEST(DictionaryLookup, UnknownIdsAreRefused) {
    HandleSides handle;
    uint32_t registered = 0;
    ASSERT_EQ(handle.add("registered bytes", &registered), Error::None);
    for (uint32_t id : {0u, 9u, registered ^ 1u, registered & ~0x10000000u, UINT32_MAX}) {
        DictionaryBytes found{reinterpret_cast<const uint8_t*>(1), 1};
        EXPECT_EQ(findDictionaryById(handle.decoder, id, &found), Error::UnknownDictionary) << id;
        EXPECT_EQ(found.data, nullptr);
        EXPECT_EQ(found.length, 0u);
    }
}

// A frame made with a user dictionary decodes only on a handle that holds the
// same bytes: the lists of one handle are invisible to another.
TEST(DictionaryLookup, UserDictionariesBelongToTheirHandle) {
    HandleSides owner, stranger;
    uint32_t id = 0;
    ASSERT_EQ(owner.add("h1 { color: red; }", &id), Error::None);

    for (const DictionaryList* side : {&owner.encoder, &owner.decoder}) {
        DictionaryBytes found{};
        ASSERT_EQ(findDictionaryById(*side, id, &found), Error::None);
        EXPECT_EQ(found.data, side->find(id)->data);
        EXPECT_EQ(found.length, 18u);
    }
    DictionaryBytes found{};
    EXPECT_EQ(findDictionaryById(stranger.decoder, id, &found), Error::UnknownDictionary);
    ASSERT_EQ(stranger.add("h1 { color: red; }", &id), Error::None);
    EXPECT_EQ(findDictionaryById(stranger.decoder, id, &found), Error::None);
}

}  // namespace
}  // namespace kvn
