// How the LZ stage covers a frame's sub-chunks: the parse mode of the level,
// the sub-chunks per launch and the size of each launch's tables.
#pragma once

#include <cstdint>
#include <vector>

#include "core/encode/level_table.h"

namespace kvn {

struct LzModeQuestion {
    int32_t level;
    uint32_t subs_per_group;   // spc
    bool dictionary;           // the frame matches into a dictionary
    uint64_t longest_sub;      // the frame's longest sub-chunk
    bool sort_parse_off;       // KVN_NO_SORT_PARSE
    bool sort_parse_built;     // the sort-parse kernels and their pre-passes exist
};

// Greedy at levels 1 to 4. Level 5 sort-parses a frame of single-sub-chunk
// groups of at most 65,536 bytes without a dictionary when its kernels
// exist and it is not switched off; otherwise it takes the chain parse.
ParseMode lzParseMode(const LzModeQuestion& q);

// Table entries of one level-5 workspace: chain parse (two head tables and
// 65,536 u16 links) or sort-parse.
uint64_t chainWorkspaceEntries(uint32_t hash_bits);
inline constexpr uint64_t kSortParseWorkspaceEntries = 0x50000;

// KVN_VK_FORCE_BATCH, read once per process (0 when unset or not a decimal).
uint32_t forcedLzBatch();

// Sub-chunks per launch: a forced batch below aw, else all of them; never
// more than `bounded` (0: no bound).
uint64_t lzBatch(uint64_t aw, uint32_t forced, uint64_t bounded);

// The device's bound on one launch, `launch_bytes` of input (0: none), as
// sub-chunks of `sub` bytes: whole groups of spc, in a count whose
// descriptors and sizes end where the next launch's may be bound (an offset
// a multiple of `alignment`); at least one such unit. 0 without a bound.
uint64_t boundedLzBatch(uint64_t launch_bytes, uint64_t sub, uint32_t subs_per_group, uint64_t alignment);

// The next batch after a failed workspace allocation; 0 when none is left.
uint64_t halvedLzBatch(uint64_t batch);

// Whole groups per batch: a batch longer than a group is cut down to a
// multiple of spc, so that no batch splits a group.
uint64_t wholeGroupBatch(uint64_t batch, uint32_t subs_per_group);

// One launch of the LZ stage: its sub-chunks, and where their descriptors
// and sizes lie in the device buffers it binds at those offsets.
struct LzLaunch {
    uint64_t first = 0, count = 0;
    uint64_t desc_offset = 0, size_offset = 0;
};

// The launches of a frame of aw sub-chunks in batches of `batch`: the
// frame's descriptors and sizes are laid out launch after launch, each
// launch's starting at a binding offset the device accepts. `packed` when
// no launch needed padding, so that the buffers hold the frame's records in
// order, as the stages after the LZ stage read them.
struct LzLaunchLayout {
    std::vector<LzLaunch> launches;
    uint64_t desc_bytes = 0, size_bytes = 0;
    bool packed = true;
};
LzLaunchLayout lzLaunchLayout(uint64_t aw, uint64_t batch, uint64_t alignment);

// The largest batch whose workspaces a kernel can index with 32-bit words.
uint64_t workspaceBatchLimit(uint64_t entries);

}  // namespace kvn
