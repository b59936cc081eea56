// The one-thread frame walk against the host readers: on frames written by
// the reference encoder its descriptors, sub-chunk starts and WalkMeta cells
// equal what parseFrameHeader, frameTotalLength and walkChunks make of the same
// bytes; every fault it reports is one the host readers report too, or one of
// the device walk's narrower rules; and no fault writes outside its buffers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "core/format/byte_order.h"
#include "core/format/chunk_walk.h"
#include "core/format/frame_header.h"
#include "core/format/frame_walk.h"
#include "tests/core/format/chunk_record_at.h"
#include "tests/core/format/chunk_test_data.h"
#include "tests/core/format/frame_builder.h"
#include "tests/kernels/decode/decode_kernel_test.h"
#include "tests/reference/reference_codec.h"

namespace kvn::test {
namespace {

constexpr uint32_t kCapacity = KVN_MAX_CHUNKS_PER_BLOCK;
constexpr uint32_t kDecodedCapacity = 0xFFFFFFFFu;

struct WalkOutput {
    uint32_t status = 0;
    uint32_t cells[5] = {};  // count, decoded, sub-chunk size, payload base, payload length
    std::vector<KvnChunkDesc> descs;
    std::vector<uint32_t> starts;
    uint32_t subchunk_total = 0;
    std::vector<size_t> frame_first;  // index of each frame's first descriptor
};

// What the host readers make of the frames in bytes (all of them good).
WalkOutput hostWalk(const std::vector<uint8_t>& bytes) {
    WalkOutput out;
    uint64_t pos = 0, decoded = 0, base = 0, payload_end = 0;
    bool has_base = false;
    while (bytes.size() - pos >= kFrameFixedHeaderSize && loadLe32(bytes.data() + pos) == kFrameMagic) {
        const FrameHeader h = parseFrameHeader(bytes.data() + pos, bytes.size() - pos);
        EXPECT_EQ(h.error, Error::None);
        const FrameLength length = frameTotalLength(bytes.data() + pos, bytes.size() - pos);
        EXPECT_EQ(length.error, Error::None);
        const uint64_t at = pos + h.header_length;
        const BlockHeader block = readBlockHeader(bytes.data() + at);
        if (loadLe32(bytes.data() + at) != 0 && !endsFrame(block)) {
            out.frame_first.push_back(out.descs.size());
            const uint64_t start = at + kBlockHeaderSize;
            if (!has_base) base = start, has_base = true;
            if (block.stored) {
                out.descs.push_back({uint32_t(start - base), block.raw_size, block.raw_size, uint32_t(decoded),
                                     KVN_CHUNK_KIND_STORED, 0, {}});
            } else {
                std::vector<KvnChunkDesc> descs(KVN_MAX_CHUNKS_PER_BLOCK);
                ChunkWalk walk;
                EXPECT_EQ(walkChunks(std::span(bytes.data() + start, block.payload_length), block.raw_size,
                                     uint32_t(frameChunkSize(h.sc_group_size)), h.sc_group_size, decoded, descs, &walk),
                          Error::None);
                for (uint32_t i = 0; i < walk.chunk_count; ++i) {
                    KvnChunkDesc d = descs[i];
                    if ((d.flags & KVN_CHUNK_KIND_MASK) != KVN_CHUNK_KIND_FILL) d.src_off += uint32_t(start - base);
                    out.descs.push_back(d);
                }
            }
            decoded += block.raw_size;
            payload_end = start + block.payload_length;
        }
        pos += length.length;
        if (pos >= bytes.size()) break;
    }
    out.starts.resize(out.descs.size());
    out.subchunk_total = uint32_t(subChunkStarts(out.descs, KVN_SUBCHUNK_SIZE, out.starts.data()));
    out.cells[0] = uint32_t(out.descs.size());
    out.cells[1] = uint32_t(decoded);
    out.cells[2] = KVN_SUBCHUNK_SIZE;
    out.cells[3] = uint32_t(base);
    out.cells[4] = uint32_t(payload_end - base);
    return out;
}

// The walk found what the host readers found.
void expectSameWalk(const WalkOutput& got, const WalkOutput& expected) {
    ASSERT_EQ(got.status, 0u);
    EXPECT_EQ(std::vector<uint32_t>(got.cells, got.cells + 5), std::vector<uint32_t>(expected.cells, expected.cells + 5));
    EXPECT_EQ(asBytes(got.descs), asBytes(expected.descs));
    EXPECT_EQ(got.starts, expected.starts);
    EXPECT_EQ(got.subchunk_total, expected.subchunk_total);
}

enum class Walk { Frame, Mega };

class FrameWalkKernel : public DecodeKernelTest {
protected:
    // kvnWalkFrameKernel, or kvnMegaWalkKernel (no decoded capacity).
    WalkOutput walk(const std::vector<uint8_t>& bytes, uint32_t capacity = kCapacity,
                    uint32_t decoded_capacity = kDecodedCapacity, Walk kind = Walk::Frame) {
        const uint32_t in = bytes.empty() ? rig_.buffer(16, 0) : rig_.buffer(bytes);
        const WalkBuffers b = walkBuffers(capacity);
        if (kind == Walk::Frame) {
            launch("kvnWalkFrameKernel", {1},
                   {rigBuffer(in), rigBuffer(b.descs), rigBuffer(b.cells[0]), rigBuffer(b.cells[1]),
                    rigBuffer(b.cells[2]), rigBuffer(b.cells[3]), rigBuffer(b.cells[4]), rigBuffer(b.cells[5]),
                    rigBuffer(b.starts), rigBuffer(b.total), rigU32(uint32_t(bytes.size())), rigU32(capacity),
                    rigU32(decoded_capacity)});
        } else {
            launch("kvnMegaWalkKernel", {1},
                   {rigBuffer(in), rigBuffer(b.descs), rigBuffer(b.cells[0]), rigBuffer(b.cells[1]),
                    rigBuffer(b.cells[2]), rigBuffer(b.cells[3]), rigBuffer(b.cells[4]), rigBuffer(b.cells[5]),
                    rigBuffer(b.starts), rigBuffer(b.total), rigU32(uint32_t(bytes.size())), rigU32(capacity)});
        }
        return readWalk(b, capacity);
    }

