// A sub-chunk's LZ output read on the host, for the encoder's reports: the
// stored-stream form the LZ encode kernels write into its slot (the frame's
// 8 leading bytes in its first sub-chunk, the literal count and literals, the
// token count and tokens, a token split index when the sub-chunk is longer
// than 65,536 bytes, the off16 count and entries, then the rest).
#pragma once

#include <cstdint>

#include "core/encode/chunk_descriptors.h"

namespace kvn {

// Totals over the sub-chunks with LZ output.
struct LzStreamTotals {
    uint64_t lz_total = 0;     // LZ bytes
    uint64_t literals = 0;     // literal count
    uint64_t tokens = 0;       // token count
    uint64_t off16_bytes = 0;  // 2 per off16 entry
    uint64_t rest = 0;         // bytes after the off16 entries
};

// The matches' distances against a floor: every match but the off32 ones
// (tokens 2 to 23) at the distance it uses, the off16 entries taken in order
// from a distance of 8.
struct MinDistanceAudit {
    uint32_t floor = 0;
    uint64_t tokens = 0;
    uint64_t matches = 0;
    uint64_t literal_bytes = 0;
    uint64_t recent_reuses = 0;  // matches at the repeat distance
    uint64_t off32_matches = 0;
    uint64_t smallest = 0;       // 0 while no match was seen
    uint64_t violations = 0;
    uint64_t walk_errors = 0;    // outputs that could not be walked
    uint64_t first_violation_index = 0;
    uint64_t first_violation_distance = 0;
};

// Adds the sub-chunk described by `desc` whose LZ output is the `size`
// bytes at `out`; `index` is its place in the frame.
void addStreamTotals(const CompressChunkDesc& desc, const uint8_t* out, uint32_t size, LzStreamTotals& totals);
void auditMinDistances(const CompressChunkDesc& desc, const uint8_t* out, uint32_t size, uint64_t index,
                       MinDistanceAudit& audit);

}  // namespace kvn
