#include "core/encode/byte_plane_choice.h"

#include <cmath>
#include <cstring>

#include "core/format/frame_header.h"
#include "core/platform/platform.h"

namespace kvn {
namespace {

constexpr uint64_t kMinInput = 32;
constexpr double kMinEntropy = 1.0;
// A stride is taken only when it shrinks the best entropy by more than a fifth.
constexpr double kGain = 0.8;

// Order-0 entropy in bits per byte of count bytes text[first + i * step].
double entropy(const uint8_t* text, uint64_t first, uint64_t step, uint64_t count) {
    uint64_t counts[256] = {};
    for (uint64_t i = 0; i < count; ++i) ++counts[text[first + i * step]];
    double bits = 0;
    for (const uint64_t c : counts) {
        if (c == 0) continue;
        const double p = static_cast<double>(c) / static_cast<double>(count);
        bits -= p * std::log2(p);
    }
    return bits;
}

}  // namespace

uint8_t bytePlaneStrideFromText(const char* text) {
    if (!text) return 0;
    if (text[0] == '\0' || std::strcmp(text, "1") == 0) return 2;
    const std::optional<uint64_t> value = parseDecimal(text, UINT8_MAX);
    return value && validByteplaneStride(static_cast<uint8_t>(*value)) ? static_cast<uint8_t>(*value) : 0;
}

uint8_t chooseBytePlaneStride(const uint8_t* text, uint64_t n) {
    if (n < kMinInput) return 0;
    const uint64_t sample = n < kBytePlaneSampleBytes ? n : kBytePlaneSampleBytes;
    double best = entropy(text, 0, 1, sample);
    if (best < kMinEntropy) return 0;
    uint8_t choice = 0;
    for (const uint8_t w : byte_plane_strides) {
        if (sample < 4 * uint64_t{w} || n % w != 0) continue;
        const uint64_t elements = sample / w;
        double sum = 0;
        for (uint8_t b = 0; b < w; ++b) sum += entropy(text, b, w, elements);
        const double mean = sum / w;
        if (kGain * best > mean) {
            choice = w;
            best = mean;
        }
    }
    return choice;
}

}  // namespace kvn