    // The walk's outputs, guard-filled: descriptors and indices for
    // `capacity` chunks, the six cells, the sub-chunk total.
    struct WalkBuffers {
        uint32_t descs, cells[6], starts, total;
    };
    WalkBuffers walkBuffers(uint32_t capacity) {
        WalkBuffers b;
        b.descs = guarded(24ull * capacity);
        for (uint32_t& c : b.cells) c = guarded(4);
        b.starts = guarded(4ull * capacity);
        b.total = guarded(4);
        return b;
    }
    // Reads the outputs back; nothing may change past `written` chunks.
    WalkOutput readWalk(const WalkBuffers& b, uint32_t written) {
        WalkOutput out;
        out.status = readWords<uint32_t>(b.cells[5], 1)[0];
        for (int i = 0; i < 5; ++i) out.cells[i] = readWords<uint32_t>(b.cells[i], 1)[0];
        const uint32_t count = std::min(out.cells[0], written);
        out.descs = readWords<KvnChunkDesc>(b.descs, count);
        out.starts = readWords<uint32_t>(b.starts, count);
        out.subchunk_total = readWords<uint32_t>(b.total, 1)[0];
        expectGuardFrom(b.descs, 24ull * written);
        expectGuardFrom(b.starts, 4ull * written);
        for (uint32_t c : b.cells) expectGuardFrom(c, 4);
        expectGuardFrom(b.total, 4);
        return out;
    }
};

// ---- good frames --------------------------------------------------------------

std::vector<uint8_t> frameOf(const std::vector<uint8_t>& input, int level, float sc, ref::FrameOptions frame) {
    ref::EncodeOptions enc = ref::encodeOptionsForLevel(level, sc);
    return ref::compressFrame(input, enc, frame);
}

ref::FrameOptions withTrailers(bool table) {
    ref::FrameOptions f;
    f.checksum = true;
    f.merkle_root = true;
    f.chunk_table = table;
    return f;
}

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct GoodCase {
    const char* name;
    std::function<std::vector<uint8_t>()> bytes;
};

const GoodCase kGoodFrames[] = {
    {"text_level1_trailers", [] { return frameOf(machineText(500000), 1, 0.25f, withTrailers(true)); }},
    {"text_huffman_full_chunks", [] { return frameOf(machineText(700000), 3, 1.0f, withTrailers(true)); }},
    {"small_chunks_prefix_area", [] { return frameOf(repetitiveBytes(300000, 2), 2, 1.0f / 64, withTrailers(false)); }},
    {"random_stored_chunks", [] { return frameOf(randomBytes(200000, 4), 1, 0.25f, {}); }},
    {"stored_block", [] { return frameOf(machineText(100), 1, 0.25f, withTrailers(false)); }},
    {"empty", [] { return frameOf({}, 1, 0.25f, withTrailers(false)); }},
    {"dict_id", [] {
         ref::FrameOptions f;
         f.dict_id = 7;
         return frameOf(machineText(9000), 1, 0.25f, f);
     }},
    {"two_frames_and_trailing_zeros", [] {
         std::vector<uint8_t> a = frameOf(machineText(3 * 4096), 1, 1.0f / 64, withTrailers(true));
         std::vector<uint8_t> b = frameOf(repetitiveBytes(3 * 4096 - 5, 1), 1, 1.0f / 64, withTrailers(false));
         return concat(concat(a, b), std::vector<uint8_t>(10, 0));
     }},
    {"no_end_mark", [] {
         const std::vector<uint8_t> input = machineText(5000);
         ref::FrameBuilder fb({});
         fb.codedBlock(ref::encodeBlock(input, ref::encodeOptionsForLevel(1, 0.25f)));
         return fb.finish(input, false);
     }},
    // 65,536 chunks of 4 bytes: the longest walk a block asks for.
    {"largest_block", [] { return frameOf(randomBytes(4 * 65536, 9), 1, 4.0f / 262144, {}); }},
};

TEST_P(FrameWalkKernel, GoodFramesMatchTheHostReaders) {
    for (const GoodCase& c : kGoodFrames) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = c.bytes();
        const WalkOutput expected = hostWalk(bytes);
        expectSameWalk(walk(bytes), expected);
    }
}

TEST_P(FrameWalkKernel, MegaWalkMarksEachFramesFirstChunk) {
    for (const GoodCase& c : kGoodFrames) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = c.bytes();
        WalkOutput expected = hostWalk(bytes);
        for (size_t i : expected.frame_first) expected.descs[i].flags |= KVN_CHUNK_FLAG_FRAME_FIRST;
        expectSameWalk(walk(bytes, kCapacity, kDecodedCapacity, Walk::Mega), expected);
    }
}

