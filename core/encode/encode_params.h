// One compress call's choices, derived once from the caller's options and
// read (never changed) by the planner and every frame.
#pragma once

#include <cstdint>

#include "korvane.h"

namespace kvn {

inline constexpr uint32_t kEncodeBlockSize = 262144;
// The chunk fraction of a call that gives none.
inline constexpr float kDefaultScGroupSize = 0.25f;

struct EncodeParams {
    uint32_t block_size = kEncodeBlockSize;
    float sc_group_size = 0.0f;
    bool sc_group_size_set = false;  // the option's 32 bits were not all zero
    uint32_t dict_id = 0;
    bool use_dict = false;
    uint32_t min_dist_floor = 0;
    // The option's whole value, 0 taken as 1. The planner checks it as it is:
    // truncating it to 8 bits would make 257 compress as level 1.
    int32_t level = 1;
    bool write_content_size = true;
    bool checksum = false;
    bool merkle = false;
    bool chunk_table = true;
    bool wrt = false;
    bool wrt_force_cpu = false;
    uint8_t byte_plane_stride = 0;  // 0, or one of byte_plane_strides (-1, automatic, gives 0)
    bool byte_plane_auto = false;   // the option asked for the automatic choice (-1)
};

EncodeParams encodeParamsFromOptions(const CompressOpts& opts);

// sc_group_size when given, else the default fraction.
inline float chunkFraction(const EncodeParams& params) {
    return params.sc_group_size_set ? params.sc_group_size : kDefaultScGroupSize;
}

}  // namespace kvn
