#include "core/wrt/word_count.h"

#include <algorithm>
#include <utility>

#include "core/wrt/wrt_format.h"
#include "core/wrt/wrt_workers.h"

namespace kvn {
namespace {

struct CountRange {
    WordTable table;
    const uint8_t* text;
    size_t text_size;
    size_t start;
    size_t end;
};

void countWordsThread(void* arg) {
    auto* range = static_cast<CountRange*>(arg);
    range->table.status = wordTableInit(&range->table);
    if (range->table.status == Error::None)
        range->table.status = countWords(&range->table, range->text, range->text_size, range->start, range->end);
}

struct MergePair {
    WordTable* destination;
    WordTable* source;
};

// Adds the source's counts into the destination and frees the source. A
// word the full destination cannot take loses the source's count.
void mergeWordTableThread(void* arg) {
    auto* pair = static_cast<MergePair*>(arg);
    WordTable* dst = pair->destination;
    const WordTable* src = pair->source;
    for (uint32_t r = 0; r < src->record_count; ++r) {
        const WordRecord& record = src->records[r];
        uint32_t index;
        Error e = wordTableInsert(dst, src->word(record), record.length, &index);
        if (e == Error::DictFull) continue;
        if (e != Error::None) {
            dst->status = e;
            break;
        }
        dst->records[index].count += record.count;
    }
    wordTableDeinit(pair->source);
}

Error firstTableError(const CountRange* ranges, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (ranges[i].table.status != Error::None) return ranges[i].table.status;
    return Error::None;
}

}  // namespace

void wrtCountRangeStarts(const uint8_t* text, size_t n, uint32_t ranges, size_t* starts) {
    starts[0] = 0;
    for (uint32_t i = 1; i < ranges; ++i) {
        size_t at = std::max(starts[i - 1], size_t(uint64_t(n) * i / ranges));
        while (at > 0 && at < n && isWrtLetter(text[at - 1]) && isWrtLetter(text[at])) ++at;
        starts[i] = at;
    }
    starts[ranges] = n;
}

Error countTextWords(const uint8_t* text, size_t n, uint32_t processors, WordTable* total) {
    uint32_t workers = processors < 2 || n < kWrtParallelCountMin ? 1 : wrtWorkerCount(processors);
    size_t starts[kWrtMaxWorkers + 1];
    wrtCountRangeStarts(text, n, workers, starts);
    CountRange ranges[kWrtMaxWorkers];
    for (uint32_t i = 0; i < workers; ++i) {
        ranges[i].text = text;
        ranges[i].text_size = n;
        ranges[i].start = starts[i];
        ranges[i].end = starts[i + 1];
    }
    if (!runRanges(ranges, workers, countWordsThread, UnstartedRange::Abandon)) return Error::Unexpected;
    KVN_TRY(firstTableError(ranges, workers));

    // Pairwise merge: pass s folds table j + s into table j, so that after
    // log2(T) passes table 0 holds the totals.
    for (uint32_t s = 1; s < workers; s *= 2) {
        MergePair pairs[kWrtMaxWorkers];
        uint32_t pair_count = 0;
        for (uint32_t j = 0; j + s < workers; j += 2 * s) pairs[pair_count++] = {&ranges[j].table, &ranges[j + s].table};
        if (!runRanges(pairs, pair_count, mergeWordTableThread, UnstartedRange::Abandon)) return Error::Unexpected;
        KVN_TRY(firstTableError(ranges, workers));
    }
    *total = std::move(ranges[0].table);
    return Error::None;
}

}  // namespace kvn