TEST_P(FrameWalkKernel, TwoFramesContinueTheDecodedOffsets) {
    std::vector<uint8_t> a = frameOf(machineText(3 * 4096), 1, 1.0f / 64, {});
    std::vector<uint8_t> b = frameOf(machineText(3 * 4096 + 1000), 1, 1.0f / 64, {});
    const WalkOutput got = walk(concat(a, b));
    ASSERT_EQ(got.status, 0u);
    ASSERT_EQ(got.descs.size(), 7u);  // 3 + 4 chunks
    for (uint32_t i = 0; i < 7; ++i) EXPECT_EQ(got.descs[i].dst_off, (i < 3 ? i : 3 + (i - 3)) * 4096u) << i;
    for (const KvnChunkDesc& d : got.descs) EXPECT_EQ(d.flags & KVN_CHUNK_FLAG_FRAME_FIRST, 0u);
    EXPECT_EQ(got.cells[1], 6u * 4096 + 1000);
    // The multi-frame walk marks descriptors 0 and 3.
    const WalkOutput mega = walk(concat(a, b), kCapacity, kDecodedCapacity, Walk::Mega);
    ASSERT_EQ(mega.descs.size(), 7u);
    for (uint32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(mega.descs[i].flags & KVN_CHUNK_FLAG_FRAME_FIRST, i == 0 || i == 3 ? 4u : 0u) << i;
    }
}

// ---- faults -------------------------------------------------------------------

// How the host readers see bytes the device walk refuses.
enum class HostView {
    HeaderError,   // parseFrameHeader refuses the frame
    LengthError,   // frameTotalLength refuses it, or it runs past the input
    ChunkError,    // walkChunks refuses the block
    Narrower,      // the host reads it; the device walk's narrower rules refuse it
};

HostView hostView(const std::vector<uint8_t>& bytes) {
    const FrameHeader h = parseFrameHeader(bytes.data(), bytes.size());
    if (h.error != Error::None) return HostView::HeaderError;
    const FrameLength length = frameTotalLength(bytes.data(), bytes.size());
    if (length.error != Error::None || length.length > bytes.size()) return HostView::LengthError;
    if (h.wrt_section_offset + h.wrt_section_length > bytes.size()) return HostView::LengthError;
    const BlockHeader block = readBlockHeader(bytes.data() + h.header_length);
    if (!block.stored && !block.skip && block.payload_length != 0) {
        std::vector<KvnChunkDesc> descs(KVN_MAX_CHUNKS_PER_BLOCK);
        ChunkWalk walk;
        const Error e = walkChunks(std::span(bytes.data() + h.header_length + 8, block.payload_length),
                                   block.raw_size, uint32_t(frameChunkSize(h.sc_group_size)), h.sc_group_size, 0,
                                   descs, &walk);
        if (e != Error::None) return HostView::ChunkError;
    }
    return HostView::Narrower;
}

// A coded block of five 4096-byte chunks, and the frame around it.
const std::vector<uint8_t>& fiveChunkInput() {
    static const std::vector<uint8_t> input = machineText(5 * 4096);
    return input;
}
ref::EncodedBlock fiveChunkBlock() {
    return ref::encodeBlock(fiveChunkInput(), ref::encodeOptionsForLevel(1, 1.0f / 64));
}
ref::FrameOptions smallChunks() {
    ref::FrameOptions f;
    f.sc_group_size = 1.0f / 64;
    return f;
}
std::vector<uint8_t> frameWith(uint32_t word, uint32_t raw, const std::vector<uint8_t>& payload,
                               ref::FrameOptions f = smallChunks()) {
    ref::FrameBuilder fb(f);
    fb.block(word, raw, payload);
    return fb.finish(fiveChunkInput());
}
// The five-chunk frame with its block payload changed by `edit`.
std::vector<uint8_t> editedBlock(const std::function<void(std::vector<uint8_t>&, uint32_t& raw)>& edit) {
    ref::EncodedBlock block = fiveChunkBlock();
    uint32_t raw = uint32_t(block.raw_size);
    edit(block.payload, raw);
    return frameWith(uint32_t(block.payload.size()), raw, block.payload);
}
// A frame of one hand-made chunk record (D = 100 decoded bytes).
std::vector<uint8_t> oneChunk(std::vector<uint8_t> record) {
    return frameWith(uint32_t(record.size()), 100, record);
}
std::vector<uint8_t> withByte(std::vector<uint8_t> bytes, size_t at, uint8_t value) {
    bytes.at(at) = value;
    return bytes;
}
// A frame header (no content size) announcing a WRT section of length len,
// of which `present` bytes follow, then an end mark.
std::vector<uint8_t> wrtFrame(uint32_t len, uint32_t present) {
    HeaderFields f;
    f.flags = kFrameWrtSection;
    f.wrt_length = len;
    Bytes bytes = frameHeaderBytes(f);
    bytes.insert(bytes.end(), present, 0x20);
    appendLe32(bytes, 0);
    return bytes;
}

