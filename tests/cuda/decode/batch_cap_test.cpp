// Level-3-and-up batches of more than 256 sub-chunks under the CUDA batch
// cap (KVN_BATCH_CAP): decoded in windows or whole, the bytes are the same.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "tests/cuda/decode/hand_frames.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/reference/ref_decoder.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

struct CapCase {
    const char* cap;  // KVN_BATCH_CAP, or null
    const char* road;
    bool window_by_window;  // KVN_BATCH_DBG
};

// Without the variable the stand-in's free memory holds the whole batch.
constexpr CapCase kCaps[] = {
    {nullptr, "free memory: whole", false}, {"100", "below the floor: 256", false},
    {"257", "257", false},                 {"257", "257, window by window", true},
    {"300", "300", false},                 {"abc", "unparsable: 256", false},
    {"100000", "above the batch: whole", false},
};

void expectEveryCapGives(const Bytes& frame, const Bytes& content) {
    for (const CapCase& c : kCaps) {
        SCOPED_TRACE(c.road);
        if (c.cap) setenv("KVN_BATCH_CAP", c.cap, 1);
        else unsetenv("KVN_BATCH_CAP");
        if (c.window_by_window) setenv("KVN_BATCH_DBG", "1", 1);
        const Decoded d = cudaDecompress(frame, content.size());
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
        unsetenv("KVN_BATCH_DBG");
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
        "\\[dispatch-trace\\] ts=300 batch_cap=257 want_batched=true batched=true "
        "counts=\\{ 300, 300, 300, 300, 0, 1200 \\}[^\n]* have_huff=true n_huff=1200 [^\n]*total_chunks=300 "
        "[^\n]*\n"
        "(.|\n)*first_chunk=0 n_chunks=257 sub_start=0 n_subs=257 window=0"
        "(.|\n)*first_chunk=257 n_chunks=43 sub_start=257 n_subs=43 window=1");
}

struct TracedBatch {
    bool want_batched = false;
    bool batched = false;
    uint64_t counts[6] = {};
    uint64_t subchunks = 0, cap = 0, streams = 0, chunks = 0;
    uint64_t tok_off = 0, off16_off = 0, scratch_size = 0;
};

// The batch lines of a decode's trace.
std::vector<TracedBatch> tracedBatches(const std::string& lines) {
    const std::regex header(
        "\\[dispatch-trace\\] ts=(\\d+) batch_cap=(\\d+) want_batched=(true|false) batched=(true|false) "
        "counts=\\{ (\\d+), (\\d+), (\\d+), (\\d+), (\\d+), (\\d+) \\} scratch_base=0x[0-9a-f]+ tok_off=(\\d+) "
        "off16_off=(\\d+) have_huff=(true|false) n_huff=(\\d+) sub_chunk_cap=\\d+ total_chunks=(\\d+) "
        "scratch_size=(\\d+)\n");
    std::vector<TracedBatch> batches;
    for (auto it = std::sregex_iterator(lines.begin(), lines.end(), header); it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        auto number = [&](int i) { return std::stoull(m[i].str()); };
        TracedBatch b;
        b.subchunks = number(1);
        b.cap = number(2);
        b.want_batched = m[3] == "true";
        b.batched = m[4] == "true";
        for (int i = 0; i < 6; ++i) b.counts[i] = number(5 + i);
        b.tok_off = number(11);
        b.off16_off = number(12);
        EXPECT_EQ(m[13] == "true", number(14) > 0);
        b.streams = number(14);
        b.chunks = number(15);
        b.scratch_size = number(16);
        batches.push_back(b);
    }
    return batches;
}

// One line for each batch, whatever its road: whole without a cap, whole
// with its streams held when a list falls short (stored off16 halves, which
// the counts show), and without streams.
TEST(CudaBatchCap, TheTraceNamesEveryBatchsRoad) {
    inChildProcess([] {
        const Bytes coded = fourHuffmanStreamsFrame(300, 2);
        const Bytes halves = storedOffsetHalvesFrame(300, 2);
        const Bytes text = repetitiveText(100000, 23);
        const VulkanFrames plain = vulkanCompress(text, optionsAt(1));
        ASSERT_EQ(plain.status, KVN_STATUS_SUCCESS);
        setenv("KVN_ALLOC_TRACE", "1", 1);
        auto traceOf = [](const Bytes& frame, uint64_t cap_bytes, const char* cap) {
            if (cap) setenv("KVN_BATCH_CAP", cap, 1);
            else unsetenv("KVN_BATCH_CAP");
            CaptureStderr();
            EXPECT_EQ(cudaDecompress(frame, cap_bytes).status, KVN_STATUS_SUCCESS);
            const std::vector<TracedBatch> batches = tracedBatches(GetCapturedStderr());
            EXPECT_EQ(batches.size(), 1u);
            return batches.empty() ? TracedBatch{} : batches[0];
        };

        const TracedBatch whole = traceOf(coded, 300 * kHuffmanChunk, nullptr);
        EXPECT_FALSE(whole.want_batched);
        EXPECT_FALSE(whole.batched);
        EXPECT_EQ(whole.subchunks, 300u);
        EXPECT_EQ(whole.cap, 300u);
        EXPECT_EQ(whole.streams, 1200u);
        EXPECT_EQ(whole.chunks, 300u);
        for (uint64_t c : whole.counts) EXPECT_EQ(c, 0u) << "nothing read back";
        EXPECT_EQ(whole.off16_off, 2 * whole.tok_off);
        EXPECT_GE(whole.scratch_size, 3 * whole.tok_off);

        const TracedBatch held = traceOf(halves, 300 * kHuffmanChunk, "257");
        EXPECT_TRUE(held.want_batched);
        EXPECT_FALSE(held.batched);
        EXPECT_EQ(held.cap, 257u);
        const uint64_t counts[6] = {300, 300, 0, 0, 600, 600};  // literals, tokens, two halves, stored halves, merged
        for (int i = 0; i < 6; ++i) EXPECT_EQ(held.counts[i], counts[i]) << i;

        const TracedBatch raw = traceOf(plain.bytes, text.size(), "257");
        EXPECT_FALSE(raw.want_batched);
        EXPECT_EQ(raw.streams, 0u);
        EXPECT_EQ(raw.cap, raw.subchunks) << "no cap without streams";
        unsetenv("KVN_BATCH_CAP");
        unsetenv("KVN_ALLOC_TRACE");
    });
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
