// The device Merkle verdict on lavapipe: frames with more leaves than one
// invocation can fold, chunks shorter than their 8-byte prefixes, and a build
// without the prefix kernel. A verdict must judge exactly the bytes the caller
// gets, and a valid frame is never refused. Also what a small level-3 frame
// makes the decoder reserve.
#include <gtest/gtest.h>

#include "core/format/frame_header.h"
#include "core/handle/handle.h"
#include "core/integrity/merkle.h"
#include "core/interface/interface_support.h"
#include "decode_test_support.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/host_frame_decode.h"
#include "reference/reference_codec.h"

namespace kvn::test {
namespace {

using Bytes = std::vector<uint8_t>;

void putRoot(Bytes& frame, uint32_t root) {
    for (int i = 0; i < 4; ++i) frame[frame.size() - 4 + i] = uint8_t(root >> (8 * i));
}

// 300,032 stored bytes then a coded block of 1-byte chunks: 302,032 leaves,
// beyond what one thread folds within lavapipe's loop budget.
TEST(DeviceVerdict, FrameOfManyLeavesIsJudgedOnTheDevice) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const float sc = 1.0f / 262144;
        const Bytes content = realBytes(302032, 5);
        const std::span<const uint8_t> all(content);
        const Bytes frame = ref::FrameBuilder(withRoot(sc, true))
                                .storedBlock(all.first(300032))
                                .codedBlock(ref::encodeBlock(all.subspan(300032), ref::encodeOptionsForLevel(1, sc)))
                                .finish(content);
        ASSERT_EQ(ref::decodeFrame(frame, {}).error, Error::None);
        const Decoded d = decodeHost(handle.get(), frame, content.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
        EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_SUCCESS) << "the device judged the frame";
        Bytes wrong = frame;
        wrong.back() ^= 0x40;
        EXPECT_EQ(decodeHost(handle.get(), wrong, content.size()).status, KVN_STATUS_CORRUPT_FRAME);
        EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_CORRUPT_FRAME);
    });
}

// 7-byte chunks: every 8-byte prefix entry reaches over the next chunk's
// first byte. Applied in chunk order (the encoder's and the reference
// decoder's), the later chunk's entry wins. Cases: the valid frame; entries
// that disagree on the overlap (still valid: chunk order decides); and a root
// computed over the other order's bytes (corrupt under chunk order).
TEST(DeviceVerdict, OverlappingChunkPrefixesHaveOneOrder) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const float sc = 2.7e-5f;
        const uint64_t chunk = frameChunkSize(sc);
        ASSERT_EQ(chunk, 7u);
        const Bytes text = realBytes(20000);
        const uint64_t chunks = (text.size() + chunk - 1) / chunk;
        const Bytes valid = ref::compressFrame(text, ref::encodeOptionsForLevel(1, sc), withRoot(sc, false));
        // The area ends before the end mark and the root; entry j belongs to
        // chunk j + 1, and its byte 7 lies on chunk j + 2's first byte.
        const uint64_t area = valid.size() - 8 - 8 * (chunks - 1);
        Bytes disagreeing = valid;
        Bytes other_order = text;
        for (uint64_t j : {0ull, 100ull, 2000ull}) {
            disagreeing[area + 8 * j + 7] ^= 0xFF;
            other_order[(j + 2) * chunk] ^= 0xFF;
        }
        Bytes lying = disagreeing;
        putRoot(lying, chunkMerkleRoot(other_order.data(), other_order.size(), chunk).root);

        struct Case {
            const char* name;
            const Bytes& frame;
            bool valid;
        };
        for (const Case& c : {Case{"valid", valid, true}, Case{"entries disagree", disagreeing, true},
                              Case{"root of the other order", lying, false}}) {
            const ref::DecodedFrame oracle = ref::decodeFrame(c.frame, {});
            ASSERT_EQ(oracle.error == Error::None, c.valid) << c.name;
            if (c.valid) ASSERT_TRUE(oracle.bytes == text) << c.name;
            const Decoded d = decodeHost(handle.get(), c.frame, text.size());
            EXPECT_TRUE(d.guard_intact) << c.name;
            if (c.valid) {
                EXPECT_EQ(d.status, KVN_STATUS_SUCCESS) << c.name;
                EXPECT_TRUE(d.bytes == text) << c.name;
                EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_SUCCESS) << c.name << ": device verdict";
            } else {
                EXPECT_EQ(d.status, KVN_STATUS_CORRUPT_FRAME) << c.name;
            }
        }
    });
}

