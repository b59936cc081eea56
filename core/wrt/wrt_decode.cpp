#include "core/wrt/wrt_decode.h"

#include <cstring>

#include "core/wrt/wrt_workers.h"

namespace kvn {
namespace {

// A range of segments with the offsets at which its input and output start.
struct DecodeRange {
    const WrtDecodeState* state;
    const uint8_t* input;
    uint8_t* output;
    uint64_t first;
    uint64_t end;
    size_t input_offset;
    size_t output_offset;
    Error status;
};

// Index of the word a code stands for; `p` is at the code's lead byte (>= 0x80).
inline uint32_t wordIndex(const uint8_t* in, size_t p) {
    uint8_t b = in[p];
    if (b < kWrtPairLeadBase) return b & 0x7F;
    return kWrtOneByteWords + ((uint32_t(b & 0x7F) - kWrtOneByteWords) << 7) + (in[p + 1] & 0x7F);
}

// Walks one segment's tokens without writing: every token must be whole, name
// a word of the section and fit the segment's decoded length exactly.
bool segmentIsValid(const WrtDecodeState& state, const uint8_t* in, uint32_t encoded, uint32_t decoded) {
    uint32_t p = 0, o = 0;
    while (p < encoded) {
        const uint8_t b = in[p];
        if (b == WRT_ESCAPE) {
            if (p + 1 >= encoded || o >= decoded) return false;
            p += 2;
            ++o;
        } else if (b == WRT_CAPITALIZE || b == WRT_UPPERCASE) {
            ++p;
        } else if (b >= 0x80) {
            if (b >= kWrtPairLeadBase && (p + 1 >= encoded || (in[p + 1] & 0x80) == 0)) return false;
            const uint32_t index = wordIndex(in, p);
            if (index >= state.word_count || o + state.word_lengths[index] > decoded) return false;
            o += state.word_lengths[index];
            p += b >= kWrtPairLeadBase ? 2 : 1;
        } else {
            if (o >= decoded) return false;
            ++o;
            ++p;
        }
    }
    return o == decoded;
}

// Writes one segment that segmentIsValid accepted.
void decodeSegment(const WrtDecodeState& state, const uint8_t* in, uint32_t encoded, uint8_t* out) {
    uint8_t case_flag = 0;
    uint32_t p = 0;
    while (p < encoded) {
        const uint8_t b = in[p];
        if (b < 0x80) {
            if (b == WRT_CAPITALIZE || b == WRT_UPPERCASE) {
                case_flag = b;
                ++p;
                continue;
            }
            if (b == WRT_ESCAPE) ++p;
            *out++ = in[p++];
            case_flag = 0;
            continue;
        }
        const uint32_t index = wordIndex(in, p);
        p += b >= kWrtPairLeadBase ? 2 : 1;
        const uint32_t length = state.word_lengths[index];
        std::memcpy(out, state.words + state.word_offsets[index], length);
        if (case_flag == WRT_CAPITALIZE) {
            out[0] -= 32;
        } else if (case_flag == WRT_UPPERCASE) {
            for (uint32_t j = 0; j < length; ++j) out[j] -= 32;
        }
        out += length;
        case_flag = 0;
    }
}

void validateRangeThread(void* arg) {
    auto* range = static_cast<DecodeRange*>(arg);
    const uint8_t* in = range->input + range->input_offset;
    for (uint64_t k = range->first; k < range->end; ++k) {
        const WrtSegment segment = range->state->segment(k);
        if (!segmentIsValid(*range->state, in, segment.encoded_length, segment.decoded_length)) {
            range->status = Error::Corrupt;
            return;
        }
        in += segment.encoded_length;
    }
}

void wrtDecodeRangeThread(void* arg) {
    auto* range = static_cast<DecodeRange*>(arg);
    const uint8_t* in = range->input + range->input_offset;
    uint8_t* out = range->output + range->output_offset;
    for (uint64_t k = range->first; k < range->end; ++k) {
        const WrtSegment segment = range->state->segment(k);
        decodeSegment(*range->state, in, segment.encoded_length, out);
        in += segment.encoded_length;
        out += segment.decoded_length;
    }
}

}  // namespace

Error wrtDecodeCpu(const WrtDecodeState& state, const uint8_t* input, size_t input_size, uint8_t* output,
                   size_t output_size, uint32_t threads) {
    const uint64_t segment_count = state.segment_count;
    const uint32_t range_count = wrtSegmentRanges(threads, segment_count);
    DecodeRange ranges[kWrtMaxWorkers];
    uint32_t next = 0;
    uint64_t encoded_sum = 0, decoded_sum = 0;
    for (uint64_t k = 0; k <= segment_count; ++k) {
        while (next < range_count && k == segment_count * next / range_count) {
            ranges[next] = DecodeRange{&state, input, output, k, segment_count * (next + 1) / range_count,
                                       size_t(encoded_sum), size_t(decoded_sum), Error::None};
            ++next;
        }
        if (k == segment_count) break;
        const WrtSegment segment = state.segment(k);
        encoded_sum += segment.encoded_length;
        decoded_sum += segment.decoded_length;
    }
    if (encoded_sum != input_size || decoded_sum != output_size || decoded_sum != state.decoded_size)
        return Error::Corrupt;

    // Two passes: the first checks every token and writes nothing, so that a
    // damaged stream leaves the caller's buffer as it was; the second then
    // writes without a single check. Checking reads only the transformed
    // bytes, which are fewer than the text, so the common case pays little.
    runRanges(ranges, range_count, validateRangeThread, UnstartedRange::RunHere);
    for (uint32_t i = 0; i < range_count; ++i)
        if (ranges[i].status != Error::None) return Error::Corrupt;
    runRanges(ranges, range_count, wrtDecodeRangeThread, UnstartedRange::RunHere);
    return Error::None;
}

}  // namespace kvn
