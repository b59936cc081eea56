// The encoder's measurements as the CUDA library reports them on standard
// error, each when its variable is set (read at each report): KVN_LZ_TIMER
// for a frame's LZ stage, KVN_SORT_STATS and KVN_MIN_DIST_AUDIT for its LZ
// output, KVN_HUFF_TIMER for a Huffman batch, and
// KVN_CL_CENSUS for the code-length census of a census build of the
// Huffman module, which this library does not carry; KVN_PROFILE_PHASES
// (read once) keeps the body encoder's phase times, and a floor the parse
// cannot keep is noticed in this library's words.
#include <cstdio>

#include "core/encode/lz_output_audit.h"
#include "core/platform/platform.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/encode_kernels.h"

namespace kvn {
namespace {

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

}  // namespace

bool encodePhaseProfileWanted() { return envPresent("KVN_PROFILE_PHASES"); }

const char* minDistIgnoredNotice() {
    return "korvane: KVN_MIN_DIST ignored on this encode (dictionary or serial-chain path has no floor gates)";
}

// KVN_SORT_STATS (levels 3 and up) and KVN_MIN_DIST_AUDIT, read at each frame.
bool lzOutputReportsWanted(int32_t level) {
    return (level >= 3 && envPresent("KVN_SORT_STATS")) || envPresent("KVN_MIN_DIST_AUDIT");
}

void reportLzOutput(const CompressChunkDesc* descs, const uint32_t* lz_sizes, uint64_t count, const uint8_t* lz_copy,
                    uint32_t floor, int32_t level) {
    if (level >= 3 && envPresent("KVN_SORT_STATS")) {
        LzStreamTotals t;
        for (uint64_t i = 0; i < count; ++i) addStreamTotals(descs[i], lz_copy + descs[i].out_offset, lz_sizes[i], t);
        // The token total twice, as the report has always read.
        std::fprintf(stderr, "sort-stats: lz_total=%llu lits=%llu toks=%llu off16=%llu rest=%llu tokens=%llu\n",
                     ull(t.lz_total), ull(t.literals), ull(t.tokens), ull(t.off16_bytes), ull(t.rest), ull(t.tokens));
    }
    if (!envPresent("KVN_MIN_DIST_AUDIT")) return;
    MinDistanceAudit a;
    a.floor = floor;
    for (uint64_t i = 0; i < count; ++i)
        auditMinDistances(descs[i], lz_copy + descs[i].out_offset, lz_sizes[i], i, a);
    std::fprintf(stderr,
                 "min-dist-audit: floor=%u tokens=%llu matches=%llu lit_bytes=%llu recent_reuse=%llu off32=%llu "
                 "min_seen=%llu violations=%llu walk_errors=%llu\n",
                 unsigned(floor), ull(a.tokens), ull(a.matches), ull(a.literal_bytes), ull(a.recent_reuses),
                 ull(a.off32_matches), ull(a.smallest), ull(a.violations), ull(a.walk_errors));
    if (a.violations)
        std::fprintf(stderr, "min-dist-audit: FIRST VIOLATION chunk=%llu dist=%llu\n", ull(a.first_violation_index),
                     ull(a.first_violation_distance));
}

void reportLzStageTimes(int32_t level, double upload_ms, double launch_ms) {
    if (envPresent("KVN_LZ_TIMER"))
        std::fprintf(stderr, "lz-timer: h2d %.2f launch+sync %.2f ms (level %d)\n", upload_ms, launch_ms, int(level));
}

void reportHuffmanBatch(uint64_t streams, uint32_t largest_count, const double (&phase_ms)[kHuffBatchPhases]) {
    if (envPresent("KVN_HUFF_TIMER"))
        std::fprintf(stderr, "huff-timer n=%llu max_src=%u: ensure %.2f h2d+sync %.2f launch %.2f ksync %.2f d2h %.2f ms\n",
                     static_cast<unsigned long long>(streams), unsigned(largest_count), phase_ms[0], phase_ms[1],
                     phase_ms[2], phase_ms[3], phase_ms[4]);
    // The carried module keeps no census counters.
    if (envPresent("KVN_CL_CENSUS") && encodeKernels().huff_build_tables_fn)
        std::fprintf(stderr, "[cl-census] absent (PTX built without -DKVN_CL_CENSUS)\n");
}

}  // namespace kvn
