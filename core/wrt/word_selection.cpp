#include "core/wrt/word_selection.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

namespace kvn {
namespace {

// Unsigned byte order, a prefix first; the index settles equal words so that
// the order is total even for a candidate table that repeats a word.
template <typename Words>
bool wordLess(const Words& words, uint64_t a, uint64_t b) {
    uint32_t la = words.length(a), lb = words.length(b);
    int c = std::memcmp(words.bytes(a), words.bytes(b), std::min(la, lb));
    if (c != 0) return c < 0;
    if (la != lb) return la < lb;
    return a < b;
}

template <typename Words>
Error selectWords(const Words& words, uint64_t word_total, WrtSelection* selection) {
    // The length test only guards against a damaged candidate table.
    auto qualifies = [&](uint64_t i) {
        uint32_t length = words.length(i);
        return words.count(i) > kWrtMinCountExclusive && length >= kWrtMinWordLength && length <= kWrtMaxWordLength;
    };
    uint64_t candidate_count = 0;
    for (uint64_t i = 0; i < word_total; ++i) candidate_count += qualifies(i);

    std::unique_ptr<WrtCandidate[]> candidates(new (std::nothrow) WrtCandidate[std::max<uint64_t>(candidate_count, 1)]);
    if (!candidates) return Error::OutOfMemory;
    uint64_t kept = 0;
    for (uint64_t i = 0; i < word_total; ++i) {
        if (!qualifies(i)) continue;
        int64_t c = words.count(i), length = words.length(i);
        WrtCandidate candidate{i, c * (length - 1) - length - 1, c * (length - 2) - length - 1};
        if (candidate.gain1 > 0 || candidate.gain2 > 0) candidates[kept++] = candidate;
    }

    auto by_gain1 = [&](const WrtCandidate& a, const WrtCandidate& b) {
        if (a.gain1 != b.gain1) return a.gain1 > b.gain1;
        return wordLess(words, a.word_index, b.word_index);
    };
    auto by_gain2 = [&](const WrtCandidate& a, const WrtCandidate& b) {
        if (a.gain2 != b.gain2) return a.gain2 > b.gain2;
        return wordLess(words, a.word_index, b.word_index);
    };
    auto by_bytes = [&](const WrtCandidate& a, const WrtCandidate& b) {
        return wordLess(words, a.word_index, b.word_index);
    };

    WrtCandidate* first = candidates.get();
    std::sort(first, first + kept, by_gain1);
    uint64_t one_byte = std::min<uint64_t>(kept, kWrtOneByteWords);
    uint64_t two_byte = 0;
    if (kept > kWrtOneByteWords) {
        std::sort(first + one_byte, first + kept, by_gain2);
        while (two_byte < kWrtTwoByteWords && one_byte + two_byte < kept && first[one_byte + two_byte].gain2 > 0)
            ++two_byte;
    }
    std::sort(first, first + one_byte, by_bytes);
    std::sort(first + one_byte, first + one_byte + two_byte, by_bytes);

    uint32_t word_count = uint32_t(one_byte + two_byte);
    std::unique_ptr<uint32_t[]> indices(new (std::nothrow) uint32_t[std::max(word_count, 1u)]);
    if (!indices) return Error::OutOfMemory;
    for (uint32_t i = 0; i < word_count; ++i) indices[i] = uint32_t(candidates[i].word_index);
    selection->indices = std::move(indices);
    selection->word_count = word_count;
    selection->one_byte_count = uint32_t(one_byte);
    return Error::None;
}

struct TableWords {
    const WordTable& table;
    uint32_t count(uint64_t i) const { return table.records[i].count; }
    uint32_t length(uint64_t i) const { return table.records[i].length; }
    const uint8_t* bytes(uint64_t i) const { return table.word(table.records[i]); }
};

struct CandidateWords {
    const uint8_t* lengths;
    const uint8_t* words;
    const uint32_t* counts;
    uint32_t count(uint64_t i) const { return counts[i]; }
    uint32_t length(uint64_t i) const { return lengths[i]; }
    const uint8_t* bytes(uint64_t i) const { return words + i * kWrtMaxWordLength; }
};

}  // namespace

Error selectWrtDictionary(WordTable* table, WrtDictionary* dictionary) {
    WrtSelection selection;
    Error e = selectWords(TableWords{*table}, table->record_count, &selection);
    if (e != Error::None) return e;
    for (uint32_t r = 0; r < table->record_count; ++r) table->records[r].count = 0;
    for (uint32_t i = 0; i < selection.word_count; ++i) table->records[selection.indices[i]].count = i + 1;
    dictionary->table = std::move(*table);
    dictionary->selection = std::move(selection);
    return Error::None;
}

void wrtDictionaryDeinit(WrtDictionary* dictionary) {
    wordTableDeinit(&dictionary->table);
    dictionary->selection = WrtSelection{};
}

Error selectWrtWordsFromCandidates(const uint8_t* lengths, const uint8_t* words, const uint32_t* counts,
                                   uint32_t candidate_count, WrtSelection* selection) {
    return selectWords(CandidateWords{lengths, words, counts}, candidate_count, selection);
}

}  // namespace kvn
