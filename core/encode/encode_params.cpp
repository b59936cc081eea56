#include "core/encode/encode_params.h"

#include <cstring>

#include "core/format/frame_header.h"

namespace kvn {

EncodeParams encodeParamsFromOptions(const CompressOpts& opts) {
    EncodeParams params;
    uint32_t fraction_bits;
    std::memcpy(&fraction_bits, &opts.sc_group_size, sizeof fraction_bits);
    params.sc_group_size_set = fraction_bits != 0;
    params.sc_group_size = opts.sc_group_size;
    params.use_dict = opts.dict_id != 0;
    params.dict_id = opts.dict_id;
    params.min_dist_floor = opts.min_match_distance > 0 ? static_cast<uint32_t>(opts.min_match_distance) : 0;
    params.level = opts.level == 0 ? 1 : opts.level;
    params.checksum = opts.content_checksum != 0;
    params.merkle = opts.merkle_root != 0;
    params.chunk_table = opts.chunk_table >= 0;
    params.wrt = opts.wrt != 0;
    params.byte_plane_stride =
        validByteplaneStride(opts.byte_plane_stride) ? static_cast<uint8_t>(opts.byte_plane_stride) : 0;
    params.byte_plane_auto = opts.byte_plane_stride == -1;
    return params;
}

}  // namespace kvn
