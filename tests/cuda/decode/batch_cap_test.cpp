// Level-3-and-up batches of more than 256 sub-chunks under the CUDA batch
// cap (KVN_BATCH_CAP): decoded in windows or whole, the bytes are the same.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/cuda/decode/hand_frames.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/reference/ref_decoder.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

struct CapCase {
    const char* cap;  // KVN_BATCH_CAP, or null
    const char* road;
};

// Without the variable the stand-in's free memory holds the whole batch.
constexpr CapCase kCaps[] = {
    {nullptr, "free memory: whole"}, {"100", "below the floor: 256"}, {"257", "257"},
    {"300", "300"},                   {"abc", "unparsable: 256"},       {"100000", "above the batch: whole"},
};

void expectEveryCapGives(const Bytes& frame, const Bytes& content) {
    for (const CapCase& c : kCaps) {
        SCOPED_TRACE(c.road);
        if (c.cap) setenv("KVN_BATCH_CAP", c.cap, 1);
        else unsetenv("KVN_BATCH_CAP");
        const Decoded d = cudaDecompress(frame, content.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
    }
    unsetenv("KVN_BATCH_CAP");
}

Bytes referenceContent(const Bytes& frame) {
    const ref::DecodedFrame decoded = ref::decodeFrame(frame, {});
    EXPECT_EQ(decoded.error, Error::None);
    return decoded.bytes;
}

// 300 sub-chunks with all four streams coded: capped, they go in windows.
TEST(CudaBatchCap, WindowedAndWholeBatchesGiveTheSameBytes) {
    inChildProcess([] {
        const Bytes frame = fourHuffmanStreamsFrame(300, 1);
        const Bytes content = referenceContent(frame);
        ASSERT_EQ(content.size(), 300u * kHuffmanChunk);
        expectEveryCapGives(frame, content);
    });
}

// Vulkan-written sub-chunks of 512 bytes code their literals only: a capped
// batch of them cannot go in windows and runs whole with its streams held.
TEST(CudaBatchCap, ABatchThatCannotGoInWindowsRunsWhole) {
    inChildProcess([] {
        const Bytes content = repetitiveText(320 * 512, 23);
        CompressOpts opts = optionsAt(3);
        opts.sc_group_size = 1.0f / 512;
        const VulkanFrames frames = vulkanCompress(content, opts);
        ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
        expectEveryCapGives(frames.bytes, content);
    });
}

// The trace shows the windows: two of at most 257 slots, over both halves.
TEST(CudaBatchCap, ACappedBatchGoesInWindowsOverBothHalves) {
    inChildProcess(
        [] {
            const Bytes frame = fourHuffmanStreamsFrame(300, 2);
            const Bytes content = referenceContent(frame);
            setenv("KVN_BATCH_CAP", "257", 1);
            setenv("KVN_ALLOC_TRACE", "1", 1);
            const Decoded d = cudaDecompress(frame, content.size());
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.bytes == content);
        },
        "batch_cap=257 want_batched=true batched=true counts=\\{ 300, 300, 300, 300 \\} windows=2[^\n]*\n"
        "(.|\n)*first_chunk=0 n_chunks=257 sub_start=0 n_subs=257 window=0"
        "(.|\n)*first_chunk=257 n_chunks=43 sub_start=257 n_subs=43 window=1");
}

}  // namespace
}  // namespace kvn::test

namespace kvn::test {
namespace {

// A level-3 block of 32768 coded sub-chunks would pass the most the decoded
// stream numbering holds: refused as unsupported (as on Vulkan) before any
// kernel, whole or capped; 32767 decode.
TEST(CudaBatchCap, TheSubChunkLimitHoldsWholeAndCapped) {
    inChildProcess([] {
        const Bytes over = literalChunksFrame(32768, 16);
        EXPECT_EQ(vulkanDecompressStatus(over, 32768u * 16), KVN_STATUS_UNSUPPORTED);
        for (const char* cap : {"", "257"}) {
            SCOPED_TRACE(cap);
            if (*cap) setenv("KVN_BATCH_CAP", cap, 1);
            const uint64_t before = standInCounts().launches;
            EXPECT_EQ(cudaDecompress(over, 32768u * 16).status, KVN_STATUS_UNSUPPORTED);
            EXPECT_EQ(standInCounts().launches, before);
            unsetenv("KVN_BATCH_CAP");
        }
        const Bytes within = literalChunksFrame(32767, 16);
        const Bytes content = ref::decodeFrame(within, {}).bytes;
        ASSERT_EQ(content.size(), 32767u * 16);
        setenv("KVN_BATCH_CAP", "257", 1);
        const Decoded d = cudaDecompress(within, content.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
        unsetenv("KVN_BATCH_CAP");
    });
}

}  // namespace
}  // namespace kvn::test
