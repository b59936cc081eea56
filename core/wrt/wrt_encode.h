// The WRT encoder on the CPU: counts the words of a frame's text, chooses its
// dictionary, transforms the text segment by segment and writes the section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "core/errors.h"
#include "core/platform/platform.h"
#include "core/wrt/word_selection.h"
#include "core/wrt/wrt_format.h"

namespace kvn {

// Frames shorter than this are never transformed.
inline constexpr size_t kWrtMinInput = 0x10000;
// Each segment is transformed into its own area of this size; a segment that
// needs more makes the whole frame go without WRT.
inline constexpr size_t kWrtSegmentArea = KVN_WRT_SEGMENT_AREA;

// Transforms segment k of the text into `area` (kWrtSegmentArea bytes) and
// stores its lengths. `ShardOverflow` when the segment does not fit its area
// or its record.
Error wrtEncodeSegment(const WrtDictionary& dictionary, const uint8_t* text, size_t n, size_t k, uint8_t* area,
                       WrtSegment* segment);

struct WrtEncodeOutput {
    bool applied = false;
    std::unique_ptr<uint8_t[]> text;  // the transformed stream
    size_t text_size = 0;             // E
    WrtSectionBlob section;
};

// The CPU WRT step of a frame. Returns None with `applied` telling whether
// the frame carries WRT, or OutOfMemory. Anything else that stops the
// transform (a segment overflow, a worker that cannot be started, no gain)
// leaves the frame plain. `processors` is the machine's logical processor
// count; at most 16 threads are used.
Error wrtEncodeCpu(const uint8_t* text, size_t n, WrtEncodeOutput* out, uint32_t processors = processorCount());

}  // namespace kvn
