#include "ref_lz_encode.h"

#include <algorithm>
#include <cstring>

#include "kernels/format_constants.h"

namespace kvn::ref {
namespace {

constexpr uint32_t kEmpty = 0xFFFFFFFFu;
constexpr uint32_t kLanes = 27;          // positions examined per scan step
constexpr uint32_t kFarMinLength = 14;   // shortest match at a distance of 65536 or more

struct Candidate {
    bool found = false;
    bool dict = false;
    uint64_t start = 0;  // where the match begins (group position)
    uint64_t src = 0;    // group position, or dictionary index when dict
    uint32_t verified = 0;
};

class GroupParser {
public:
    GroupParser(const uint8_t* group, uint64_t len, const LzParams& params)
        : g_(group), len_(len), p_(params), table_(size_t(1) << params.hash_bits, kEmpty) {
        const auto& d = p_.dictionary;
        if (!d.empty()) {
            dict_table_.assign(table_.size(), kEmpty);
            for (uint64_t i = 0; i + 8 <= d.size(); ++i)
                dict_table_[hashOf(sixAt(d.data(), d.size(), i))] = uint32_t(i);
        }
    }

    SubChunkStreams parseSubChunk(uint64_t b, uint32_t length, bool frame_first, bool group_first) {
        s_ = SubChunkStreams{};
        s_.raw_len = length;
        // A first sub-chunk below 8 bytes cannot be coded; its chunk is stored.
        const uint32_t prefix = frame_first ? std::min(KVN_FRAME_PREFIX_BYTES, length) : 0;
        s_.raw8.assign(g_ + b, g_ + b + prefix);
        anchor_ = cur_ = b + prefix;
        // A decoder reads the dictionary for every source before the sub-chunk,
        // so with a dictionary no other match may reach back past it.
        sub_lowest_src_ = p_.dictionary.empty() ? 0 : b;
        recent_ = KVN_INITIAL_REPEAT_DISTANCE;
        const uint64_t e1 = b + std::min<uint32_t>(length, KVN_HALF_SIZE);
        parseHalf(b, e1, group_first, s_.off32_first);
        if (length > KVN_HALF_SIZE) {
            s_.first_half_tokens = uint16_t(s_.tokens.size());
            const uint64_t h = b + KVN_HALF_SIZE;
            cur_ = std::max(anchor_, h);
            parseHalf(h, b + length, false, s_.off32_second);
        }
        return std::move(s_);
    }

private:
    uint8_t at(uint64_t pos) const { return pos < len_ ? g_[pos] : 0; }
    uint8_t srcAt(const Candidate& c, uint64_t pos) const {
        return c.dict ? p_.dictionary[pos] : at(pos);
    }
    static uint64_t sixAt(const uint8_t* d, uint64_t n, uint64_t pos) {
        uint64_t v = 0;
        for (uint32_t i = 0; i < 6; ++i) v |= uint64_t(pos + i < n ? d[pos + i] : 0) << (8 * i);
        return v;
    }
    uint32_t hashOf(uint64_t six) const { return lzHash(six, p_.hash_bits); }
    uint32_t hashAt(uint64_t pos) const { return hashOf(sixAt(g_, len_, pos)); }
    uint32_t word(uint64_t pos) const { return uint32_t(sixAt(g_, len_, pos)); }

