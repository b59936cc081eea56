// Creating, shrinking and destroying handles: what each call frees, counted
// on the fake device. The KVN_SANITIZE build runs these under LeakSanitizer,
// which catches any host memory a destroy leaves behind.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/handle/heap.h"
#include "core/interface/fake_backend.h"
#include "core/platform/platform.h"
#include "korvane.h"

namespace kvn::test {
namespace {

using LifecycleTest = InterfaceTest;

template <typename T>
std::vector<T> sorted(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST_F(LifecycleTest, CreateChecksInOrder) {
    // Null out-pointer first: no bring-up is even tried.
    fakeDevice().bring_up_ok = false;
    EXPECT_EQ(kvnCreate(nullptr), 2u);
    EXPECT_EQ(fakeDevice().bring_ups, 0);

    void* handle = &handle;
    EXPECT_EQ(kvnCreate(&handle), 6u);
    EXPECT_EQ(handle, &handle);  // nothing stored on failure

    fakeDevice().bring_up_ok = true;
    injectHeapAllocFailure(0);
    EXPECT_EQ(kvnCreate(&handle), 7u);
    EXPECT_EQ(handle, &handle);

    EXPECT_EQ(kvnCreate(&handle), 0u);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(kvnDestroy(handle), 0u);
}

TEST_F(LifecycleTest, ANewHandleIsEmpty) {
    KvnHandle& h = state(makeHandle());
    EXPECT_EQ(h.shape, HandleShape::Interface);
    EXPECT_EQ(h.staging, nullptr);
    EXPECT_EQ(h.staging_cap, 0u);
    for (const DeviceBuffer& b : h.encoder.device_buffers) EXPECT_EQ(b.handle, 0u);
    for (const DeviceBuffer& b : h.decoder.device_slots) EXPECT_EQ(b.handle, 0u);
    EXPECT_TRUE(h.encoder.dictionaries.entries().empty());
    EXPECT_TRUE(h.decoder.timings.empty());
    EXPECT_EQ(h.decoder.verdict_cell, nullptr);
    EXPECT_EQ(h.decoder.pipeline_retries, 0u);
}

TEST_F(LifecycleTest, NullHandles) {
    EXPECT_EQ(kvnDestroy(nullptr), 0u);
    EXPECT_EQ(kvnReleaseEncoderBuffers(nullptr), 1u);
    EXPECT_EQ(kvnReleaseDecoderBuffers(nullptr), 1u);
    EXPECT_TRUE(fakeDevice().freed_buffers.empty());
}

// Fills a handle the way the pipelines will: device buffers on both sides,
// the decoder's dictionary buffer and own stream, host buffers, host arrays,
// page blocks, a verdict cell, timings and dictionaries.
void grow(KvnHandle& h) {
    h.encoder.device_buffers[0] = {11, 64};
    h.encoder.device_buffers[17] = {12, 64};
    h.encoder.device_buffers[kEncoderDeviceBuffers - 1] = {13, 64};
    h.encoder.dict_cache_id = 3;
    h.encoder.merkle_leaves_done = 9;
    h.encoder.merkle_leaves_valid = true;
    h.decoder.device_slots[0] = {21, 64};
    h.decoder.device_slots[kDecoderDeviceSlots - 1] = {22, 64};
    h.decoder.dict_buffer = {23, 64};
    h.decoder.dict_buffer_id = 3;
    h.decoder.own_stream = 5;
    h.decoder.own_stream_created = true;

    h.encoder.host_buffers[1] = {allocPages(4096), 4096};
    h.decoder.host_buffers[2] = {allocPages(4096), 4096};
    h.encoder.host_arrays[4] = {heapAlloc(100), 100};
    h.encoder.batched_copies = {allocPages(8192), 8192};
    h.decoder.status_array = {allocPages(4096), 4096};
    ASSERT_NE(ensureVerdictCell(h.decoder), nullptr);
    ASSERT_TRUE(h.encoder.timings.push({"kvnLzDecodeKernel", 1.0f, 0}));
    ASSERT_TRUE(h.decoder.pending_timings.push({"kvnHuffDecode4StreamKernel", 41, 42}));
    uint32_t id = 0;
    ASSERT_EQ(kvnSetDictionary(&h, reinterpret_cast<const uint8_t*>("a dictionary"), 12, &id), 0u);
}

TEST_F(LifecycleTest, ReleaseEncoderBuffersFreesTheEncodersDeviceBuffersOnly) {
    KvnHandle& h = state(makeHandle());
    grow(h);
    ASSERT_EQ(kvnReleaseEncoderBuffers(&h), 0u);
    EXPECT_EQ(sorted(fakeDevice().freed_buffers), (std::vector<uint64_t>{11, 12, 13}));
    for (const DeviceBuffer& b : h.encoder.device_buffers) EXPECT_EQ(b.capacity, 0u);
    // The next frame uploads its dictionary again and counts its leaves afresh.
    EXPECT_EQ(h.encoder.dict_cache_id, 0u);
    EXPECT_EQ(h.encoder.merkle_leaves_done, 0u);
    EXPECT_FALSE(h.encoder.merkle_leaves_valid);
    // Everything else stays, and the handle stays usable.
    EXPECT_EQ(h.decoder.device_slots[0].handle, 21u);
    EXPECT_NE(h.encoder.host_buffers[1].pointer, nullptr);
    EXPECT_EQ(h.encoder.dictionaries.entries().size(), 1u);
    ASSERT_EQ(kvnReleaseEncoderBuffers(&h), 0u);
    EXPECT_EQ(fakeDevice().freed_buffers.size(), 3u);
}

TEST_F(LifecycleTest, ReleaseDecoderBuffersKeepsTheDictionaryBufferAndStream) {
    KvnHandle& h = state(makeHandle());
    grow(h);
    ASSERT_EQ(kvnReleaseDecoderBuffers(&h), 0u);
    EXPECT_EQ(sorted(fakeDevice().freed_buffers), (std::vector<uint64_t>{21, 22}));
    EXPECT_EQ(h.decoder.dict_buffer.handle, 23u);
    EXPECT_TRUE(fakeDevice().destroyed_streams.empty());
    EXPECT_EQ(h.encoder.device_buffers[0].handle, 11u);
}

TEST_F(LifecycleTest, DestroyFreesEverythingTheHandleOwns) {
    void* handle = nullptr;
    ASSERT_EQ(kvnCreate(&handle), 0u);
    KvnHandle& h = state(handle);
    grow(h);
    void* encoder_host = h.encoder.host_buffers[1].pointer;
    void* decoder_host = h.decoder.host_buffers[2].pointer;
    ASSERT_EQ(growStaging(h, 1000), Error::None);

    EXPECT_EQ(kvnDestroy(handle), 0u);
    const FakeDevice& d = fakeDevice();
    EXPECT_EQ(sorted(d.freed_buffers), (std::vector<uint64_t>{11, 12, 13, 21, 22, 23}));
    EXPECT_EQ(sorted(d.freed_host), sorted(std::vector<void*>{encoder_host, decoder_host}));
    EXPECT_EQ(d.destroyed_streams, std::vector<uint64_t>{5});
    // A pair still pending gives its events back.
    EXPECT_EQ(sorted(d.destroyed_events), (std::vector<uint64_t>{41, 42}));
    // The page blocks, host arrays, staging, verdict cell, lists and
    // dictionary copies are host memory: LeakSanitizer counts them.
}

TEST_F(LifecycleTest, DestroyWithoutDeviceOperationsSkipsThem) {
    void* handle = nullptr;
    ASSERT_EQ(kvnCreate(&handle), 0u);
    grow(state(handle));
    backend().deviceOps = [] { return CoreDeviceOps{}; };
    // The host buffers came from whole pages; without a host-free operation
    // they cannot be returned, so give them back here.
    KvnHandle& h = state(handle);
    freePages(h.encoder.host_buffers[1].pointer, 4096);
    freePages(h.decoder.host_buffers[2].pointer, 4096);
    EXPECT_EQ(kvnDestroy(handle), 0u);
    EXPECT_TRUE(fakeDevice().freed_buffers.empty());
}

TEST_F(LifecycleTest, StagingGrowsToAtLeastSixteenBytesAndNeverShrinks) {
    KvnHandle& h = state(makeHandle());
    ASSERT_EQ(growStaging(h, 0), Error::None);
    EXPECT_EQ(h.staging_cap, 16u);
    ASSERT_EQ(growStaging(h, 100), Error::None);
    EXPECT_EQ(h.staging_cap, 100u);
    uint8_t* kept = h.staging;
    ASSERT_EQ(growStaging(h, 50), Error::None);
    EXPECT_EQ(h.staging, kept);
    EXPECT_EQ(h.staging_cap, 100u);
    // A failed growth leaves no staging buffer rather than a small one.
    injectHeapAllocFailure(0);
    EXPECT_EQ(growStaging(h, 200), Error::OutOfMemory);
    EXPECT_EQ(h.staging, nullptr);
    EXPECT_EQ(h.staging_cap, 0u);
}

}  // namespace
}  // namespace kvn::test