std::vector<uint8_t> smallFrame() { return frameOf(machineText(1000), 1, 0.25f, {}); }
std::vector<uint8_t> withF32(std::vector<uint8_t> bytes, size_t at, float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = uint8_t(bits >> (8 * i));
    return bytes;
}

struct FaultCase {
    const char* name;
    std::function<std::vector<uint8_t>()> bytes;
    uint32_t status;
    HostView host;
    uint32_t capacity = kCapacity;
    uint32_t decoded_capacity = kDecodedCapacity;
};

const FaultCase kFaults[] = {
    {"ten_zero_bytes", [] { return std::vector<uint8_t>(10, 0); }, 12, HostView::HeaderError},
    {"thirteen_bytes", [] {
         Bytes bytes = frameOf(machineText(1000), 1, 0.25f, {});
         bytes.resize(13);
         return bytes;
     }, 12, HostView::HeaderError},
    {"bad_magic", [] { return withByte(frameOf(machineText(1000), 1, 0.25f, {}), 0, 'X'); }, 1, HostView::HeaderError},
    {"version_3", [] { return withByte(frameOf(machineText(1000), 1, 0.25f, {}), 4, 3); }, 2, HostView::HeaderError},
    {"codec_3", [] { return withByte(frameOf(machineText(1000), 1, 0.25f, {}), 6, 3); }, 3, HostView::HeaderError},
    {"codec_0", [] { return withByte(frameOf(machineText(1000), 1, 0.25f, {}), 6, 0); }, 3, HostView::Narrower},
    {"codec_2", [] { return withByte(frameOf(machineText(1000), 1, 0.25f, {}), 6, 2); }, 3, HostView::Narrower},
    // Header fields the host reader refuses are refused on the device too
    // (a chunk fraction of 0 once walked as 65536-byte chunks).
    {"chunk_fraction_0", [] { return withF32(smallFrame(), 9, 0.0f); }, 4, HostView::HeaderError},
    {"chunk_fraction_minus_0", [] { return withF32(smallFrame(), 9, -0.0f); }, 4, HostView::HeaderError},
    {"chunk_fraction_nan", [] { return withF32(smallFrame(), 9, std::nanf("")); }, 4, HostView::HeaderError},
    {"chunk_fraction_negative", [] { return withF32(smallFrame(), 9, -0.25f); }, 4, HostView::HeaderError},
    {"chunk_fraction_infinite", [] { return withF32(smallFrame(), 9, INFINITY); }, 4, HostView::HeaderError},
    {"chunk_fraction_above_65536", [] { return withF32(smallFrame(), 9, 65537.0f); }, 4, HostView::HeaderError},
    {"chunk_fraction_below_a_byte", [] { return withF32(smallFrame(), 9, 1.0f / 524288); }, 4,
     HostView::HeaderError},
    {"block_size_code_7", [] { return withByte(smallFrame(), 8, 7); }, 4, HostView::HeaderError},
    {"byte_plane_stride_5", [] { return withByte(smallFrame(), 13, 5); }, 4, HostView::HeaderError},
    {"negative_content_size", [] { return withByte(smallFrame(), 21, 0x80); }, 4, HostView::HeaderError},
    {"content_size_cut", [] {
         Bytes bytes = frameHeaderBytes({});
         bytes.resize(18);
         return bytes;
     }, 12,
     HostView::HeaderError},
    {"wrt_length_15", [] { return wrtFrame(15, 15); }, 12, HostView::HeaderError},
    {"wrt_past_input", [] { return wrtFrame(64, 10); }, 12, HostView::LengthError},
    {"skip_block", [] {
         ref::FrameBuilder fb(smallChunks());
         fb.skipBlock(fiveChunkInput());
         return fb.finish({});
     }, 5, HostView::Narrower},
    {"long_size_header", [] { return oneChunk({0x55, 0x81, 0x00, 0x00, 0x04, 0x00, 0, 0, 0, 0xAB}); }, 5,
     HostView::Narrower},
    {"raw_size_missing", [] {
         HeaderFields f;
         f.sc_group_size = 1.0f / 64;
         Bytes bytes = frameHeaderBytes(f);
         appendLe32(bytes, 100);
         return bytes;
     }, 6, HostView::LengthError},
    {"chunk_magic", [] { return editedBlock([](std::vector<uint8_t>& p, uint32_t&) { p[0] ^= 0x01; }); }, 7,
     HostView::ChunkError},
    {"chunk_version_3", [] { return editedBlock([](std::vector<uint8_t>& p, uint32_t&) { p[1] = 3; }); }, 8,
     HostView::ChunkError},
    {"chunk_version_0", [] { return editedBlock([](std::vector<uint8_t>& p, uint32_t&) { p[1] = 0; }); }, 8,
     HostView::ChunkError},
    {"size_header_cut", [] { return oneChunk({0x55, 0x01, 0x10, 0x00}); }, 9, HostView::ChunkError},
    {"fill_byte_missing", [] { return oneChunk({0x55, 0x01, 0x00, 0x00, 0x04, 0x00}); }, 9, HostView::ChunkError},
    {"chunk_mode_2", [] { return oneChunk({0x55, 0x01, 0x00, 0x00, 0x08, 0x00, 0x00}); }, 10, HostView::ChunkError},
    {"chunk_mode_3", [] { return oneChunk({0x55, 0x01, 0x00, 0x00, 0x0C, 0x00, 0x00}); }, 10, HostView::ChunkError},
    {"coded_payload_past_records", [] { return oneChunk({0x55, 0x01, 0x40, 0x00, 0x00, 0x00, 1, 2, 3}); }, 12,
     HostView::ChunkError},
    {"stored_chunk_cut", [] { return oneChunk({0xD5, 0x01, 1, 2, 3}); }, 12, HostView::ChunkError},
    {"one_payload_byte", [] { return oneChunk({0x55}); }, 12, HostView::ChunkError},
    {"prefix_area_covers_payload", [] {
         std::vector<uint8_t> payload(8 * 4, 0);
         payload[0] = KVN_CHUNK_HDR0_CODED_WRITTEN | KVN_CHUNK_HDR0_PREFIX_AREA;
         payload[1] = KVN_CHUNK_HDR1_WRITTEN;
         return frameWith(uint32_t(payload.size()), 5 * 4096, payload);
     }, 12, HostView::ChunkError},
    {"block_past_input", [] {
         std::vector<uint8_t> bytes = frameOf(machineText(5000), 1, 0.25f, {});
         bytes.resize(bytes.size() - 10);
         return bytes;
     }, 12, HostView::LengthError},
    {"stored_block_shorter_than_raw", [] {
         std::vector<uint8_t> raw(50, 'a');
         return frameWith(kBlockStored | 50, 60, raw);
     }, 12, HostView::Narrower},
    {"second_block", [] {
         ref::FrameBuilder fb(smallChunks());
         fb.storedBlock(std::vector<uint8_t>(50, 'a')).storedBlock(std::vector<uint8_t>(50, 'b'));
         return fb.finish(std::vector<uint8_t>(100, 'a'));
     }, 13, HostView::Narrower},
    // More frames than one walk's loop budget (lavapipe would end the loop
    // silently): a visible fault instead of a short walk.
    {"more_frames_than_one_walk_takes", [] {
         const std::vector<uint8_t> empty = frameOf({}, 1, 0.25f, {});
         std::vector<uint8_t> bytes;
         for (int i = 0; i < 33000; ++i) bytes.insert(bytes.end(), empty.begin(), empty.end());
         return bytes;
     }, 11, HostView::Narrower},
    {"more_chunks_than_capacity", [] { return editedBlock([](std::vector<uint8_t>&, uint32_t&) {}); }, 11,
     HostView::Narrower, 3},
    {"decoded_capacity", [] { return editedBlock([](std::vector<uint8_t>&, uint32_t&) {}); }, 15, HostView::Narrower,
     kCapacity, 5 * 4096 - 1},
};