// Without the prefix kernel the device would hash chunk starts the host has
// not restored yet: the root is checked on the CPU instead.
TEST(DeviceVerdict, WithoutThePrefixKernelTheCpuJudges) {
    inChildProcess([] {
        useModulesWithout({"kvnScPrefixApplyKernel"});
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(100000, 7);
        for (int level : {1, 3}) {
            const Bytes frame =
                ref::compressFrame(text, ref::encodeOptionsForLevel(level, 1.0f / 64), withRoot(1.0f / 64, false));
            const Decoded d = decodeHost(handle.get(), frame, text.size());
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS) << level;
            EXPECT_TRUE(d.bytes == text) << level;
            EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_UNSUPPORTED) << "no device verdict";
            Bytes wrong = frame;
            wrong.back() ^= 2;
            EXPECT_EQ(decodeHost(handle.get(), wrong, text.size()).status, KVN_STATUS_CORRUPT_FRAME) << level;
        }
    });
}

// A device output is not checked after the decode: without the prefix
// kernel a block with a chunk-prefix area must fail, not come back with its
// chunk starts unrestored.
TEST(DeviceVerdict, DeviceOutputWithoutThePrefixKernelFails) {
    inChildProcess([] {
        useModulesWithout({"kvnScPrefixApplyKernel"});
        const GpuOpsTable& ops = readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(50000, 2);
        const Bytes frame = ref::compressFrame(text, ref::encodeOptionsForLevel(1, 1.0f / 64), {});
        uint64_t device = 0;
        ASSERT_EQ(ops.memAlloc(&device, text.size() + 64), Error::None);
        const FrameResult r = decodeHostFrame(frame.data(), frame.size(), nullptr, 0, asHandle(handle.get())->decoder,
                                              OutputTarget{device, true});
        EXPECT_EQ(r.error, Error::KernelMissing);
        ops.memFree(device);
    });
}

uint64_t decoderReservedBytes(void* handle) {
    uint64_t total = 0;
    for (const DeviceBuffer& slot : asHandle(handle)->decoder.device_slots) total += slot.capacity;
    return total;
}

// Level 3 with 1-byte stored chunks: 3 bytes per chunk and an 8-byte prefix
// entry per later chunk. Each declared sub-chunk used to reserve three
// 128 KiB scratch slots (and Huffman tables), stored chunks included: 12,000
// chunks asked for 4.7 GB, 9,000 took 3.5 GB and the handle kept them.
TEST(DeviceVerdict, StoredChunksAtLevelThreeReserveLittle) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        for (uint32_t chunks : {12000u, 9000u}) {
            const Bytes content = realBytes(chunks, 3);
            Bytes payload;
            for (uint8_t byte : content) {
                payload.push_back(KVN_CHUNK_HDR0_STORED_WRITTEN);
                payload.push_back(KVN_CHUNK_HDR1_WRITTEN);
                payload.push_back(byte);
            }
            for (uint32_t k = 1; k < chunks; ++k) {
                for (uint32_t i = 0; i < KVN_CHUNK_PREFIX_BYTES; ++i)
                    payload.push_back(k + i < chunks ? content[k + i] : 0);
            }
            ref::FrameOptions o = withRoot(1.0f / 262144, true);
            o.level_code = 3;
            const Bytes frame = ref::FrameBuilder(o).block(uint32_t(payload.size()), chunks, payload).finish(content);
            ASSERT_EQ(ref::decodeFrame(frame, {}).error, Error::None);
            const Decoded d = decodeHost(handle.get(), frame, content.size());
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS) << chunks;
            EXPECT_TRUE(d.bytes == content) << chunks;
            EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_SUCCESS) << chunks;
            EXPECT_LT(decoderReservedBytes(handle.get()), 4u << 20) << chunks;
        }
    });
}

// Mostly incompressible input at level 3 in 2 KiB chunks: 580 chunks are
// stored and 20 of text carry Huffman streams. Scratch slots go to the coded
// chunks only (600 x 384 KiB before).
TEST(DeviceVerdict, CodedChunksAmongStoredOnesReserveTheirOwnScratch) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const float sc = 1.0f / 128;
        Bytes content(600 * 2048);
        uint32_t state = 99;
        for (uint8_t& b : content) b = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
        const Bytes text = realBytes(20 * 2048, 11);
        std::copy(text.begin(), text.end(), content.begin() + 300 * 2048);
        ref::FrameOptions o = withRoot(sc, true);
        o.level_code = 3;
        const ref::EncodedBlock block = ref::encodeBlock(content, ref::encodeOptionsForLevel(3, sc));
        const Bytes frame = ref::FrameBuilder(o).codedBlock(block).finish(content);
        ASSERT_EQ(ref::decodeFrame(frame, {}).error, Error::None);
        const Decoded d = decodeHost(handle.get(), frame, content.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
        EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_SUCCESS);
        const uint64_t scratch = asHandle(handle.get())->decoder.device_slots[kEntropyScratch].capacity;
        EXPECT_GT(scratch, 0u) << "the text chunks took the Huffman road";
        EXPECT_LE(scratch, 21u * 3 * KVN_SUBCHUNK_SIZE);
    });
}

// A level-3 frame of coded 1 KiB chunks, one sub-chunk each, whose literals
// are Huffman-coded (one bit each, so each sub-chunk's body is about 290
// bytes) behind one long-literal token. The sub-chunk of chunk `overlong`
// declares 64 literals more than it can use (none when past the last chunk).
constexpr uint32_t kTinyChunk = 1024;

