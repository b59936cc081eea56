#include "ref_encoder.h"

#include <algorithm>
#include <stdexcept>

#include "core/format/frame_header.h"
#include "kernels/format_constants.h"

namespace kvn::ref {
namespace {

uint64_t chunkValue(float f) { return uint64_t(f * float(KVN_CHUNK_UNIT)); }

void appendLe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

bool singleByte(std::span<const uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [&](uint8_t b) { return b == bytes[0]; });
}

}  // namespace

EncodeOptions encodeOptionsForLevel(int level, float sc_group_size) {
    static constexpr uint32_t kHashBits[] = {14, 16, 15, 15};
    if (level < 1 || level > 4) throw std::invalid_argument("the greedy parse serves levels 1 to 4");
    EncodeOptions o;
    o.sc_group_size = sc_group_size;
    o.huffman = level >= 3;
    o.lz.hash_bits = kHashBits[level - 1];
    o.lz.insert_in_matches = level % 2 == 0;
    return o;
}

uint32_t subChunksPerGroup(float sc_group_size) {
    const uint32_t sub = std::min(uint32_t(frameChunkSize(sc_group_size)), KVN_SUBCHUNK_SIZE);
    const uint64_t v = chunkValue(sc_group_size);
    return uint32_t(std::max<uint64_t>(1, (v + sub - 1) / sub));
}

EncodedBlock encodeBlock(std::span<const uint8_t> input, const EncodeOptions& options) {
    if (input.size() < KVN_FRAME_PREFIX_BYTES) throw std::invalid_argument("block below 8 bytes");
    const uint32_t chunk = uint32_t(frameChunkSize(options.sc_group_size));
    const uint32_t sub = std::min(chunk, KVN_SUBCHUNK_SIZE);
    const uint64_t n = (input.size() + chunk - 1) / chunk;

    // Sub-chunk lengths over the frame, chunk by chunk.
    std::vector<uint32_t> lens;
    std::vector<uint32_t> first_sub(n + 1);
    for (uint64_t k = 0; k < n; ++k) {
        first_sub[k] = uint32_t(lens.size());
        uint64_t left = std::min<uint64_t>(chunk, input.size() - k * chunk);
        for (; left > 0; left -= std::min<uint64_t>(left, sub)) lens.push_back(uint32_t(std::min<uint64_t>(left, sub)));
    }
    first_sub[n] = uint32_t(lens.size());

    // LZ parse by groups of consecutive sub-chunks.
    const uint32_t spc = subChunksPerGroup(options.sc_group_size);
    std::vector<SubChunkStreams> streams;
    uint64_t pos = 0;
    for (size_t g = 0; g < lens.size(); g += spc) {
        std::span<const uint32_t> group(lens.data() + g, std::min<size_t>(spc, lens.size() - g));
        auto parsed = lzEncodeGroup(input.data() + pos, group, g == 0, options.lz);
        for (auto& s : parsed) {
            pos += s.raw_len;
            streams.push_back(std::move(s));
        }
    }

    EncodedBlock block;
    block.raw_size = input.size();
    for (uint64_t k = 0; k < n; ++k) {
        const uint64_t start = k * chunk;
        const auto bytes = input.subspan(start, std::min<uint64_t>(chunk, input.size() - start));
        const size_t record_start = block.payload.size();
        const uint8_t hdr1 = KVN_CHUNK_HDR1_WRITTEN;
        if (options.fill_chunks && singleByte(bytes)) {
            block.payload.push_back(KVN_CHUNK_HDR0_CODED_WRITTEN);
            block.payload.push_back(hdr1);
            appendLe32(block.payload, KVN_CHUNK_MODE_FILL << KVN_SIZE_HDR_MODE_SHIFT);
            block.payload.push_back(bytes[0]);
        } else {
            std::vector<uint8_t> body;
            bool raw = false;
            for (uint32_t i = first_sub[k]; i < first_sub[k + 1]; ++i) {
                const SubChunkStreams& s = streams[i];
                raw |= lzOutput(s).size() >= s.raw_len;
                const auto enc = encodeSubChunk(s, options.huffman);
                body.insert(body.end(), enc.begin(), enc.end());
            }
            raw |= body.size() >= bytes.size();
            if (raw) {
                block.payload.push_back(KVN_CHUNK_HDR0_STORED_WRITTEN);
                block.payload.push_back(hdr1);
                block.payload.insert(block.payload.end(), bytes.begin(), bytes.end());
            } else {
                block.payload.push_back(KVN_CHUNK_HDR0_CODED_WRITTEN);
                block.payload.push_back(hdr1);
                appendLe32(block.payload, uint32_t(body.size() - 1));
                block.payload.insert(block.payload.end(), body.begin(), body.end());
            }
        }
        block.record_sizes.push_back(uint32_t(block.payload.size() - record_start));
    }
    for (uint64_t k = 1; k < n; ++k)
        for (uint64_t i = 0; i < KVN_CHUNK_PREFIX_BYTES; ++i) {
            const uint64_t at = k * chunk + i;
            block.payload.push_back(at < input.size() ? input[at] : 0);
        }
    return block;
}

}  // namespace kvn::ref
