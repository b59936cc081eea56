// Writes a frame header and the two body forms that need no device: the
// empty body (end mark only) and one stored block.
#pragma once

#include <cstdint>
#include <span>

#include "core/errors.h"
#include "core/format/byte_order.h"

namespace kvn {

// The largest header without a WRT section: fixed part, content size, dictionary id.
inline constexpr uint64_t kMaxPlainHeaderSize = 26;
// The largest chunk fraction a header can carry.
inline constexpr float kMaxScGroupSize = 65536.0f;

struct FrameHeaderFields {
    int32_t level = 1;  // 1 to 5
    uint32_t block_size = 262144;
    float sc_group_size = 0.25f;
    bool write_content_size = true;
    uint64_t content_size = 0;
    bool use_dict = false;
    uint32_t dict_id = 0;
    bool checksum = false;
    bool merkle = false;
    bool chunk_table = false;
    std::span<const uint8_t> wrt_section;  // empty: none
};

struct WrittenBytes {
    uint64_t size;
    Error error;
};

// The header at dst; DestinationTooSmall (nothing written) when cap is below
// 26 bytes or below the header, or when the block size or the fraction
// cannot be written.
WrittenBytes writeFrameHeader(uint8_t* dst, uint64_t cap, const FrameHeaderFields& fields);

// After a header of header_len bytes: the end mark of an empty frame.
WrittenBytes writeEmptyBody(uint8_t* dst, uint64_t cap, uint64_t header_len);

// After a header of header_len bytes: one stored block of src and the end
// mark. ContentSizeTooLarge for 2^30 bytes or more, which one block cannot hold.
WrittenBytes writeStoredBody(uint8_t* dst, uint64_t cap, uint64_t header_len, const uint8_t* src, uint64_t len);

// Header byte 5.
inline constexpr uint64_t kFrameFlagsOffset = 5;
// Header byte 13: the byte-plane stride, 0 until a byte-plane frame sets it.
inline constexpr uint64_t kFrameStrideOffset = 13;

}  // namespace kvn
