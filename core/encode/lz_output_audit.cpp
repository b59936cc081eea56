#include "core/encode/lz_output_audit.h"

#include <algorithm>

namespace kvn {
namespace {

constexpr uint32_t kFramePrefix = 8;
constexpr uint32_t kHalf = 65536;
constexpr uint32_t kRepeatStart = 8;

// Where the streams lie, or nothing when the output does not hold them.
struct Streams {
    bool ok = false;
    uint32_t literals = 0;
    uint32_t tokens = 0;
    uint64_t token_at = 0;
    uint32_t off16_count = 0;
    uint64_t off16_at = 0;
    uint64_t end = 0;  // the end of the off16 entries
};

uint32_t be24(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }
uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

// Each field must lie within the size; an off16 count of 0xFFFF is the
// split form, which the LZ kernels never write.
Streams locate(const CompressChunkDesc& desc, const uint8_t* out, uint32_t size) {
    Streams s;
    uint64_t at = desc.first ? kFramePrefix : 0;
    if (at + 3 > size) return s;
    s.literals = be24(out + at);
    at += 3 + uint64_t{s.literals};
    if (at + 3 > size) return s;
    s.tokens = be24(out + at);
    s.token_at = at + 3;
    at = s.token_at + s.tokens;
    if (desc.length > kHalf) at += 2;
    if (at + 2 > size) return s;
    s.off16_count = le16(out + at);
    s.off16_at = at + 2;
    s.end = s.off16_at + 2 * uint64_t{s.off16_count};
    s.ok = s.off16_count != 0xFFFF && s.end <= size;
    return s;
}

}  // namespace

void addStreamTotals(const CompressChunkDesc& desc, const uint8_t* out, uint32_t size, LzStreamTotals& totals) {
    if (size == 0) return;
    totals.lz_total += size;
    const Streams s = locate(desc, out, size);
    if (!s.ok) return;
    totals.literals += s.literals;
    totals.tokens += s.tokens;
    totals.off16_bytes += 2 * uint64_t{s.off16_count};
    totals.rest += size - s.end;
}

void auditMinDistances(const CompressChunkDesc& desc, const uint8_t* out, uint32_t size, uint64_t index,
                       MinDistanceAudit& audit) {
    if (size == 0) return;
    const Streams s = locate(desc, out, size);
    if (!s.ok) {
        ++audit.walk_errors;
        return;
    }
    audit.literal_bytes += s.literals;
    uint32_t used = 0;
    uint64_t distance = kRepeatStart;
    for (uint32_t k = 0; k < s.tokens; ++k) {
        const uint32_t t = out[s.token_at + k];
        ++audit.tokens;
        if (t == 1 || (t >= 24 && t < 128)) {
            if (used == s.off16_count) {
                ++audit.walk_errors;
                return;
            }
            distance = le16(out + s.off16_at + 2 * uint64_t{used++});
        } else if (t >= 2 && t <= 23) {
            ++audit.off32_matches;
            continue;
        } else if (t == 0 || ((t >> 3) & 15) == 0) {
            continue;
        } else {
            ++audit.recent_reuses;
        }
        ++audit.matches;
        audit.smallest = audit.smallest == 0 ? distance : std::min(audit.smallest, distance);
        if (distance < audit.floor) {
            if (audit.violations == 0) {
                audit.first_violation_index = index;
                audit.first_violation_distance = distance;
            }
            ++audit.violations;
        }
    }
    if (used != s.off16_count) ++audit.walk_errors;
}

}  // namespace kvn
