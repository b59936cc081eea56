// The backend of the core test program: a device that only keeps count, and
// job bodies that record the job they were given and answer as told.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/handle/handle.h"
#include "core/interface/backend.h"
#include "core/jobs.h"
#include "core/platform/platform.h"

namespace kvn::test {

struct FakeDevice {
    bool bring_up_ok = true;
    int bring_ups = 0;

    // Which operations exist.
    bool has_mem_get_info = true;
    bool has_stream_sync = true;
    bool has_event_ops = true;

    uint64_t mem_free_bytes = 1000;
    uint64_t mem_total_bytes = 1000;
    Error stream_sync_result = Error::None;
    Error elapsed_result = Error::None;  // the answer of eventElapsedTime
    int32_t event_create_failure_at = -1;  // index of the eventCreate call that fails
    Error event_record_result = Error::None;

    std::vector<uint64_t> freed_buffers;
    std::vector<void*> freed_host;
    std::vector<uint64_t> destroyed_streams;
    std::vector<uint64_t> synced_streams;
    std::vector<uint64_t> created_events;
    std::vector<uint64_t> recorded_events;
    std::vector<uint64_t> synced_events;
    std::vector<uint64_t> destroyed_events;

    // Job bodies: the last job seen, and the result (and fallback) to give.
    int jobs_run = 0;
    CompressJob compress_job{};
    DecompressJob decode_job{};
    DeviceDecompressJob device_job{};
    int32_t job_result = 0;
    uint8_t job_fallback = 0;
    bool job_on_caller_thread = false;
    size_t job_stack_bytes = 0;  // of the thread the last job ran on
};

FakeDevice& fakeDevice();

// A fresh device and every backend slot filled with the fake.
void resetFakeBackend();

// Milliseconds the fake reports between two events.
inline float fakeElapsed(uint64_t start, uint64_t end) { return float(end - start) * 0.5f; }

// Tests of the exported calls: a fresh fake for each, handles made through
// kvnCreate, and every failure seam disarmed afterwards.
class InterfaceTest : public ::testing::Test {
protected:
    void SetUp() override { resetFakeBackend(); }
    void TearDown() override {
        injectHeapAllocFailure(-1);
        injectThreadStartFailure(-1);
        for (void* handle : handles_) kvnDestroy(handle);
    }

    // A new handle, destroyed at the end of the test.
    void* makeHandle() {
        void* handle = nullptr;
        EXPECT_EQ(kvnCreate(&handle), 0u);
        handles_.push_back(handle);
        return handle;
    }
    static KvnHandle& state(void* handle) { return *static_cast<KvnHandle*>(handle); }

private:
    std::vector<void*> handles_;
};

}  // namespace kvn::test