    Candidate candidate(uint64_t cur, uint32_t k, const uint32_t* hashes, uint64_t end,
                        bool dict_allowed) const {
        const uint64_t p = cur + k;
        const uint32_t floor = p_.min_distance;
        Candidate c;
        int same = -1;
        for (int j = int(k) - 1; j >= 0; --j)
            if (hashes[j] == hashes[k]) {
                same = j;
                break;
            }
        if (same >= 0) {
            const uint64_t q = cur + uint32_t(same);
            if (word(q) == word(p) && p - q >= floor) c = {true, false, p, q, 4};
        } else {
            const uint32_t t = table_[hashes[k]];
            if (t != kEmpty && t < p && t >= lowest_src_ && p - t >= floor && word(t) == word(p))
                c = {true, false, p, t, 4};
        }
        if (c.found) return c;
        const uint64_t r = recent_;
        if (r >= floor && p >= r && p + 1 - r >= lowest_src_ && p + 4 <= end &&
            at(p + 1) == at(p + 1 - r) && at(p + 2) == at(p + 2 - r) && at(p + 3) == at(p + 3 - r))
            return {true, false, p + 1, p + 1 - r, 3};
        if (floor <= 8 && p >= 8 && p - 8 >= lowest_src_ && word(p - 8) == word(p))
            return {true, false, p, p - 8, 4};
        if (dict_allowed && !dict_table_.empty()) {
            const auto& d = p_.dictionary;
            const uint32_t e = dict_table_[hashes[k]];
            if (e != kEmpty && p + d.size() - e <= 0xFFFF && std::memcmp(d.data() + e, g_ + p, 4) == 0)
                return {true, true, p, e, 4};
        }
        return c;
    }

    void insert(uint64_t pos) { table_[hashAt(pos)] = uint32_t(pos); }

    void parseHalf(uint64_t half_start, uint64_t end, bool dict_allowed, std::vector<uint32_t>& off32) {
        // Off32 values above the 3-byte range have a form no decoder reads:
        // sources further back than that from the half's start are not taken.
        const uint64_t far_floor = half_start > KVN_OFF32_SHORT_MAX ? half_start - KVN_OFF32_SHORT_MAX : 0;
        lowest_src_ = std::max(sub_lowest_src_, far_floor);
        uint32_t hashes[kLanes];
        while (cur_ + 4 <= end) {
            const uint64_t left = end - cur_;
            const uint32_t active = left > 33 ? kLanes : left >= 8 ? uint32_t(left - 7) : 0;
            for (uint32_t k = 0; k < active; ++k) hashes[k] = hashAt(cur_ + k);
            Candidate c;
            uint32_t lane = 0;
            for (; lane < active && !c.found; ++lane)
                c = candidate(cur_, lane, hashes, end, dict_allowed);
            if (!c.found) {
                const uint64_t run = cur_ - anchor_;
                const uint32_t step = run <= 127 ? 1 : uint32_t(std::min<uint64_t>((run >> 7) + 1, 16));
                for (uint32_t k = 0; k < std::min(step, active); ++k) insert(cur_ + k);
                cur_ += step;
                continue;
            }
            for (uint32_t k = 0; k < lane; ++k) insert(cur_ + k);  // lanes 0..F

            uint64_t limit = end - c.start;
            if (c.dict) limit = std::min<uint64_t>(limit, p_.dictionary.size() - c.src);
            uint64_t forward = c.verified;
            while (forward < limit && at(c.start + forward) == srcAt(c, c.src + forward)) ++forward;
            const uint64_t dist = c.dict ? c.start + p_.dictionary.size() - c.src : c.start - c.src;
            if (dist > 0xFFFF && forward < kFarMinLength) {
                cur_ = c.start + 1;
                continue;
            }
            uint64_t start = c.start, src = c.src;
            const uint64_t src_floor = c.dict ? 0 : lowest_src_;
            while (start > anchor_ && src > src_floor && at(start - 1) == srcAt(c, src - 1)) {
                --start;
                --src;
            }
            const uint64_t match = c.start - start + forward;
            s_.literals.insert(s_.literals.end(), g_ + anchor_, g_ + start);
            emitSequence(uint32_t(start - anchor_), uint32_t(match), dist, half_start, start, off32);
            if (p_.insert_in_matches)
                for (uint32_t k = 0; k < 32 && (uint64_t(1) << k) < match; ++k)
                    if (start + (uint64_t(1) << k) + 8 <= len_) insert(start + (uint64_t(1) << k));
            recent_ = dist;
            anchor_ = cur_ = start + match;
        }
        s_.literals.insert(s_.literals.end(), g_ + anchor_, g_ + end);
        emitLiteralRun(uint32_t(end - anchor_));
        anchor_ = end;
    }

