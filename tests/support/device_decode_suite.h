// The device-road decode tests both libraries run: frames made by the
// reference encoder, uploaded, decoded from and into device memory by the
// library's call and read back. The bytes equal the input and the host
// road's result, each input takes the road that decodes it faithfully,
// nothing lands past the capacity, and damaged input fails with a status.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <regex>
#include <span>
#include <string>
#include <vector>

#include "core/dict/builtin_dictionary.h"
#include "core/format/byte_order.h"
#include "core/format/frame_header.h"
#include "core/wrt/wrt_encode.h"
#include "core/wrt/wrt_format.h"
#include "reference/ref_byte_plane.h"
#include "reference/ref_decoder.h"
#include "reference/reference_codec.h"
#include "tests/core/format/chunk_record_at.h"
#include "tests/cuda/decode/hand_frames.h"
#include "tests/support/device_road.h"
#include "tests/support/real_bytes.h"

namespace kvn::test::device_suite {

using Bytes = std::vector<uint8_t>;

struct FrameSpec {
    int level = 1;
    float sc = 0.25f;
    bool checksum = false;
    bool merkle = false;
    bool table = false;
    uint32_t dict = 0;
    uint8_t stride = 0;
    bool wrt = false;
    // Blocks of several: 'c' and 'r' coded, 's' stored, 'k' skipped; the
    // content is split evenly over all but the skipped ones. The encoder codes
    // every block as a frame's first, so a later coded block ('r') holds
    // random bytes (blockContent), which it stores chunk by chunk.
    const char* blocks = nullptr;
};

// The text word-transformed by the CPU encoder, its transformed bytes coded
// by the reference encoder, the section in the header; the trailers cover
// the text.
inline Bytes wrtFrameOf(const Bytes& text, const ref::EncodeOptions& enc, ref::FrameOptions fo) {
    WrtEncodeOutput wrt;
    EXPECT_EQ(wrtEncodeCpu(text.data(), text.size(), &wrt), Error::None);
    EXPECT_TRUE(wrt.applied) << "the text pays for the transform";
    const Bytes transformed(wrt.text.get(), wrt.text.get() + wrt.text_size);
    fo.content_size_value = int64_t(transformed.size());
    fo.wrt_section.assign(wrt.section.bytes.get(), wrt.section.bytes.get() + wrt.section.size);
    ref::FrameBuilder builder(fo);
    builder.codedBlock(ref::encodeBlock(transformed, enc));
    return builder.finish(text);
}

inline Bytes blocksFrameOf(const Bytes& input, const std::string& kinds, const ref::EncodeOptions& enc,
                           const ref::FrameOptions& fo) {
    const size_t parts = kinds.size() - std::count(kinds.begin(), kinds.end(), 'k');
    const size_t step = (input.size() + parts - 1) / parts;
    ref::FrameBuilder builder(fo);
    size_t at = 0;
    for (char kind : kinds) {
        if (kind == 'k') {
            builder.skipBlock(Bytes(100, 0x77));
            continue;
        }
        const Bytes part(input.begin() + at, input.begin() + std::min(input.size(), at + step));
        at += part.size();
        if (kind == 's')
            builder.storedBlock(part);
        else
            builder.codedBlock(ref::encodeBlock(part, enc));
    }
    return builder.finish(input);
}

inline Bytes frameOf(const Bytes& input, const FrameSpec& s) {
    ref::EncodeOptions enc = ref::encodeOptionsForLevel(s.level, s.sc);
    ref::FrameOptions fo;
    fo.level_code = uint8_t(s.level);
    fo.sc_group_size = s.sc;
    fo.checksum = s.checksum;
    fo.merkle_root = s.merkle;
    fo.chunk_table = s.table;
    fo.byte_plane_stride = s.stride;
    if (s.dict != 0) {
        const BuiltinDictionary* dict = builtinDictionary(s.dict);
        enc.lz.dictionary = {dict->data, uint32_t(dict->data_length)};
        fo.dict_id = s.dict;
    }
    if (s.wrt) return wrtFrameOf(input, enc, fo);
    if (s.blocks) return blocksFrameOf(input, s.blocks, enc, fo);
    if (s.stride < 2) return ref::compressFrame(input, enc, fo);
    // The encoder codes the planes; the trailers cover the elements.
    const ref::EncodedBlock block = ref::encodeBlock(ref::bytePlanes(input, s.stride, uint64_t(s.sc * 262144)), enc);
    ref::FrameBuilder builder(fo);
    builder.codedBlock(block);
    return builder.finish(input);
}

struct GoodCase {
    const char* name;
    std::function<Bytes()> content;
    std::vector<FrameSpec> frames;  // the content is split evenly over them
};

inline Bytes textOf(size_t n) { return realBytes(n, 3); }

inline Bytes framesOf(const Bytes& content, const std::vector<FrameSpec>& specs) {
    Bytes out;
    const size_t step = (content.size() + specs.size() - 1) / specs.size();
    for (size_t i = 0; i < specs.size(); ++i) {
        const size_t at = std::min(content.size(), i * step);
        const Bytes part(content.begin() + at, content.begin() + std::min(content.size(), at + step));
        const Bytes frame = frameOf(part, specs[i]);
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

inline Bytes randomContent(size_t n) {
    Bytes b(n);
    uint32_t s = 99;
    for (uint8_t& v : b) v = uint8_t((s = s * 1103515245u + 12345u) >> 16);
    return b;
}

// Parts of `part` bytes for blocks of these kinds: text, random for 'r'.
inline Bytes blockContent(const std::string& kinds, size_t part) {
    Bytes out;
    for (char kind : kinds) {
        const Bytes bytes = kind == 'r' ? randomContent(part) : realBytes(part, out.size());
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Records of 4 bytes whose planes compress well.
inline Bytes records(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i % 4 == 0 ? (i / 4) & 0xFF : i % 4 == 1 ? (i / 1024) : 7);
    return b;
}

inline const GoodCase kGoodCases[] = {
    {"level1", [] { return textOf(60000); }, {{.level = 1}}},
    {"level2_small_chunks", [] { return textOf(60000); }, {{.level = 2, .sc = 1.0f / 16}}},
    {"level3_trailers", [] { return textOf(60000); }, {{.level = 3, .checksum = true, .merkle = true}}},
    {"level4_table_trailers", [] { return textOf(80000); },
     {{.level = 4, .sc = 1.0f / 16, .checksum = true, .merkle = true, .table = true}}},
    {"level1_table_merkle_prefixes", [] { return textOf(50000); },
     {{.level = 1, .sc = 1.0f / 64, .merkle = true, .table = true}}},
    {"stored_random", [] { return randomContent(20000); }, {{.level = 1, .checksum = true}}},
    // The device folds the checksum in passes of 512 KiB: three and a tail of 7.
    {"checksum_over_passes", [] { return textOf(3 * 524288 + 7); }, {{.level = 1, .checksum = true}}},
    // More chunks than one batch held with a full scratch slot for each.
    {"level3_600_chunks", [] { return textOf(600 * 4096); },
     {{.level = 3, .sc = 1.0f / 64, .checksum = true, .merkle = true}}},
    {"dictionary", [] { return textOf(30000); }, {{.level = 3, .merkle = true, .dict = 1}}},
    {"byte_planes", [] { return records(40000); }, {{.level = 1, .merkle = true, .stride = 4}}},
    {"byte_planes_level3", [] { return records(40000); }, {{.level = 3, .stride = 4}}},
    {"three_frames_mixed_levels", [] { return textOf(90000); },
     {{.level = 1, .merkle = true}, {.level = 3, .checksum = true}, {.level = 4, .merkle = true, .table = true}}},
    {"two_frames_second_planes", [] { return records(30000); },
     {{.level = 2}, {.level = 1, .merkle = true, .stride = 4}}},
    {"wrt_trailers", [] { return textOf(70000); }, {{.level = 1, .checksum = true, .merkle = true, .wrt = true}}},
    {"wrt_level4_table", [] { return textOf(80000); },
     {{.level = 4, .checksum = true, .merkle = true, .table = true, .wrt = true}}},
    {"wrt_small_chunks_prefixes", [] { return textOf(70000); },
     {{.level = 3, .sc = 1.0f / 64, .merkle = true, .wrt = true}}},
    {"blocks_coded_stored_random", [] { return blockContent("csr", 20000); },
     {{.level = 1, .checksum = true, .merkle = true, .blocks = "csr"}}},
    {"blocks_small_chunks_skip", [] { return blockContent("cr", 30000); },
     {{.level = 3, .sc = 1.0f / 64, .merkle = true, .blocks = "ckr"}}},
    {"blocks_table_dictionary", [] { return blockContent("cs", 30000); },
     {{.level = 4, .checksum = true, .table = true, .dict = 1, .blocks = "cs"}}},
    {"blocks_later_frame", [] { return concat({textOf(30000), blockContent("sr", 15000)}); },
     {{.level = 3, .merkle = true}, {.level = 1, .checksum = true, .merkle = true, .blocks = "sr"}}},
    {"wrt_later_frame", [] { return textOf(2 * 70000); },
     {{.level = 3, .checksum = true}, {.level = 2, .merkle = true, .wrt = true}}},
};

// kvnDecompressHost of the same library on a handle of its own.
inline Bytes hostDecode(const Bytes& src, uint64_t cap) {
    void* handle = nullptr;
    EXPECT_EQ(kvnCreate(&handle), KVN_STATUS_SUCCESS);
    Bytes out(cap + 1);
    uint64_t size = 0;
    DecompressOpts opts{};
    const KvnStatus status = kvnDecompressHost(handle, src.data(), src.size(), out.data(), cap, &size, &opts);
    kvnDestroy(handle);
    out.resize(status == KVN_STATUS_SUCCESS ? size : 0);
    return out;
}

inline void expectInputAndHostRoad(DeviceRoad& road) {
    for (const GoodCase& c : kGoodCases) {
        SCOPED_TRACE(c.name);
        const Bytes content = c.content();
        const Bytes src = framesOf(content, c.frames);
        const DeviceDecoded device = road.decode(src, content.size() + 100);
        EXPECT_EQ(device.status, KVN_STATUS_SUCCESS);
        EXPECT_EQ(device.size, content.size());
        EXPECT_TRUE(device.bytes == content);
        EXPECT_TRUE(device.guard_intact);
        EXPECT_TRUE(hostDecode(src, content.size() + 100) == device.bytes) << "the host road gives the same bytes";
    }
}

// Many small frames (more than 64, where a walk of one frame per round would
// stop early): every frame is decoded, never a short or empty success.
inline void expectManyFramesDecoded(DeviceRoad& road) {
    const Bytes content = textOf(70 * 700);
    const Bytes src = framesOf(content, std::vector<FrameSpec>(70, FrameSpec{.level = 3}));
    const DeviceDecoded d = road.decode(src, content.size());
    EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
    EXPECT_EQ(d.size, content.size());
    EXPECT_TRUE(d.bytes == content);
}

// Several frames at level 3 and up go through one walk of the whole input
// and one decode batch; every frame's prefixes and trailers are still judged.
inline const GoodCase kWholeInputCases[] = {
    {"three_level3_frames_trailers", [] { return textOf(3 * 16384); },
     std::vector<FrameSpec>(3, FrameSpec{.level = 3, .checksum = true, .merkle = true})},
    {"level4_tables_small_chunks", [] { return textOf(2 * 20480); },
     std::vector<FrameSpec>(2, FrameSpec{.level = 4, .sc = 1.0f / 64, .merkle = true, .table = true})},
    {"dictionary", [] { return textOf(2 * 8192); }, std::vector<FrameSpec>(2, FrameSpec{.level = 3, .dict = 1})},
    {"seventy_frames", [] { return textOf(70 * 1024); }, std::vector<FrameSpec>(70, FrameSpec{.level = 3})},
    {"stored_chunks", [] { return randomContent(2 * 8192); },
     std::vector<FrameSpec>(2, FrameSpec{.level = 3, .checksum = true})},
};

// Inputs one batch cannot decode faithfully go frame by frame. `alignment`
// is the device's binding alignment: an output offset that is not a
// multiple of it is a reason only where it is above 1.
struct FrameByFrameCase {
    GoodCase input;
    bool needs_alignment = false;
};
inline const FrameByFrameCase kFrameByFrameCases[] = {
    {{"later_frame_byte_planes", [] { return records(2 * 8192); },
      {{.level = 3}, {.level = 3, .merkle = true, .stride = 4}}}},
    {{"later_frame_other_dictionary", [] { return textOf(2 * 8192); },
      {{.level = 3, .dict = 1}, {.level = 3, .dict = 2}}}},
    {{"later_frame_without_dictionary", [] { return textOf(2 * 8192); }, {{.level = 3, .dict = 1}, {.level = 3}}}},
    {{"later_frame_level1", [] { return textOf(2 * 8192); }, {{.level = 3}, {.level = 1}}}},
    {{"frame_output_off_alignment", [] { return textOf(2 * 5001); }, {{.level = 3}, {.level = 3}}}, true},
};

inline void expectFaithfulRoads(DeviceRoad& road, uint64_t alignment) {
    std::vector<std::pair<const GoodCase*, bool>> cases;
    for (const GoodCase& c : kWholeInputCases) cases.push_back({&c, true});
    for (const FrameByFrameCase& c : kFrameByFrameCases) cases.push_back({&c.input, c.needs_alignment && alignment < 2});
    for (const auto& [c, whole] : cases) {
        SCOPED_TRACE(c->name);
        const Bytes content = c->content();
        const DeviceDecoded d = road.decode(framesOf(content, c->frames), content.size(), true);
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
        EXPECT_TRUE(d.guard_intact);
        EXPECT_EQ(road.wholeInput(), whole);
        EXPECT_EQ(road.timed("kvnWalkFrameKernel") || road.timed("kvnWalkFrameTableKernel"), !whole);
    }
}

// Damage in a later frame of the whole-input walk fails through that
// frame's own trailer, and a capacity short of the total fails before any
// work.
inline void expectWholeInputJudgesEveryFrame(DeviceRoad& road) {
    const Bytes content = randomContent(2 * 8192);
    for (const FrameSpec& spec : {FrameSpec{.level = 3, .checksum = true}, FrameSpec{.level = 3, .merkle = true}}) {
        Bytes src = framesOf(content, {spec, spec});
        const DeviceDecoded good = road.decode(src, content.size(), true);
        ASSERT_EQ(good.status, KVN_STATUS_SUCCESS);
        ASSERT_TRUE(road.wholeInput());
        EXPECT_EQ(road.decode(src, content.size() - 1).status, KVN_STATUS_CORRUPT_FRAME);
        src[src.size() - 100] ^= 0x44;
        const DeviceDecoded bad = road.decode(src, content.size(), true);
        EXPECT_EQ(bad.status, KVN_STATUS_CORRUPT_FRAME) << spec.checksum << spec.merkle;
        EXPECT_TRUE(road.wholeInput());
    }
}

// Frames of 256 chunks of 8 KiB, mostly stored with some byte-fill and coded
// ones, whose block payloads pass 1 MiB: the shape the leap walk takes.
inline Bytes leapContent(size_t n) {
    Bytes b = randomContent(n);
    const Bytes text = textOf(8192);
    for (size_t c = 0; c * 8192 < n; ++c) {
        const size_t at = c * 8192;
        const size_t len = std::min<size_t>(8192, n - at);
        if (c % 8 == 6) std::fill(b.begin() + at, b.begin() + at + len, uint8_t(c));
        if (c % 8 == 7) std::copy(text.begin(), text.begin() + len, b.begin() + at);
    }
    return b;
}

inline constexpr float kLeapChunk = 1.0f / 32;
inline constexpr size_t kLeapFrameBytes = 256 * 8192;

struct WalkCase {
    const char* name;
    std::function<Bytes()> content;
    std::vector<FrameSpec> frames;
    bool leaps;  // the leap walk takes the input
};

inline const WalkCase kWalkCases[] = {
    {"two_large_frames", [] { return leapContent(2 * kLeapFrameBytes); },
     std::vector<FrameSpec>(2, FrameSpec{.level = 3, .sc = kLeapChunk}), true},
    {"two_large_frames_trailers_table", [] { return leapContent(2 * kLeapFrameBytes); },
     std::vector<FrameSpec>(2, FrameSpec{.level = 4, .sc = kLeapChunk, .checksum = true, .merkle = true, .table = true}),
     true},
    {"frames_below_a_mebibyte", [] { return leapContent(kLeapFrameBytes / 2); },
     {{.level = 3, .sc = kLeapChunk}, {.level = 3, .sc = kLeapChunk}}, false},
    {"seventy_small_frames", [] { return textOf(70 * 1024); }, std::vector<FrameSpec>(70, FrameSpec{.level = 3}),
     false},
};

// The whole-input road decodes the same bytes with the leap walk and with
// KVN_WALK_SERIAL's serial walk; the leap walk takes only the large frames.
inline void expectLeapWalkEqualsSerialWalk(DeviceRoad& road) {
    for (const WalkCase& c : kWalkCases) {
        SCOPED_TRACE(c.name);
        const Bytes content = c.content();
        const Bytes src = framesOf(content, c.frames);
        for (bool serial : {false, true}) {
            if (serial) setenv("KVN_WALK_SERIAL", "", 1);
            const DeviceDecoded d = road.decode(src, content.size(), true);
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS) << serial;
            EXPECT_TRUE(d.bytes == content) << serial;
            if (road.library().leap_dispatches) {
                EXPECT_EQ(road.timed("kvnMegaLeapKernel"), !serial) << serial;
                EXPECT_EQ(road.timed("kvnMegaWalkKernel"), serial || !c.leaps) << serial;
            } else {
                EXPECT_TRUE(road.wholeInput()) << serial;
            }
            unsetenv("KVN_WALK_SERIAL");
        }
    }
}

// In the second frame.
inline const RecordDamage kLeapDamage[] = {
    {"first_record_not_a_chunk", 0, 0, 0x00},
    {"middle_record_not_a_chunk", 150, 0, 0x00},
    {"middle_record_long_size_header", 150, 1, 0x81},
    {"middle_record_bad_version", 151, 1, 0x03},
    {"later_record_bad_nibble", 191, 0, 0x46},
    {"last_record_bad_nibble", 255, 0, 0x46},
    {"coded_record_overlong", 199, 4, 0x03},
};

// Damaged chunk records give the leap walk the serial walk's outcome.
inline void expectLeapWalkFailsAsTheSerialWalk(DeviceRoad& road) {
    const Bytes content = leapContent(2 * kLeapFrameBytes);
    const Bytes good = framesOf(content, std::vector<FrameSpec>(2, FrameSpec{.level = 3, .sc = kLeapChunk}));
    const size_t second = good.size() - framesOf(Bytes(content.begin() + kLeapFrameBytes, content.end()),
                                                 {FrameSpec{.level = 3, .sc = kLeapChunk}})
                                            .size();
    for (const RecordDamage& c : kLeapDamage) {
        SCOPED_TRACE(c.name);
        Bytes src = good;
        src[chunkRecordAt(src, second, c.record) + c.byte] = c.value;
        const DeviceDecoded leap = road.decode(src, content.size(), true);
        // A shape the walks do not take is then tried frame by frame.
        EXPECT_EQ(road.timed("kvnMegaLeapKernel"), leap.status != KVN_STATUS_UNSUPPORTED);
        setenv("KVN_WALK_SERIAL", "", 1);
        const DeviceDecoded serial = road.decode(src, content.size());
        unsetenv("KVN_WALK_SERIAL");
        EXPECT_NE(serial.status, KVN_STATUS_SUCCESS);
        EXPECT_EQ(leap.status, serial.status);
        EXPECT_TRUE(leap.guard_intact);
    }
}

// A byte-plane frame without its inverse would come back plane-major: the
// same length, other bytes.
inline void expectBytePlanesElementMajor(DeviceRoad& road) {
    const Bytes content = records(12000);
    for (uint8_t stride : {2, 4, 8}) {
        SCOPED_TRACE(int(stride));
        const DeviceDecoded d = road.decode(frameOf(content, {.level = 1, .stride = stride}), content.size());
        ASSERT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
    }
}

// Stored chunks decode whatever their bytes: only the trailers tell.
inline void expectDamageOnlyATrailerTellsFails(DeviceRoad& road) {
    const Bytes content = randomContent(30000);
    for (const FrameSpec& spec :
         {FrameSpec{.checksum = true}, FrameSpec{.merkle = true}, FrameSpec{.checksum = true, .merkle = true}}) {
        Bytes frame = frameOf(content, spec);
        frame[frame.size() / 2] ^= 0x21;
        EXPECT_EQ(road.decode(frame, content.size()).status, KVN_STATUS_CORRUPT_FRAME) << spec.checksum << spec.merkle;
    }
}

// Damage gives a failing status and leaves the bytes past the capacity alone.
struct DamageCase {
    const char* name;
    std::function<Bytes(Bytes)> damage;
    int64_t cap_delta;
    KvnStatus status;
};

inline void putF32(Bytes& b, size_t at, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    storeLe32(b.data() + at, bits);
}

inline const DamageCase kDamage[] = {
    {"capacity one short", [](Bytes b) { return b; }, -1, KVN_STATUS_CORRUPT_FRAME},
    {"truncated", [](Bytes b) { b.resize(b.size() - 9); return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
    {"bad magic", [](Bytes b) { b[0] ^= 1; return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
    {"chunk fraction 0", [](Bytes b) { putF32(b, 9, 0.0f); return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
    {"chunk fraction NaN", [](Bytes b) { putF32(b, 9, std::nanf("")); return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
    {"chunk fraction negative", [](Bytes b) { putF32(b, 9, -0.25f); return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
    {"first block word 0", [](Bytes b) { storeLe32(b.data() + 22, 0); return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
    {"chunk header magic", [](Bytes b) { b[30] ^= 0x0F; return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
    {"payload byte (Merkle root)", [](Bytes b) { b[b.size() / 2] ^= 0x5A; return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
    {"stored root", [](Bytes b) { b[b.size() - 1] ^= 1; return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
};

inline void expectDamageFailsWithinTheCapacity(DeviceRoad& road) {
    const Bytes content = textOf(40000);
    // Header 22 bytes (content size), block header at 22, chunk 0 at 30.
    const Bytes good = frameOf(content, {.level = 3, .merkle = true});
    for (const DamageCase& c : kDamage) {
        SCOPED_TRACE(c.name);
        const DeviceDecoded d = road.decode(c.damage(good), content.size() + c.cap_delta);
        EXPECT_EQ(d.status, c.status);
        EXPECT_TRUE(d.guard_intact);
    }
}

// kvnDecompressAsync on the caller's stream: the input the caller queued
// on it before the call is what the call decodes, and the bytes are in place
// once the caller's stream is synchronised.
inline const GoodCase kAsyncCases[] = {
    {"two_frames", [] { return textOf(50000); }, {{.level = 3, .merkle = true}, {.level = 1}}},
    {"wrt_frames", [] { return textOf(2 * 70000); },
     {{.level = 3, .merkle = true, .wrt = true}, {.level = 1, .checksum = true, .wrt = true}}},
};

inline void expectAsyncCallOnTheCallersStream(DeviceRoad& road, uint32_t stream_flags) {
    const GpuOpsTable& ops = gpuOps();
    for (const GoodCase& c : kAsyncCases) {
        SCOPED_TRACE(c.name);
        const Bytes content = c.content();
        const Bytes src = framesOf(content, c.frames);
        const uint64_t in = road.upload(Bytes(src.size(), 0));
        const uint64_t out = road.guardedDestination(content.size());
        StreamHandle stream = 0;
        ASSERT_EQ(ops.streamCreate(&stream, stream_flags), Error::None);
        ASSERT_EQ(ops.memcpyHtoDAsync(in, src.data(), src.size(), stream), Error::None);
        DecompressOpts opts{};
        EXPECT_EQ(kvnDecompressAsync(road.get(), in, uint32_t(src.size()), out, uint32_t(content.size()), &opts,
                                     stream),
                  KVN_STATUS_SUCCESS);
        ASSERT_EQ(ops.streamSynchronize(stream), Error::None);
        const DeviceDecoded d = road.read(out, content.size(), int64_t(content.size()));
        EXPECT_TRUE(d.bytes == content);
        EXPECT_TRUE(d.guard_intact);
        ops.streamDestroy(stream);
    }
}

// Byte offset of block i's header in a frame with a 22-byte header.
inline size_t blockAt(const Bytes& frame, size_t i) {
    size_t at = 22;
    for (; i > 0; --i) at += 8 + (loadLe32(frame.data() + at) & 0x3FFFFFFFu);
    return at;
}

inline const DamageCase kBlockDamage[] = {
    {"capacity one short", [](Bytes b) { return b; }, -1, KVN_STATUS_CORRUPT_FRAME},
    {"stored raw size one more", [](Bytes b) { b[blockAt(b, 1) + 4] += 1; return b; }, 1, KVN_STATUS_CORRUPT_FRAME},
    {"coded raw size one more", [](Bytes b) { b[blockAt(b, 2) + 4] += 1; return b; }, 1, KVN_STATUS_CORRUPT_FRAME},
    {"stored byte (Merkle root)", [](Bytes b) { b[blockAt(b, 1) + 100] ^= 0x21; return b; }, 0,
     KVN_STATUS_CORRUPT_FRAME},
    {"last block past the input", [](Bytes b) { b.resize(blockAt(b, 2) + 40); return b; }, 0,
     KVN_STATUS_CORRUPT_FRAME},
    {"truncated", [](Bytes b) { b.resize(b.size() - 9); return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
};

// Damaged WRT frames: the section, the transformed text and the capacity.
// The section starts after the fixed header, the content size and its length.
inline constexpr size_t kSectionAt = 26;

inline Bytes sectionRecordsShifted(Bytes b) {
    // Segments 0 and 1 trade an encoded byte: the sums still match the frame.
    const FrameHeader h = parseFrameHeader(b.data(), b.size());
    const size_t records =
        h.wrt_section_offset + h.wrt_section_length - 4 * wrtSegmentCount(loadLe64(b.data() + kSectionAt));
    // A record is the encoded length in its low half, the decoded length above.
    storeLe32(b.data() + records, loadLe32(b.data() + records) + 1);
    storeLe32(b.data() + records + 4, loadLe32(b.data() + records + 4) - 1);
    return b;
}

inline const DamageCase kWrtDamage[] = {
    {"capacity one short", [](Bytes b) { return b; }, -1, KVN_STATUS_CORRUPT_FRAME},
    {"decoded size one more", [](Bytes b) { b[kSectionAt] += 1; return b; }, 1, KVN_STATUS_CORRUPT_FRAME},
    {"decoded size zero", [](Bytes b) { storeLe64(b.data() + kSectionAt, 0); return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
    {"first word letter", [](Bytes b) { b[kSectionAt + 17] ^= 0x01; return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
    {"segment lengths traded", sectionRecordsShifted, 0, KVN_STATUS_CORRUPT_FRAME},
    {"section of 16 bytes", [](Bytes b) {
         const FrameHeader h = parseFrameHeader(b.data(), b.size());
         storeLe32(b.data() + kSectionAt - 4, 16);
         b.erase(b.begin() + kSectionAt + 16, b.begin() + h.wrt_section_offset + h.wrt_section_length);
         return b;
     }, 0, KVN_STATUS_CORRUPT_FRAME},
    {"transformed byte (Merkle root)", [](Bytes b) { b[b.size() - 3000] ^= 0x5A; return b; }, 0,
     KVN_STATUS_CORRUPT_FRAME},
    {"truncated", [](Bytes b) { b.resize(b.size() - 9); return b; }, 0, KVN_STATUS_CORRUPT_FRAME},
};

// Damaged frames the road decodes beyond its walks: each damage gives its
// status on the device road, the host road refuses it too, and nothing lands
// past the capacity.
struct DamagedShape {
    const char* name;
    std::function<Bytes()> content;
    FrameSpec frame;
    std::span<const DamageCase> damage;
};

inline const DamagedShape kDamagedShapes[] = {
    {"several_blocks", [] { return blockContent("csr", 10000); }, {.level = 3, .merkle = true, .blocks = "csr"},
     kBlockDamage},
    {"wrt", [] { return textOf(70000); }, {.level = 1, .sc = 1.0f / 16, .merkle = true, .wrt = true}, kWrtDamage},
};

inline void expectDamagedFramesOfEveryShapeFail(DeviceRoad& road) {
    for (const DamagedShape& shape : kDamagedShapes) {
        const Bytes content = shape.content();
        const Bytes good = frameOf(content, shape.frame);
        for (const DamageCase& c : shape.damage) {
            SCOPED_TRACE(std::string(shape.name) + ": " + c.name);
            const Bytes src = c.damage(good);
            const uint64_t cap = content.size() + c.cap_delta;
            const DeviceDecoded d = road.decode(src, cap);
            EXPECT_EQ(d.status, c.status);
            EXPECT_TRUE(d.guard_intact);
            EXPECT_TRUE(hostDecode(src, cap).empty()) << "the host road refuses it too";
        }
    }
}

// Level-3 batches whose decoded streams go in windows (KVN_BATCH_CAP below
// their sub-chunks): on the device-input road for one frame and for two
// frames through one walk, and on the host road. Every sub-chunk of these
// hand-built frames has its four streams Huffman-coded, which windows need;
// the bytes equal the reference decoder's, windowed or whole. A library
// that traces its batches shows the windows; one that decodes several
// frames in one launch takes the two frames there.
struct WindowCase {
    const char* name;
    uint32_t frames;  // of 600 / frames chunks each
    bool device_road;
    const char* cap;    // KVN_BATCH_CAP, or null
    const char* trace;  // what the trace says of the windows, or null for no windows
};

inline const WindowCase kWindowCases[] = {
    {"one_frame_whole", 1, true, nullptr, nullptr},
    {"one_frame_windows", 1, true, "256",
     "batched=true counts=\\{ 600, 600, 600, 600, [0-9]+, [0-9]+ \\}[^\\n]*\\n"
     "(.|\\n)*batch=2 first_chunk=512 n_chunks=88 sub_start=512 n_subs=88 window=0"},
    {"two_frames_one_walk_windows", 2, true, "300",
     "batched=true counts=\\{ 600, 600, 600, 600, [0-9]+, [0-9]+ \\}[^\\n]*\\n"
     "(.|\\n)*batch=1 first_chunk=300 n_chunks=300 sub_start=300 n_subs=300 window=1"},
    {"host_road_windows", 1, false, "256", "batched=true(.|\\n)*batch=2 first_chunk=512 "},
};

inline void expectWindowedAndWholeBatchesGiveTheReferenceBytes(DeviceRoad& road) {
    for (const WindowCase& c : kWindowCases) {
        SCOPED_TRACE(c.name);
        Bytes src, expected;
        for (uint32_t f = 0; f < c.frames; ++f) {
            const Bytes frame = fourHuffmanStreamsFrame(600 / c.frames, f + 1);
            const ref::DecodedFrame decoded = ref::decodeFrame(frame, {});
            ASSERT_EQ(decoded.error, Error::None);
            src.insert(src.end(), frame.begin(), frame.end());
            expected.insert(expected.end(), decoded.bytes.begin(), decoded.bytes.end());
        }
        const uint64_t cap = 600 * kHuffmanChunk;
        if (c.cap) setenv("KVN_BATCH_CAP", c.cap, 1);
        setenv("KVN_ALLOC_TRACE", "", 1);
        ::testing::internal::CaptureStderr();
        const Bytes bytes = c.device_road ? road.decode(src, cap, true).bytes : hostDecode(src, cap);
        const std::string trace = ::testing::internal::GetCapturedStderr();
        unsetenv("KVN_ALLOC_TRACE");
        unsetenv("KVN_BATCH_CAP");
        EXPECT_TRUE(bytes == expected);
        if (c.device_road) EXPECT_EQ(road.wholeInput(), c.frames > 1);
        const bool one_launch = c.device_road && c.frames > 1 && road.library().whole_input_in_one_launch;
        if (!road.library().traces_dispatch || one_launch) continue;
        const std::regex windows(c.trace ? c.trace : "first_chunk=");
        EXPECT_EQ(std::regex_search(trace, windows), c.trace != nullptr) << trace;
    }
}

}  // namespace kvn::test::device_suite
