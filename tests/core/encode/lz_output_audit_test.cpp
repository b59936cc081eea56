// The host reading of a sub-chunk's LZ output for the encoder's reports:
// stream totals and the distances of its matches, on outputs built by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/encode/lz_output_audit.h"

namespace kvn {
namespace {

using Bytes = std::vector<uint8_t>;

// Literal count and literals, token count and tokens, (split index,) off16
// count and entries, then `tail` bytes.
Bytes lzOutput(bool first, const std::string& literals, const Bytes& tokens, bool split_index,
               const std::vector<uint16_t>& off16, size_t tail) {
    Bytes out(first ? 8 : 0, 'p');
    const auto be24 = [&](size_t v) {
        out.push_back(uint8_t(v >> 16));
        out.push_back(uint8_t(v >> 8));
        out.push_back(uint8_t(v));
    };
    be24(literals.size());
    out.insert(out.end(), literals.begin(), literals.end());
    be24(tokens.size());
    out.insert(out.end(), tokens.begin(), tokens.end());
    if (split_index) out.insert(out.end(), {0, 0});
    out.push_back(uint8_t(off16.size()));
    out.push_back(uint8_t(off16.size() >> 8));
    for (uint16_t d : off16) {
        out.push_back(uint8_t(d));
        out.push_back(uint8_t(d >> 8));
    }
    out.insert(out.end(), tail, 0x11);
    return out;
}

// Tokens: 27 (3 literals, a 3-byte match at the next off16 entry), 0x90 (a
// match at the repeat distance), 0x87 (literals only), 5 (an off32 match),
// 0 (a long literal run), 40 (a match at the next entry).
const Bytes kTokens = {27, 0x90, 0x87, 5, 0, 40};

struct AuditCase {
    std::string name;
    Bytes out;
    CompressChunkDesc desc;
    uint32_t floor;
    uint64_t tokens, matches, recent, off32, smallest, violations, walk_errors, first_distance;
};

TEST(LzOutputAudit, MinDistances) {
    const CompressChunkDesc first{0, 65536, 0, 0, 1};
    const CompressChunkDesc long_sub{0, 131072, 0, 0, 0};
    const Bytes plain = lzOutput(true, "abcdefg", kTokens, false, {300, 12}, 4);
    const std::vector<AuditCase> cases = {
        {"floor below every distance", plain, first, 8, 6, 3, 1, 1, 12, 0, 0, 0},
        // The repeat match uses 300 too: 12 alone is below 16.
        {"floor 16", plain, first, 16, 6, 3, 1, 1, 12, 1, 0, 12},
        {"floor 400", plain, first, 400, 6, 3, 1, 1, 12, 3, 0, 300},
        {"split index of a long sub-chunk", lzOutput(false, "ab", kTokens, true, {20, 30}, 0), long_sub, 25, 6, 3,
         1, 1, 20, 2, 0, 20},
        {"an entry left over", lzOutput(true, "a", kTokens, false, {300, 12, 9}, 0), first, 8, 6, 3, 1, 1, 12, 0, 1,
         0},
        {"a token without its entry", lzOutput(true, "a", kTokens, false, {300}, 0), first, 8, 6, 2, 1, 1, 300, 0,
         1, 0},
        {"cut short", Bytes(9, 0), first, 8, 0, 0, 0, 0, 0, 0, 1, 0},
    };
    for (const AuditCase& c : cases) {
        SCOPED_TRACE(c.name);
        MinDistanceAudit a;
        a.floor = c.floor;
        auditMinDistances(c.desc, c.out.data(), uint32_t(c.out.size()), 7, a);
        EXPECT_EQ(a.tokens, c.tokens);
        EXPECT_EQ(a.matches, c.matches);
        EXPECT_EQ(a.recent_reuses, c.recent);
        EXPECT_EQ(a.off32_matches, c.off32);
        EXPECT_EQ(a.smallest, c.smallest);
        EXPECT_EQ(a.violations, c.violations);
        EXPECT_EQ(a.walk_errors, c.walk_errors);
        EXPECT_EQ(a.first_violation_distance, c.first_distance);
        EXPECT_EQ(a.first_violation_index, c.violations ? 7u : 0u);
    }
}

TEST(LzOutputAudit, StreamTotals) {
    const CompressChunkDesc first{0, 65536, 0, 0, 1};
    const CompressChunkDesc later{65536, 65536, 0, 0, 0};
    const Bytes a = lzOutput(true, "abcdefg", kTokens, false, {300, 12}, 4);
    const Bytes b = lzOutput(false, "xy", {0x87}, false, {}, 9);
    LzStreamTotals t;
    addStreamTotals(first, a.data(), uint32_t(a.size()), t);
    addStreamTotals(later, b.data(), uint32_t(b.size()), t);
    addStreamTotals(later, b.data(), 0, t);  // no output: not counted
    EXPECT_EQ(t.lz_total, a.size() + b.size());
    EXPECT_EQ(t.literals, 9u);
    EXPECT_EQ(t.tokens, 7u);
    EXPECT_EQ(t.off16_bytes, 4u);
    EXPECT_EQ(t.rest, 13u);
}

}  // namespace
}  // namespace kvn