    void token(uint32_t t) { s_.tokens.push_back(uint8_t(t)); }

    // Literal-only tokens for a run of len literals.
    void emitLiteralRun(uint32_t len) {
        if (len == 0) return;
        const uint32_t rest = longLiterals(len);
        if (rest) token(KVN_TOKEN_REPEAT + rest);
    }

    // Writes the literal part of a long run and returns the 0..7 literals left
    // for the next token.
    uint32_t longLiterals(uint32_t len) {
        if (len >= KVN_LONG_LITERALS_BASE) {
            appendLength(s_.lengths, len - KVN_LONG_LITERALS_BASE);
            token(KVN_TOKEN_LONG_LITERALS);
            return 0;
        }
        while (len > 7) {
            token(KVN_TOKEN_LITERALS_7);
            len -= 7;
        }
        return len;
    }

    void emitSequence(uint32_t lits, uint32_t match, uint64_t dist, uint64_t half_start,
                      uint64_t start, std::vector<uint32_t>& off32) {
        const bool recent = dist == recent_;
        const bool near = recent || dist < 0x10000;
        const uint32_t rep = recent ? KVN_TOKEN_REPEAT : 0;
        if (match < 16 && lits < 8 && near) {
            token(rep + (match << 3) + lits);
            if (!recent) s_.off16.push_back(uint16_t(dist));
            return;
        }
        const uint32_t rest_lits = longLiterals(lits);
        if (near && match < KVN_LONG_MATCH16_BASE) {
            const uint32_t first = std::min(match, 15u);
            token(rep + (first << 3) + rest_lits);
            if (!recent) s_.off16.push_back(uint16_t(dist));
            for (uint32_t left = match - first; left > 0;) {
                const uint32_t n = std::min(left, 15u);
                token(KVN_TOKEN_REPEAT + (n << 3));
                left -= n;
            }
            return;
        }
        if (rest_lits) token(KVN_TOKEN_REPEAT + rest_lits);
        if (dist > 0xFFFF) {
            if (match <= KVN_TOKEN_FAR_MAX + KVN_TOKEN_FAR_BIAS) {
                token(match - KVN_TOKEN_FAR_BIAS);
            } else {
                token(KVN_TOKEN_LONG_MATCH32);
                appendLength(s_.lengths, match - KVN_LONG_MATCH32_BASE);
            }
            off32.push_back(uint32_t(half_start - (start - dist)));
        } else {
            token(KVN_TOKEN_LONG_MATCH16);
            appendLength(s_.lengths, match - KVN_LONG_MATCH16_BASE);
            s_.off16.push_back(uint16_t(dist));
        }
    }

    const uint8_t* g_;
    uint64_t len_;
    const LzParams& p_;
    std::vector<uint32_t> table_, dict_table_;
    SubChunkStreams s_;
    uint64_t anchor_ = 0, cur_ = 0, recent_ = 0;
    uint64_t sub_lowest_src_ = 0;  // first source position the sub-chunk allows
    uint64_t lowest_src_ = 0;      // first position a non-dictionary match may copy from in this half
};

}  // namespace

uint32_t lzHash(uint64_t six_bytes, uint32_t bits) {
    return uint32_t(((six_bytes << 16) * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

std::vector<SubChunkStreams> lzEncodeGroup(const uint8_t* group, std::span<const uint32_t> lens,
                                           bool frame_first, const LzParams& params) {
    uint64_t total = 0;
    for (uint32_t l : lens) total += l;
    GroupParser parser(group, total, params);
    std::vector<SubChunkStreams> out;
    uint64_t b = 0;
    for (size_t i = 0; i < lens.size(); ++i) {
        out.push_back(parser.parseSubChunk(b, lens[i], frame_first && i == 0, i == 0));
        b += lens[i];
    }
    return out;
}

}  // namespace kvn::ref