TEST_P(FrameWalkKernel, FaultsAreStatusWordsTheHostReadersAgreeWith) {
    for (const FaultCase& c : kFaults) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = c.bytes();
        const WalkOutput got = walk(bytes, c.capacity, c.decoded_capacity);
        EXPECT_EQ(got.status, c.status);
        // On a fault only the status cell is written.
        EXPECT_EQ(std::vector<uint32_t>(got.cells, got.cells + 5), std::vector<uint32_t>(5, 0));
        EXPECT_EQ(got.subchunk_total, 0u);
        EXPECT_EQ(hostView(bytes), c.host);
        // The multi-frame walk has no decoded capacity; every other fault is the same.
        const WalkOutput mega = walk(bytes, c.capacity, kDecodedCapacity, Walk::Mega);
        EXPECT_EQ(mega.status, c.status == 15 ? 0u : c.status);
    }
}

TEST_P(FrameWalkKernel, StatusAfterAGoodFrameStaysZeroForTrailingBytes) {
    const std::vector<uint8_t> good = frameOf(machineText(5000), 1, 0.25f, withTrailers(false));
    for (const std::vector<uint8_t>& tail : {std::vector<uint8_t>(10, 0), std::vector<uint8_t>(40, 'x'),
                                             std::vector<uint8_t>{0x31, 0x4E, 0x56}}) {
        const WalkOutput got = walk(concat(good, tail));
        EXPECT_EQ(got.status, 0u);
        EXPECT_EQ(asBytes(got.descs), asBytes(hostWalk(good).descs));
    }
}

