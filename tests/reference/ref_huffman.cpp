#include "ref_huffman.h"

#include <algorithm>
#include <bit>

#include "kernels/format_constants.h"

namespace kvn::ref {
namespace {

constexpr uint32_t kMaxLen = KVN_HUFF_MAX_CODE_LEN;
constexpr uint32_t kLutBits = KVN_HUFF_LUT_BITS;

uint32_t laneStart(uint32_t lane, uint32_t q) { return lane * q; }
uint32_t laneCount(uint32_t lane, uint32_t q, uint32_t n) {
    return lane < KVN_HUFF_LANES - 1 ? q : n - (KVN_HUFF_LANES - 1) * q;
}

uint8_t byteAt(const uint8_t* p, uint32_t len, uint64_t off) { return off < len ? p[off] : 0; }

}  // namespace

CodeLengths huffCodeLengths(const uint8_t* data, uint32_t count, uint32_t stride) {
    std::array<uint32_t, 256> hist{};
    for (uint32_t i = 0; i < count; ++i) hist[data[uint64_t(i) * stride]]++;
    CodeLengths lengths{};
    std::vector<uint32_t> used;
    for (uint32_t s = 0; s < 256; ++s)
        if (hist[s]) used.push_back(s);
    if (used.empty()) return lengths;
    if (used.size() == 1) {
        lengths[used[0]] = 1;
        return lengths;
    }
    std::array<uint64_t, 512> weight{};
    std::array<int32_t, 512> parent;
    parent.fill(-1);
    for (uint32_t s : used) weight[s] = hist[s];
    std::vector<uint32_t> active = used;
    uint32_t next_node = 256;
    while (active.size() > 1) {
        // Smallest two keys (weight, list position).
        size_t a = 0;
        for (size_t i = 1; i < active.size(); ++i)
            if (weight[active[i]] < weight[active[a]]) a = i;
        size_t b = a == 0 ? 1 : 0;
        for (size_t i = 0; i < active.size(); ++i)
            if (i != a && weight[active[i]] < weight[active[b]]) b = i;
        const uint32_t node = next_node++;
        weight[node] = weight[active[a]] + weight[active[b]];
        parent[active[a]] = parent[active[b]] = int32_t(node);
        const size_t lo = std::min(a, b), hi = std::max(a, b);
        active[lo] = node;
        active[hi] = active.back();
        active.pop_back();
    }
    for (uint32_t s : used) {
        uint32_t depth = 0;
        for (int32_t n = int32_t(s); parent[n] >= 0; n = parent[n]) ++depth;
        lengths[s] = uint8_t(std::min(depth, kMaxLen));
    }
    // Capping may over-subscribe the code space; lengthen the rarest
    // symbols below the cap until the Kraft sum fits.
    uint64_t kraft = 0;
    for (uint32_t s : used) kraft += uint64_t(1) << (30 - lengths[s]);
    while (kraft > (uint64_t(1) << 30)) {
        int best = -1;
        for (uint32_t s : used)
            if (lengths[s] < kMaxLen && (best < 0 || hist[s] < hist[best])) best = int(s);
        if (best < 0) break;
        kraft -= uint64_t(1) << (29 - lengths[best]);
        lengths[best]++;
    }
    return lengths;
}

std::array<uint32_t, 256> huffCanonicalCodes(const CodeLengths& lengths) {
    std::array<uint32_t, kMaxLen + 2> per_len{}, next{};
    for (uint8_t l : lengths)
        if (l) per_len[l]++;
    for (uint32_t l = 2; l <= kMaxLen; ++l) next[l] = (next[l - 1] + per_len[l - 1]) << 1;
    std::array<uint32_t, 256> codes{};
    for (uint32_t s = 0; s < 256; ++s)
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    return codes;
}

std::vector<uint8_t> huffEncode(const uint8_t* data, uint32_t count, uint32_t stride) {
    if (count == 0) return {};
    const CodeLengths lengths = huffCodeLengths(data, count, stride);
    const auto codes = huffCanonicalCodes(lengths);
    const uint32_t q = count / KVN_HUFF_LANES;

    std::vector<std::vector<uint8_t>> lanes(KVN_HUFF_LANES);
    std::array<uint32_t, KVN_HUFF_LANES> bytes{};
    for (uint32_t lane = 0; lane < KVN_HUFF_LANES; ++lane) {
        std::vector<uint8_t>& out = lanes[lane];
        uint64_t acc = 0;
        uint32_t held = 0;
        const uint32_t first = laneStart(lane, q), n = laneCount(lane, q, count);
        for (uint32_t i = first; i < first + n; ++i) {
            const uint8_t s = data[uint64_t(i) * stride];
            acc = (acc << lengths[s]) | codes[s];
            held += lengths[s];
            while (held >= 8) {
                held -= 8;
                out.push_back(uint8_t(acc >> held));
            }
        }
        if (held) out.push_back(uint8_t(acc << (8 - held)));
        bytes[lane] = uint32_t(out.size());
        out.resize((out.size() + 3) & ~size_t(3), 0);
    }
    const uint32_t min_bytes = *std::min_element(bytes.begin(), bytes.end());
    const uint32_t max_delta = *std::max_element(bytes.begin(), bytes.end()) - min_bytes;
    const uint32_t width = uint32_t(std::bit_width(max_delta));

    std::vector<uint8_t> s(KVN_HUFF_LENGTHS_BYTES);
    for (uint32_t j = 0; j < 128; ++j) s[j] = uint8_t(lengths[2 * j] | lengths[2 * j + 1] << 4);
    s.push_back(uint8_t(min_bytes));
    s.push_back(uint8_t(min_bytes >> 8));
    s.push_back(uint8_t(min_bytes >> 16));
    s.push_back(uint8_t(width));
    std::vector<uint8_t> deltas(4 * width, 0);
    for (uint32_t lane = 0; lane < KVN_HUFF_LANES; ++lane) {
        const uint64_t v = bytes[lane] - min_bytes;
        for (uint32_t b = 0; b < width; ++b)
            if (v >> b & 1) {
                const uint32_t bit = lane * width + b;
                deltas[bit / 8] |= uint8_t(1u << (bit % 8));
            }
    }
    s.insert(s.end(), deltas.begin(), deltas.end());
    uint32_t rows = UINT32_MAX;
    for (auto& lane : lanes) rows = std::min(rows, uint32_t(lane.size() / 4));
    for (uint32_t i = 0; i < 4; ++i) s.push_back(uint8_t(rows >> (8 * i)));
    for (uint32_t r = 0; r < rows; ++r)
        for (auto& lane : lanes) s.insert(s.end(), lane.begin() + 4 * r, lane.begin() + 4 * r + 4);
    for (auto& lane : lanes) s.insert(s.end(), lane.begin() + 4 * rows, lane.end());
    return s;
}

HuffLut huffBuildLut(const uint8_t* nibbles) {
    CodeLengths lengths;
    for (uint32_t j = 0; j < 128; ++j) {
        lengths[2 * j] = nibbles[j] & 15;
        lengths[2 * j + 1] = nibbles[j] >> 4;
    }
    // Length 12 takes part in the numbering but gets no entry; 13-15 are ignored.
    std::array<uint32_t, 14> per_len{}, next{};
    for (uint8_t l : lengths)
        if (l && l <= 12) per_len[l]++;
    for (uint32_t l = 2; l <= 12; ++l) next[l] = (next[l - 1] + per_len[l - 1]) << 1;
    std::array<uint32_t, 256> code{};
    for (uint32_t s = 0; s < 256; ++s)
        if (lengths[s] && lengths[s] <= 12) code[s] = next[lengths[s]]++;
    auto valid = [&](uint32_t s, uint32_t max_len) {
        return lengths[s] >= 1 && lengths[s] <= max_len && code[s] < (1u << lengths[s]);
    };

    HuffLut lut{};
    for (uint32_t s = 0; s < 256; ++s) {
        if (!valid(s, kLutBits)) continue;
        const uint32_t span = 1u << (kLutBits - lengths[s]);
        for (uint32_t i = 0; i < span; ++i)
            lut[(code[s] << (kLutBits - lengths[s])) + i] =
                s | lengths[s] << 16 | KVN_HUFF_LUT_ONE << 24;
    }
    for (uint32_t a = 0; a < 256; ++a) {
        if (!valid(a, kLutBits - 1)) continue;
        const uint32_t la = lengths[a];
        for (uint32_t b = 0; b < 256; ++b) {
            if (!valid(b, kLutBits - la)) continue;
            const uint32_t lb = lengths[b];
            const uint32_t base = code[a] << (kLutBits - la) | code[b] << (kLutBits - la - lb);
            for (uint32_t i = 0; i < (1u << (kLutBits - la - lb)); ++i)
                lut[base + i] = a | b << 8 | (la + lb) << 16 | KVN_HUFF_LUT_TWO << 24;
        }
    }
    for (uint32_t s = 0; s < 256; ++s) {
        if (lengths[s] != kMaxLen || !valid(s, kMaxLen)) continue;
        uint32_t& e = lut[code[s] >> 1];
        const uint32_t shift = (code[s] & 1) ? 8 : 0;
        e = (e & ~(0xFFu << shift) & 0xFFFFu) | s << shift | kMaxLen << 16 | KVN_HUFF_LUT_LONG << 24;
    }
    return lut;
}

void huffDecode(const uint8_t* coded, uint32_t coded_len, uint32_t count, uint8_t* out) {
    if (count == 0) return;
    std::array<uint8_t, KVN_HUFF_LENGTHS_BYTES> nibbles;
    for (uint32_t j = 0; j < KVN_HUFF_LENGTHS_BYTES; ++j) nibbles[j] = byteAt(coded, coded_len, j);
    const HuffLut lut = huffBuildLut(nibbles.data());

    auto u8 = [&](uint64_t off) { return uint32_t(byteAt(coded, coded_len, off)); };
    const uint32_t min_bytes = u8(KVN_HUFF_MIN_LANE_OFF) | u8(KVN_HUFF_MIN_LANE_OFF + 1) << 8 |
                               u8(KVN_HUFF_MIN_LANE_OFF + 2) << 16;
    const uint32_t width = u8(KVN_HUFF_DELTA_WIDTH_OFF);
    const uint64_t rows_off = KVN_HUFF_DELTAS_OFF + 4ull * width;
    uint64_t rows = u8(rows_off) | u8(rows_off + 1) << 8 | u8(rows_off + 2) << 16 |
                    uint64_t(u8(rows_off + 3)) << 24;
    const uint64_t body = rows_off + 4;
    rows = coded_len >= body ? std::min<uint64_t>(rows, (coded_len - body) / KVN_HUFF_ROW_BYTES) : 0;

    std::array<uint64_t, KVN_HUFF_LANES> words{}, tail{};
    uint64_t tail_at = body + KVN_HUFF_ROW_BYTES * rows;
    for (uint32_t lane = 0; lane < KVN_HUFF_LANES; ++lane) {
        uint64_t delta = 0;
        for (uint32_t b = 0; b < std::min(width, 64u); ++b) {
            const uint64_t bit = uint64_t(lane) * width + b;
            delta |= uint64_t(u8(KVN_HUFF_DELTAS_OFF + bit / 8) >> (bit % 8) & 1) << b;
        }
        const uint64_t len = std::min<uint64_t>(min_bytes + delta, coded_len);
        words[lane] = (len + 3) / 4;
        tail[lane] = tail_at;
        tail_at += 4 * (words[lane] > rows ? words[lane] - rows : 0);
    }

    const uint32_t q = count / KVN_HUFF_LANES;
    for (uint32_t lane = 0; lane < KVN_HUFF_LANES; ++lane) {
        auto word = [&](uint64_t w) -> uint64_t {
            if (w >= words[lane]) return 0;  // exhausted lanes decode zero bits
            const uint64_t off = w < rows ? body + KVN_HUFF_ROW_BYTES * w + 4 * lane
                                          : tail[lane] + 4 * (w - rows);
            return u8(off) << 24 | u8(off + 1) << 16 | u8(off + 2) << 8 | u8(off + 3);
        };
        uint64_t buf = 0;  // bits held at the top
        uint32_t held = 0;
        uint64_t next_word = 0;
        uint8_t* dst = out + laneStart(lane, q);
        const uint32_t n = laneCount(lane, q, count);
        for (uint32_t done = 0; done < n;) {
            while (held <= 32) {
                buf |= word(next_word++) << (32 - held);
                held += 32;
            }
            const uint32_t e = lut[buf >> (64 - kLutBits)];
            const uint32_t bits = e >> 16 & 0xFF, kind = e >> 24;
            if (bits == 0) break;
            if (kind == KVN_HUFF_LUT_LONG) {
                dst[done++] = uint8_t((buf >> (63 - kLutBits) & 1) ? e >> 8 : e);
            } else {
                dst[done++] = uint8_t(e);
                if (kind == KVN_HUFF_LUT_TWO && done < n) dst[done++] = uint8_t(e >> 8);
            }
            buf <<= bits;
            held -= std::min(held, bits);
        }
    }
}

}  // namespace kvn::ref
