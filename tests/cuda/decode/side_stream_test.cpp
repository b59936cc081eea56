// The CUDA decode's side stream: the Merkle pass, the windows' Huffman
// decode and the gather of stored off16 halves run there, ordered with the
// decode stream by events. The bytes and the verdicts are the same with and
// without it, also when the stand-in runs every other stream's queued work
// before a synchronised stream's own (lazy mode 2), where a missing event
// would let the pass hash the output before it is decoded or the verdict be
// read before it is judged, and when it runs queued work only when a call
// forces it (lazy mode 1), where a missing wait leaves work undone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <string>

#include "core/handle/handle.h"
#include "core/interface/interface_support.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/device/backend_hooks.h"
#include "tests/cuda/decode/hand_frames.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/reference/ref_decoder.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

struct Road {
    const char* name;
    bool side;  // the side stream's ordering operation is offered
    int lazy;   // the stand-in's mode
};

constexpr Road kRoads[] = {
    {"side stream", true, 0},
    {"side stream, lazy", true, 1},
    {"side stream, others first", true, 2},
    {"one stream", false, 0},
    {"one stream, others first", false, 2},
};

struct HandleDecode {
    KvnStatus status;
    Bytes bytes;
    KvnStatus verdict;
    uint64_t streams;  // the driver streams the handle made
    uint32_t retries;  // frames decoded again after a mismatch
};

// `inspect` sees the handle before it is destroyed.
HandleDecode decodeOnHandle(const Bytes& src, uint64_t cap, const std::function<void(void*)>& inspect = {}) {
    const uint64_t streams_before = standInCounts().streams;
    void* handle = nullptr;
    EXPECT_EQ(kvnCreate(&handle), KVN_STATUS_SUCCESS);
    Bytes dst(cap + 1);
    uint64_t size = 0;
    DecompressOpts opts{};
    const KvnStatus status = kvnDecompressHost(handle, src.data(), src.size(), dst.data(), cap, &size, &opts);
    dst.resize(status == KVN_STATUS_SUCCESS ? size : 0);
    const HandleDecode d{status, dst, kvnGetLastVerdict(handle), standInCounts().streams - streams_before,
                         kvnGetPipelineRetries(handle)};
    if (inspect) inspect(handle);
    kvnDestroy(handle);
    return d;
}

// Brings the library up, then takes the road: without the ordering
// operation the pass stays on the decode stream.
void takeRoad(const Road& road) {
    ASSERT_TRUE(ensureDevice());
    if (!road.side) gpuOps().streamWaitEvent = nullptr;
    standIn().setLazy(road.lazy);
}

TEST(CudaSideStream, BytesAndVerdictsAreTheSameOnEveryRoad) {
    const Bytes content = concat({repetitiveText(50000, 5), noiseBytes(4000, 6)});
    struct Frame {
        const char* name;
        CompressOpts opts;
        const char* no_pipeline;  // KVN_NO_PIPELINE: the leaves hashed by their own pass
    };
    const Frame frames[] = {
        {"level 1", withChunkSize(optionsAt(1), 0.0625f), nullptr},
        {"level 1, hash pass", withChunkSize(optionsAt(1), 0.0625f), "1"},
        {"level 3", withChunkSize(optionsAt(3), 0.0625f), nullptr},
        {"level 5", withChunkSize(optionsAt(5), 0.0625f), "1"},
    };
    for (const Road& road : kRoads) {
        SCOPED_TRACE(road.name);
        inChildProcess([&] {
            takeRoad(road);
            for (const Frame& f : frames) {
                SCOPED_TRACE(f.name);
                if (f.no_pipeline) setenv("KVN_NO_PIPELINE", f.no_pipeline, 1);
                else unsetenv("KVN_NO_PIPELINE");
                const VulkanFrames written = vulkanCompress(content, f.opts);
                ASSERT_EQ(written.status, KVN_STATUS_SUCCESS);
                const HandleDecode d = decodeOnHandle(written.bytes, content.size());
                EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
                EXPECT_TRUE(d.bytes == content);
                EXPECT_EQ(d.verdict, KVN_STATUS_SUCCESS) << "the device judged the frame";
                // A first judgement of bytes not yet decoded would pass on the retry.
                EXPECT_EQ(d.retries, 0u);
                EXPECT_EQ(d.streams, road.side ? 2u : 1u) << "the decode stream and the side stream";
                Bytes wrong = written.bytes;
                wrong.back() ^= 0x40;  // the stored root
                const HandleDecode bad = decodeOnHandle(wrong, content.size());
                EXPECT_EQ(bad.status, KVN_STATUS_CORRUPT_FRAME);
                EXPECT_EQ(bad.verdict, KVN_STATUS_CORRUPT_FRAME);
            }
        });
    }
}

