#include "core/encode/lz_batch_plan.h"

#include <algorithm>
#include <numeric>

#include "core/encode/chunk_descriptors.h"
#include "core/format/size_math.h"
#include "core/platform/platform.h"

namespace kvn {
namespace {

constexpr uint64_t kSortParseLongestSub = 65536;
constexpr uint64_t kChainLinkEntries = 0x8000;  // 65,536 u16 links, two per entry
constexpr uint64_t kSizeBytes = sizeof(uint32_t);

uint64_t alignUp(uint64_t v, uint64_t alignment) { return alignment > 1 ? ceilDiv(v, alignment) * alignment : v; }

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

uint64_t lzBatch(uint64_t aw, uint32_t forced, uint64_t bounded) {
    const uint64_t batch = forced != 0 && forced < aw ? forced : aw;
    return bounded != 0 ? std::min(batch, bounded) : batch;
}

uint64_t boundedLzBatch(uint64_t launch_bytes, uint64_t sub, uint32_t subs_per_group, uint64_t alignment) {
    if (launch_bytes == 0 || sub == 0) return 0;
    // Sizes are 4 bytes and descriptors 5 times that: a count whose sizes
    // fill whole alignment units fills them with its descriptors too.
    const uint64_t records = alignment > 1 ? alignment / std::gcd(alignment, kSizeBytes) : 1;
    const uint64_t unit = std::lcm(records, uint64_t{std::max<uint32_t>(subs_per_group, 1)});
    const uint64_t subs = launch_bytes / sub;
    return std::max(unit, subs - subs % unit);
}

LzLaunchLayout lzLaunchLayout(uint64_t aw, uint64_t batch, uint64_t alignment) {
    LzLaunchLayout layout;
    if (batch == 0) return layout;
    layout.launches.reserve(static_cast<size_t>(ceilDiv(aw, batch)));
    for (uint64_t first = 0; first < aw; first += batch) {
        LzLaunch launch;
        launch.first = first;
        launch.count = std::min(batch, aw - first);
        launch.desc_offset = alignUp(layout.desc_bytes, alignment);
        launch.size_offset = alignUp(layout.size_bytes, alignment);
        layout.packed = layout.packed && launch.desc_offset == first * sizeof(CompressChunkDesc) &&
                        launch.size_offset == first * kSizeBytes;
        layout.desc_bytes = launch.desc_offset + launch.count * sizeof(CompressChunkDesc);
        layout.size_bytes = launch.size_offset + launch.count * kSizeBytes;
        layout.launches.push_back(launch);
    }
    return layout;
}

uint64_t halvedLzBatch(uint64_t batch) { return batch < 2 ? 0 : (batch + 1) / 2; }

uint64_t wholeGroupBatch(uint64_t batch, uint32_t subs_per_group) {
    if (subs_per_group < 2 || batch <= subs_per_group) return batch;
    return batch - batch % subs_per_group;
}

uint64_t workspaceBatchLimit(uint64_t entries) { return entries == 0 ? 0 : (uint64_t{1} << 32) / entries; }

}  // namespace kvn
