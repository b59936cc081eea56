#include "core/encode/lz_batch_plan.h"

#include <algorithm>

#include "core/platform/platform.h"

namespace kvn {
namespace {

constexpr uint64_t kSortParseLongestSub = 65536;
constexpr uint64_t kChainLinkEntries = 0x8000;  // 65,536 u16 links, two per entry

}  // namespace

ParseMode lzParseMode(const LzModeQuestion& q) {
    const ParseMode mode = levelParams(q.level).parse;
    if (mode != ParseMode::SortParse) return mode;
    const bool sort_parse = q.subs_per_group < 2 && !q.dictionary && q.longest_sub <= kSortParseLongestSub &&
                            !q.sort_parse_off && q.sort_parse_built;
    return sort_parse ? ParseMode::SortParse : ParseMode::Chain;
}

uint64_t chainWorkspaceEntries(uint32_t hash_bits) { return (uint64_t{2} << hash_bits) + kChainLinkEntries; }

uint32_t forcedLzBatch() {
    static const uint32_t forced = [] {
        const char* text = envText("KVN_VK_FORCE_BATCH");
        const std::optional<uint64_t> v = text ? parseDecimal(text, UINT32_MAX) : std::nullopt;
        return v ? static_cast<uint32_t>(*v) : 0u;
    }();
    return forced;
}

uint64_t lzBatch(uint64_t aw, uint32_t forced) { return forced != 0 && forced < aw ? forced : aw; }

uint64_t halvedLzBatch(uint64_t batch) { return batch < 2 ? 0 : (batch + 1) / 2; }

uint64_t wholeGroupBatch(uint64_t batch, uint32_t subs_per_group) {
    if (subs_per_group < 2 || batch <= subs_per_group) return batch;
    return batch - batch % subs_per_group;
}

uint64_t workspaceBatchLimit(uint64_t entries) { return entries == 0 ? 0 : (uint64_t{1} << 32) / entries; }

}  // namespace kvn