// A failed ordering call: the fork's failure reaches the caller's status; at
// the join the side stream is drained instead, and the decode stands.
TEST(CudaSideStream, AFailedOrderingCallFailsTheDecodeOrIsReplaced) {
    const Bytes content = concat({repetitiveText(50000, 5), noiseBytes(4000, 6)});
    struct Failure {
        const char* call;
        int after;  // calls that succeed first
        bool decodes;
    };
    constexpr Failure kFailures[] = {
        {"cuEventRecord", 0, false},      // the decode stream's mark for the fork
        {"cuStreamWaitEvent", 0, false},  // the side stream's wait at the fork
        {"cuEventRecord", 1, true},       // the side stream's mark for the join
        {"cuStreamWaitEvent", 1, true},   // the decode stream's wait at the join
    };
    constexpr int32_t kCudaErrorUnknown = 999;
    for (const Failure& f : kFailures) {
        SCOPED_TRACE(std::string(f.call) + " after " + std::to_string(f.after));
        inChildProcess([&] {
            takeRoad({"side stream, others first", true, 2});
            setenv("KVN_NO_PIPELINE", "1", 1);
            const VulkanFrames written = vulkanCompress(content, withChunkSize(optionsAt(1), 0.0625f));
            ASSERT_EQ(written.status, KVN_STATUS_SUCCESS);
            standIn().failCall(f.call, f.after, kCudaErrorUnknown);
            const HandleDecode d = decodeOnHandle(written.bytes, content.size());
            if (f.decodes) {
                EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
                EXPECT_TRUE(d.bytes == content);
                EXPECT_EQ(d.verdict, KVN_STATUS_SUCCESS);
                EXPECT_EQ(d.retries, 0u);
            } else {
                EXPECT_NE(d.status, KVN_STATUS_SUCCESS);
                EXPECT_TRUE(d.bytes.empty());
            }
        });
    }
}

// The bytes of the off16 region of a handle's decoded-stream scratch (the
// last of its three equal regions) as the decode left them, read without the
// driver, whose reads would first run what is still queued: the stand-in's
// device memory is host memory, 0xCD where nothing wrote.
std::map<uint8_t, uint64_t> off16Region(void* handle) {
    const DeviceSlot& scratch = asHandle(handle)->decoder.device_slots[kEntropyScratch];
    const uint64_t region = scratch.capacity / 3;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(scratch.handle) + 2 * region;
    std::map<uint8_t, uint64_t> counts;
    for (uint64_t i = 0; i < region; ++i) ++counts[bytes[i]];
    return counts;
}

// Every distance of these frames is 33: the gathered halves are 300 high
// halves of 0 and 300 low halves of 33, and nothing else is written.
void expectGatheredHalves(void* handle) {
    std::map<uint8_t, uint64_t> region = off16Region(handle);
    EXPECT_EQ(region[0], 300u);
    EXPECT_EQ(region[33], 300u);
    region.erase(0);
    region.erase(33);
    region.erase(0xCD);
    EXPECT_TRUE(region.empty()) << "nothing else written";
}

// Hand-built level-3 batches of 300 sub-chunks on every road, whole and
// under a cap, give the reference's bytes. With all four streams coded the
// capped batch goes in windows, whose Huffman decode takes the side stream.
// With stored off16 halves it is held whole, and the halves are gathered
// into the scratch on the side stream, after the descriptor kernels and
// beside the Huffman decode, the LZ decode waiting for them: they are in
// place when the decode returns, whichever stream's work the stand-in runs
// first (mode 2) or however late (mode 1).
TEST(CudaSideStream, HandBuiltBatchesAreTheSameOnEveryRoad) {
    struct HandFrame {
        const char* name;
        Bytes frame;
        bool stored_halves;
    };
    const HandFrame frames[] = {
        {"four coded streams", fourHuffmanStreamsFrame(300, 1), false},
        {"stored off16 halves", storedOffsetHalvesFrame(300, 8), true},
    };
    for (const Road& road : kRoads) {
        SCOPED_TRACE(road.name);
        inChildProcess([&] {
            takeRoad(road);
            for (const HandFrame& f : frames) {
                SCOPED_TRACE(f.name);
                const ref::DecodedFrame reference = ref::decodeFrame(f.frame, {});
                ASSERT_EQ(reference.error, Error::None);
                for (const char* cap : {"257", "100000"}) {
                    SCOPED_TRACE(cap);
                    setenv("KVN_BATCH_CAP", cap, 1);
                    const uint64_t gathers = lastLaunch("kvnGatherRawOff16Kernel").count;
                    const HandleDecode d = decodeOnHandle(f.frame, reference.bytes.size(),
                                                          f.stored_halves ? expectGatheredHalves : nullptr);
                    EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
                    EXPECT_TRUE(d.bytes == reference.bytes);
                    EXPECT_EQ(d.streams, road.side ? 2u : 1u);
                    if (f.stored_halves) EXPECT_EQ(lastLaunch("kvnGatherRawOff16Kernel").count, gathers + 1);
                }
            }
            unsetenv("KVN_BATCH_CAP");
        });
    }
}

}  // namespace
}  // namespace kvn::test