KVN_ON_BOTH_BACKENDS(FrameWalkKernel);

// ---- the table walk -----------------------------------------------------------

// One frame with its chunk-size table (whatever its chunk size), and where
// the table starts.
struct TableFrame {
    std::vector<uint8_t> bytes;
    uint32_t table_off;
    uint32_t chunks;
};

TableFrame tableFrame(const std::vector<uint8_t>& input, int level, float sc, bool trailers) {
    ref::FrameOptions f;
    f.sc_group_size = sc;
    f.chunk_table = true;
    f.checksum = trailers;
    f.merkle_root = trailers;
    ref::FrameBuilder fb(f);
    fb.codedBlock(ref::encodeBlock(input, ref::encodeOptionsForLevel(level, sc)));
    TableFrame t{fb.finish(input), 0, 0};
    t.chunks = uint32_t(chunkTableLength(input.size(), frameChunkSize(sc)) / kChunkTableEntrySize);
    t.table_off = uint32_t(t.bytes.size() - (trailers ? 8 : 0) - kChunkTableEntrySize * t.chunks);
    return t;
}

struct TableCase {
    const char* name;
    std::function<TableFrame()> frame;
};

const TableCase kTableFrames[] = {
    {"text_quarter_chunks", [] { return tableFrame(machineText(600000), 1, 0.25f, true); }},
    {"text_huffman_full_chunks", [] { return tableFrame(machineText(700000), 3, 1.0f, false); }},
    {"small_chunks_prefix_area", [] { return tableFrame(repetitiveBytes(300000, 3), 2, 1.0f / 64, true); }},
    {"random_stored_chunks", [] { return tableFrame(randomBytes(200000, 4), 1, 1.0f / 16, false); }},
    {"one_chunk", [] { return tableFrame(machineText(3000), 1, 0.25f, false); }},
    {"largest_block", [] { return tableFrame(randomBytes(4 * 65536, 9), 1, 4.0f / 262144, false); }},
};

class FrameWalkTableKernel : public FrameWalkKernel {
protected:
    WalkOutput walkTable(const TableFrame& f, uint32_t capacity = kCapacity, uint32_t decoded_capacity = kDecodedCapacity) {
        const uint32_t in = rig_.buffer(f.bytes);
        const WalkBuffers b = walkBuffers(capacity);
        launch("kvnWalkFrameTableKernel", {1},
               {rigBuffer(in), rigBuffer(b.descs), rigBuffer(b.cells[0]), rigBuffer(b.cells[1]), rigBuffer(b.cells[2]),
                rigBuffer(b.cells[3]), rigBuffer(b.cells[4]), rigBuffer(b.cells[5]), rigBuffer(b.starts),
                rigBuffer(b.total), rigU32(uint32_t(f.bytes.size())), rigU32(f.table_off), rigU32(f.chunks),
                rigU32(capacity), rigU32(decoded_capacity)});
        return readWalk(b, std::min(capacity, f.chunks));
    }
};

TEST_P(FrameWalkTableKernel, GoodFramesMatchTheHostReaders) {
    for (const TableCase& c : kTableFrames) {
        SCOPED_TRACE(c.name);
        const TableFrame f = c.frame();
        const WalkOutput expected = hostWalk(f.bytes);
        expectSameWalk(walkTable(f), expected);
    }
}