Bytes tinyHuffmanFrame(const Bytes& content, uint32_t overlong) {
    const uint32_t chunks = uint32_t(content.size() / kTinyChunk);
    ref::EncodedBlock block;
    block.raw_size = content.size();
    for (uint32_t c = 0; c < chunks; ++c) {
        const auto chunk = std::span<const uint8_t>(content).subspan(size_t(c) * kTinyChunk, kTinyChunk);
        ref::SubChunkStreams s;
        s.raw_len = kTinyChunk;
        const size_t raw8 = c == 0 ? 8 : 0;
        s.raw8.assign(chunk.begin(), chunk.begin() + raw8);
        s.literals.assign(chunk.begin() + raw8, chunk.end());
        s.tokens = {KVN_TOKEN_LONG_LITERALS};
        ref::appendLength(s.lengths, uint32_t(s.literals.size()) - KVN_LONG_LITERALS_BASE);
        if (c == overlong) s.literals.insert(s.literals.end(), chunk.begin(), chunk.begin() + 64);
        s.literal_form = ref::StreamForm::Huffman;
        s.token_form = ref::StreamForm::Stored;
        s.off16_form = ref::Off16Form::Plain;
        const Bytes body = ref::encodeSubChunk(s, true);
        EXPECT_LT(body.size(), kTinyChunk) << "a coded sub-chunk";
        const uint32_t size_field = uint32_t(body.size()) - 1;
        const Bytes record = {KVN_CHUNK_HDR0_CODED_WRITTEN, KVN_CHUNK_HDR1_WRITTEN, uint8_t(size_field),
                              uint8_t(size_field >> 8), uint8_t(size_field >> 16), 0};
        block.payload.insert(block.payload.end(), record.begin(), record.end());
        block.payload.insert(block.payload.end(), body.begin(), body.end());
        block.record_sizes.push_back(uint32_t(record.size() + body.size()));
    }
    // Chunk 0's header announces the chunk-prefix area.
    for (uint32_t c = 1; c < chunks; ++c)
        block.payload.insert(block.payload.end(), content.begin() + size_t(c) * kTinyChunk,
                             content.begin() + size_t(c) * kTinyChunk + KVN_CHUNK_PREFIX_BYTES);
    ref::FrameOptions o = withRoot(float(kTinyChunk) / 262144, true);
    o.level_code = 3;
    return ref::FrameBuilder(o).codedBlock(block).finish(content);
}

Bytes twoLetters(uint32_t chunks) {
    Bytes content(size_t(kTinyChunk) * chunks);
    uint32_t state = 7;
    for (uint8_t& b : content) b = (state = state * 1664525u + 1013904223u) >> 31 ? 'a' : 'b';
    return content;
}

// 1,200 such chunks: each sub-chunk used to get three 128 KiB scratch slots,
// 16 KiB of Huffman tables and the Huffman lists 26 MB: 501 MB for a 350 KB
// frame of 1.2 MB, and the off16 region's binding passed the device's range
// (status 6). Scratch now follows what each sub-chunk can use.
TEST(DeviceVerdict, TinyHuffmanSubChunksReserveInProportionToTheFrame) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes content = twoLetters(1200);
        const Bytes frame = tinyHuffmanFrame(content, ~0u);
        ASSERT_LT(frame.size(), 400u << 10);
        const ref::DecodedFrame expected = ref::decodeFrame(frame, {});
        ASSERT_EQ(expected.error, Error::None);
        ASSERT_TRUE(expected.bytes == content);
        const Decoded d = decodeHost(handle.get(), frame, content.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
        EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_SUCCESS);
        EXPECT_GT(asHandle(handle.get())->decoder.device_slots[kEntropyScratch].capacity, 0u)
            << "the chunks took the Huffman road";
        const uint64_t reserved = decoderReservedBytes(handle.get());
        std::printf("reserved %llu bytes for a frame of %zu bytes decoding to %zu\n", (unsigned long long)reserved,
                    frame.size(), content.size());
        EXPECT_LE(reserved, 4 * (frame.size() + content.size()) + (4u << 20));
    });
}

// A sub-chunk's scratch slot holds as many symbols as it has decoded bytes: a
// literal stream that declares more cannot be decoded in full into it, and
// the frame is refused as corrupt instead of decoded from a part of it.
TEST(DeviceVerdict, StreamLongerThanItsSubChunkIsRefused) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes content = twoLetters(40);
        const Bytes frame = tinyHuffmanFrame(content, 17);
        EXPECT_EQ(decodeHost(handle.get(), frame, content.size()).status, KVN_STATUS_CORRUPT_FRAME);
        const Bytes sound = tinyHuffmanFrame(content, ~0u);
        const Decoded d = decodeHost(handle.get(), sound, content.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
    });
}

}  // namespace
}  // namespace kvn::test
