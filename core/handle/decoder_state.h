// The decoder part of a handle: what decompress calls grow and keep between
// calls, the verdict of the last decode and the retry count.
#pragma once

#include <cstdint>

#include "core/dict/dictionary_list.h"
#include "core/handle/handle_buffers.h"
#include "core/timing/timing_records.h"

namespace kvn {

// The decode pipeline names its device slots by index into the table.
inline constexpr uint32_t kDecoderDeviceSlots = 34;
inline constexpr uint32_t kDecoderHostBuffers = 3;

// The Merkle verdict of the last decode, as the verdict cell holds it.
enum : int32_t { kVerdictNone = 0, kVerdictMatch = 1, kVerdictMismatch = 2 };

struct DecoderState {
    // The running call's stream, and the decoder's own, made on first use
    // and kept until the handle is destroyed.
    StreamHandle stream = 0;
    StreamHandle own_stream = 0;
    bool own_stream_created = false;
    // The side stream of a device whose decode runs work beside the decode
    // stream, and the events that order the two; made on first use like the
    // own stream.
    StreamHandle side_stream = 0;
    EventHandle side_events[4] = {};
    bool side_stream_created = false;
    // The stored off16 halves' gather runs on the side stream until a later
    // stage of the batch waits for it.
    bool gather_pending = false;

    DeviceBuffer device_slots[kDecoderDeviceSlots] = {};
    // The uploaded dictionary and its cache key; only the destroy calls free it.
    DeviceBuffer dict_buffer = {};
    uint32_t dict_buffer_id = 0;
    uint64_t dict_buffer_len = 0;

    HostBuffer host_buffers[kDecoderHostBuffers] = {};
    PageBlock status_array = {};

    int32_t* verdict_cell = nullptr;  // made by the first decode that checks a verdict
    uint32_t pipeline_retries = 0;    // frame decodes redone after a checksum mismatch
    bool record_timings = false;      // on for the duration of a call that asked for it

    TimingList timings;
    PendingTimingList pending_timings;

    DictionaryList dictionaries;
};

// The decoder's verdict cell, made (holding kVerdictNone) when it has none;
// nullptr when memory runs out.
int32_t* ensureVerdictCell(DecoderState& decoder);

// Frees the 34 device slots; the decoder stays usable.
void releaseDecoderBuffers(DecoderState& decoder);

// Frees everything the decoder owns, leaving it empty.
void deinitDecoderState(DecoderState& decoder);

}  // namespace kvn