// The five-chunk frame with a table, edited.
TableFrame editedTable(const std::function<void(TableFrame&)>& edit) {
    TableFrame f = tableFrame(fiveChunkInput(), 1, 1.0f / 64, true);
    edit(f);
    return f;
}
uint32_t loadLe24(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16; }
void storeLe24(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 3; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
// Payload offset of chunk i's record, from the table.
size_t recordAt(const TableFrame& f, uint32_t i) {
    const FrameHeader h = parseFrameHeader(f.bytes.data(), f.bytes.size());
    size_t at = h.header_length + kBlockHeaderSize;
    for (uint32_t k = 0; k < i; ++k) at += loadLe24(f.bytes, f.table_off + 3 * k);
    return at;
}

struct TableFault {
    const char* name;
    std::function<TableFrame()> frame;
    uint32_t status;
    uint32_t serial_status;  // what kvnWalkFrameKernel says of the same bytes
    uint32_t capacity = kCapacity;
    uint32_t decoded_capacity = kDecodedCapacity;
    // Threads raise statuses at once and the last one wins: another status
    // the case may end with (0: none).
    uint32_t other_status = 0;
};

const TableFault kTableFaults[] = {
    {"table_one_byte_more", [] { return editedTable([](TableFrame& f) {
         storeLe24(f.bytes, f.table_off + 6, loadLe24(f.bytes, f.table_off + 6) + 1); }); }, 14, 0},
    {"entries_swapped", [] { return editedTable([](TableFrame& f) {
         const uint32_t a = loadLe24(f.bytes, f.table_off), b = loadLe24(f.bytes, f.table_off + 3);
         storeLe24(f.bytes, f.table_off, b);
         storeLe24(f.bytes, f.table_off + 3, a); }); }, 14, 0, kCapacity, kDecodedCapacity, 7},
    {"chunk_count_too_large", [] { return editedTable([](TableFrame& f) { f.chunks += 1; f.table_off -= 3; }); }, 14, 0},
    {"table_past_input", [] { return editedTable([](TableFrame& f) { f.table_off = uint32_t(f.bytes.size()) - 5; }); },
     12, 0},
    {"more_chunks_than_capacity", [] { return editedTable([](TableFrame&) {}); }, 11, 11, 3},
    {"decoded_capacity", [] { return editedTable([](TableFrame&) {}); }, 15, 15, kCapacity, 5 * 4096 - 1},
    {"long_size_header_in_chunk_3", [] { return editedTable([](TableFrame& f) { f.bytes[recordAt(f, 3) + 1] = 0x81; }); },
     5, 5},
    {"mode_2_in_chunk_4", [] { return editedTable([](TableFrame& f) { f.bytes[recordAt(f, 4) + 4] = 0x08; }); }, 10, 10},
    {"chunk_magic_in_chunk_2", [] { return editedTable([](TableFrame& f) { f.bytes[recordAt(f, 2)] = 0x56; }); }, 7, 7},
    {"stored_block", [] {
         ref::FrameOptions o = smallChunks();
         o.chunk_table = true;
         ref::FrameBuilder fb(o);
         fb.storedBlock(fiveChunkInput());
         TableFrame f{fb.finish(fiveChunkInput()), 0, 5};
         f.table_off = uint32_t(f.bytes.size() - 15);
         return f;
     }, 13, 0},
    {"bad_magic", [] { return editedTable([](TableFrame& f) { f.bytes[0] = 'X'; }); }, 1, 1},
    {"version_3", [] { return editedTable([](TableFrame& f) { f.bytes[4] = 3; }); }, 2, 2},
    {"codec_2", [] { return editedTable([](TableFrame& f) { f.bytes[6] = 2; }); }, 3, 3},
};

TEST_P(FrameWalkTableKernel, FaultsAreStatusWords) {
    for (const TableFault& c : kTableFaults) {
        SCOPED_TRACE(c.name);
        const TableFrame f = c.frame();
        const WalkOutput got = walkTable(f, c.capacity, c.decoded_capacity);
        if (got.status != c.other_status || c.other_status == 0) EXPECT_EQ(got.status, c.status);
        EXPECT_EQ(std::vector<uint32_t>(got.cells, got.cells + 5),
                  (std::vector<uint32_t>{0, 0, KVN_SUBCHUNK_SIZE, 0, 0}));  // the sub-chunk size cell from the start
        EXPECT_EQ(got.subchunk_total, 0u);
        EXPECT_EQ(walk(f.bytes, c.capacity, c.decoded_capacity).status, c.serial_status);
    }
}

KVN_ON_BOTH_BACKENDS(FrameWalkTableKernel);

// ---- the leap walk --------------------------------------------------------------

constexpr uint32_t kLeapWarps = 256;
constexpr size_t kLeapControlBytes =
    4 * (KVN_LEAP_HEADER_WORDS + kLeapWarps * (KVN_LEAP_RESULT_WORDS + 2 * KVN_LEAP_WARP_ENTRIES));

// A frame of 4 KiB chunks whose block payload passes 1 MiB: random chunks
// (stored) with repetitive and constant stretches (coded and byte-fill).
std::vector<uint8_t> leapFrame(uint32_t seed, int level, ref::FrameOptions frame) {
    std::vector<uint8_t> input = randomBytes(1200 * 1024, seed);
    const std::vector<uint8_t> rep = repetitiveBytes(8192, seed);
    for (size_t at = 0; at + 163840 <= input.size(); at += 163840) {
        std::copy(rep.begin(), rep.end(), input.begin() + at);
        std::fill(input.begin() + at + 81920, input.begin() + at + 86016, uint8_t(seed));
    }
    return frameOf(input, level, 1.0f / 64, frame);
}

class FrameWalkLeapKernel : public FrameWalkKernel {
protected:
    struct LeapOutput {
        WalkOutput walk;
        bool leapt;  // false: phase 0 left the input to the serial walk
    };
    // Drives kvnMegaLeapKernel phase by phase as the host does.
    LeapOutput leap(const std::vector<uint8_t>& bytes) {
        const uint32_t in = rig_.buffer(bytes);
        const WalkBuffers b = walkBuffers(kCapacity);
        const uint32_t ctl = rig_.buffer(kLeapControlBytes, 0);
        auto phase = [&](uint32_t p, uint32_t groups) {
            launch("kvnMegaLeapKernel", {groups},
                   {rigBuffer(in), rigBuffer(b.descs), rigBuffer(b.cells[0]), rigBuffer(b.cells[1]),
                    rigBuffer(b.cells[2]), rigBuffer(b.cells[3]), rigBuffer(b.cells[4]), rigBuffer(b.cells[5]),
                    rigBuffer(b.starts), rigBuffer(b.total), rigBuffer(ctl), rigU32(uint32_t(bytes.size())),
                    rigU32(kCapacity), rigU32(p), rigU32(kLeapWarps)});
            return readWords<uint32_t>(ctl, KVN_LEAP_HEADER_WORDS);
        };
        if (phase(0, 1)[KVN_LEAP_CTL_SERIAL] != 0) return {{}, false};
        for (size_t frames = 0; frames < bytes.size() / (1 << 20) + 1; ++frames) {
            if (phase(1, 1)[KVN_LEAP_CTL_STATE] != KVN_LEAP_STATE_READY) break;
            phase(2, kLeapWarps);
            if (phase(3, 1)[KVN_LEAP_CTL_STATE] != KVN_LEAP_STATE_READY) break;
            phase(4, kLeapWarps / 32);
        }
        EXPECT_NE(readWords<uint32_t>(ctl, 1)[0], KVN_LEAP_STATE_READY) << "the walk did not end";
        return {readWalk(b, kCapacity), true};
    }
};

struct LeapCase {
    const char* name;
    std::function<std::vector<uint8_t>()> bytes;
    bool leaps;
};

const LeapCase kLeapCases[] = {
    {"one_frame", [] { return leapFrame(1, 1, {}); }, true},
    {"two_frames_trailers_table_prefixes", [] {
         return concat(leapFrame(2, 3, withTrailers(true)), leapFrame(3, 2, withTrailers(false)));
     }, true},
    {"three_frames_trailing_zeros", [] {
         return concat(concat(concat(leapFrame(4, 1, {}), leapFrame(5, 1, {})), leapFrame(6, 1, {})),
                       std::vector<uint8_t>(10, 0));
     }, true},
    {"small_frame_after_a_large_one", [] {
         return concat(leapFrame(7, 1, {}), frameOf(machineText(3 * 4096), 1, 1.0f / 64, {}));
     }, false},
    {"small_frames", [] { return kGoodFrames[7].bytes(); }, false},
};

// The leap walk writes what the host readers find, as the serial walk does,
// and leaves every other input to the serial walk.
TEST_P(FrameWalkLeapKernel, GoodFramesMatchTheHostReaders) {
    for (const LeapCase& c : kLeapCases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = c.bytes();
        const LeapOutput got = leap(bytes);
        ASSERT_EQ(got.leapt, c.leaps);
        if (!got.leapt) continue;
        WalkOutput expected = hostWalk(bytes);
        for (size_t i : expected.frame_first) expected.descs[i].flags |= KVN_CHUNK_FLAG_FRAME_FIRST;
        expectSameWalk(got.walk, expected);
    }
}

// In the second frame.
const RecordDamage kLeapFaults[] = {
    {"first_record_bad_nibble", 0, 0, 0x00},
    {"record_long_size_header", 100, 1, 0x81},
    {"record_bad_version", 101, 1, 0x03},
    {"record_bad_nibble", 180, 0, 0x46},
    {"record_mode_3", 20, 4, 0x0C},
    {"last_record_bad_nibble", 299, 0, 0x00},
};

// Damaged records end the leap walk with the serial walk's status, and
// nothing but the status cell.
TEST_P(FrameWalkLeapKernel, FaultsAreTheSerialWalksStatuses) {
    const std::vector<uint8_t> first = leapFrame(8, 1, {});
    const std::vector<uint8_t> good = concat(first, leapFrame(9, 1, {}));
    for (const RecordDamage& c : kLeapFaults) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = good;
        bytes[chunkRecordAt(bytes, first.size(), c.record) + c.byte] = c.value;
        const WalkOutput serial = walk(bytes, kCapacity, kDecodedCapacity, Walk::Mega);
        ASSERT_NE(serial.status, 0u);
        const LeapOutput got = leap(bytes);
        ASSERT_TRUE(got.leapt);
        EXPECT_EQ(got.walk.status, serial.status);
        EXPECT_EQ(std::vector<uint32_t>(got.walk.cells, got.walk.cells + 3),
                  (std::vector<uint32_t>{0, 0, KVN_SUBCHUNK_SIZE}));
        EXPECT_EQ(got.walk.subchunk_total, 0u);
    }
}

KVN_ON_BOTH_BACKENDS(FrameWalkLeapKernel);

}  // namespace
}  // namespace kvn::test
