#include <gtest/gtest.h>
#include <xxhash.h>

#include <cstring>
#include <set>
#include <string>

#include "core/dict/dictionary_lookup.h"
#include "core/dict/dictionary_test_support.h"
#include "core/integrity/sample_data.h"

namespace kvn {
namespace {

using test::bytesOf;
using test::HandleSides;
using test::snapshot;

std::string_view textOf(const std::vector<uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

class DictionaryRegistration : public ::testing::Test {
protected:
    void TearDown() override { injectDictionaryAllocFailure(-1); }
    HandleSides sides;
};

TEST_F(DictionaryRegistration, IdIsXxh32WithBit28) {
    std::vector<uint8_t> headers = test::systemHeaderBytes(40000);
    for (uint64_t length : {1, 15, 16, 100, 4096, 32768, 40000}) {
        uint32_t id = 0;
        ASSERT_EQ(sides.add(textOf(headers).substr(0, length), &id), Error::None);
        EXPECT_EQ(id, XXH32(headers.data(), length, 0) | 0x10000000u) << length;
        EXPECT_EQ(userDictionaryId(headers.data(), length), id);
    }
}

TEST_F(DictionaryRegistration, EachSideKeepsItsOwnPrivateCopy) {
    std::string bytes = "<div class=\"row\"><p>sample</p></div>";
    uint32_t id = 0;
    ASSERT_EQ(sides.add(bytes, &id), Error::None);
    const std::string original = bytes;
    bytes.assign(bytes.size(), 'x');  // the caller may reuse its buffer at once

    const DictionaryEntry* encoder = sides.encoder.find(id);
    const DictionaryEntry* decoder = sides.decoder.find(id);
    ASSERT_TRUE(encoder && decoder);
    EXPECT_NE(encoder->data, decoder->data);
    for (const DictionaryEntry* entry : {encoder, decoder}) {
        EXPECT_NE(entry->data, bytesOf(bytes));
        EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(entry->data), entry->length), original);
    }
}

TEST_F(DictionaryRegistration, SameBytesTwiceGiveOneEntryPerSide) {
    uint32_t first = 0, second = 0;
    ASSERT_EQ(sides.add("{\"id\": 1, \"name\": \"a\"}", &first), Error::None);
    ASSERT_EQ(sides.add("{\"id\": 1, \"name\": \"a\"}", &second), Error::None);
    EXPECT_EQ(first, second);
    EXPECT_EQ(sides.encoder.entries().size(), 1u);
    EXPECT_EQ(sides.decoder.entries().size(), 1u);
}

TEST_F(DictionaryRegistration, ManyDictionariesAllFoundOnBothSides) {
    std::vector<uint8_t> headers = test::systemHeaderBytes(64 * 1000);
    std::set<uint32_t> ids;
    for (int i = 0; i < 64; ++i) {
        uint32_t id = 0;
        ASSERT_EQ(sides.add(textOf(headers).substr(i * 1000, 1000), &id), Error::None);
        ids.insert(id);
    }
    ASSERT_EQ(ids.size(), 64u);
    for (const DictionaryList* list : {&sides.encoder, &sides.decoder}) {
        ASSERT_EQ(list->entries().size(), 64u);
        for (int i = 0; i < 64; ++i) {
            DictionaryBytes found{};
            ASSERT_EQ(findDictionaryById(*list, list->entries()[i].id, &found), Error::None);
            ASSERT_EQ(found.length, 1000u);
            EXPECT_EQ(std::memcmp(found.data, headers.data() + i * 1000, 1000), 0) << i;
        }
    }
}

// Two different blocks with one XXH32 would share an id; a decoder could then
// never tell which bytes a frame was made with. The second is refused.
TEST_F(DictionaryRegistration, OtherBytesUnderATakenIdAreRefused) {
    const std::string_view first = "user dictionary sample 92743";
    const std::string_view other = "user dictionary sample 126873";
    ASSERT_EQ(XXH32(first.data(), first.size(), 0), XXH32(other.data(), other.size(), 0));

    uint32_t id = 0;
    ASSERT_EQ(sides.add(first, &id), Error::None);
    auto encoder_before = snapshot(sides.encoder), decoder_before = snapshot(sides.decoder);

    uint32_t refused_id = 7;
    EXPECT_EQ(sides.add(other, &refused_id), Error::DictionaryCollision);
    EXPECT_EQ(refused_id, 7u);
    EXPECT_EQ(snapshot(sides.encoder), encoder_before);
    EXPECT_EQ(snapshot(sides.decoder), decoder_before);

    uint32_t again = 0;
    EXPECT_EQ(sides.add(first, &again), Error::None);
    EXPECT_EQ(again, id);
}

// Every allocation of a registration is made to fail in turn, on empty lists
// and on full ones that must grow. A failure on the decoder side must not
// leave the encoder holding a dictionary the decoder lacks.
TEST_F(DictionaryRegistration, FailureAtAnyAllocationChangesNeitherSide) {
    const std::string bytes = "body { margin: 0; padding: 0; }";
    for (int preloaded : {0, 4}) {
        int failures = 0;
        for (int after = 0;; ++after) {
            SCOPED_TRACE(testing::Message() << "preloaded " << preloaded << ", failing allocation " << after);
            HandleSides handle;
            uint32_t id = 0;
            for (int i = 0; i < preloaded; ++i) ASSERT_EQ(handle.add(std::string(10, char('a' + i)), &id), Error::None);
            auto encoder_before = snapshot(handle.encoder), decoder_before = snapshot(handle.decoder);

            injectDictionaryAllocFailure(after);
            Error error = handle.add(bytes, &id);
            injectDictionaryAllocFailure(-1);
            if (error == Error::None) {
                EXPECT_EQ(handle.encoder.entries().size(), size_t(preloaded + 1));
                EXPECT_EQ(handle.decoder.entries().size(), size_t(preloaded + 1));
                break;
            }
            ASSERT_EQ(error, Error::OutOfMemory);
            ++failures;
            EXPECT_EQ(snapshot(handle.encoder), encoder_before);
            EXPECT_EQ(snapshot(handle.decoder), decoder_before);
        }
        // Each side needs room in its list and its copy.
        EXPECT_EQ(failures, 4) << "preloaded " << preloaded;
    }
}

TEST_F(DictionaryRegistration, ClearLeavesAnEmptyReusableList) {
    uint32_t id = 0;
    ASSERT_EQ(sides.add("first", &id), Error::None);
    sides.encoder.clear();
    sides.decoder.clear();
    EXPECT_TRUE(sides.encoder.entries().empty());
    EXPECT_TRUE(sides.decoder.entries().empty());
    ASSERT_EQ(sides.add("first", &id), Error::None);
    EXPECT_EQ(sides.encoder.entries().size(), 1u);
    EXPECT_EQ(sides.decoder.entries().size(), 1u);
}

}  // namespace
}  // namespace kvn
