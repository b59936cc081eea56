// The encoder part of a handle: what compress calls grow and keep between
// calls, and the fields of the job that is running.
#pragma once

#include <cstdint>

#include "core/dict/dictionary_list.h"
#include "core/handle/handle_buffers.h"
#include "core/timing/timing_records.h"

namespace kvn {

// The encode pipeline names its device buffers by index into the table.
inline constexpr uint32_t kEncoderDeviceBuffers = 56;
inline constexpr uint32_t kEncoderHostBuffers = 3;
inline constexpr uint32_t kEncoderHostArrays = 10;

struct EncoderState {
    // The running job; set at its start and cleared at its end.
    DeviceBufferHandle dev_src = 0;
    uint64_t dev_src_offset = 0;  // where the running frame's input starts in dev_src
    DeviceBufferHandle dev_dst = 0;
    uint64_t dev_dst_offset = 0;         // where the running frame starts in dev_dst
    uint64_t frame_bytes_on_device = 0;  // its leading bytes already there
    bool result_on_device = false;       // every frame is in dev_dst, none only in the host output
    bool record_timings = false;

    DeviceBuffer device_buffers[kEncoderDeviceBuffers] = {};
    HostBuffer host_buffers[kEncoderHostBuffers] = {};
    HostArray host_arrays[kEncoderHostArrays] = {};
    PageBlock batched_copies = {};

    TimingList timings;
    PendingTimingList pending_timings;

    // The stream a frame's stages queue their work on between the points
    // where the host reads a result; made on first use.
    StreamHandle own_stream = 0;
    bool own_stream_created = false;

    DictionaryList dictionaries;
    // The dictionary whose copy is on the device; 0 uploads it again.
    uint32_t dict_cache_id = 0;
    uint64_t dict_cache_len = 0;
    uint32_t dict_cache_bits = 0;
    bool dict_table_ready = false;

    uint32_t min_dist_floor = 0;
    // The frame cap of the last call, for its level and chunk size.
    uint64_t frame_cap = 0;
    int32_t frame_cap_level = 0;
    uint64_t frame_cap_chunk = 0;

    // Device Merkle leaves of the frame being encoded.
    bool merkle_leaves_wanted = false;
    uint32_t merkle_chunk_size = 0;
    uint32_t merkle_chunk_count = 0;
    uint32_t merkle_leaves_done = 0;
    bool merkle_leaves_valid = false;
    // The body wrote the root into the frame after its last byte.
    bool merkle_root_appended = false;
    // The root of the caller's bytes, hashed on the device by the word
    // transform's road while it had them there; for this frame's trailer.
    uint32_t source_merkle_root = 0;
    bool source_merkle_root_present = false;
};

// Frees the 40 device buffers; forgets the uploaded dictionary and the Merkle
// leaf counts. The encoder stays usable: buffers grow again on demand.
void releaseEncoderBuffers(EncoderState& encoder);

// Frees everything the encoder owns, leaving it empty.
void deinitEncoderState(EncoderState& encoder);

}  // namespace kvn
