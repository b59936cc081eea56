// How the LZ stage covers a frame's sub-chunks: the parse mode of the level,
// the sub-chunks per launch and the size of each launch's tables.
#pragma once

#include <cstdint>

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

// Sub-chunks per launch: a forced batch below aw, else all of them.
uint64_t lzBatch(uint64_t aw, uint32_t forced);

// The next batch after a failed workspace allocation; 0 when none is left.
uint64_t halvedLzBatch(uint64_t batch);

// Whole groups per batch: a batch longer than a group is cut down to a
// multiple of spc, so that no batch splits a group.
uint64_t wholeGroupBatch(uint64_t batch, uint32_t subs_per_group);

// The largest batch whose workspaces a kernel can index with 32-bit words.
uint64_t workspaceBatchLimit(uint64_t entries);

}  // namespace kvn
