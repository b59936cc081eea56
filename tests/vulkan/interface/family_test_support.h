// Shared pieces of the Vulkan-family interface tests: handles made without a
// device (the bring-up slot answers yes), job bodies that record their job,
// and a job that blocks until the test lets it go.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "core/handle/heap.h"
#include "core/interface/backend.h"
#include "core/platform/platform.h"
#include "korvane.h"
#include "vulkan/interface/family_handle.h"

namespace kvn::test {

// A gate that job bodies wait at until the test opens it.
class Gate {
public:
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return open_; });
    }
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

// What the test job bodies saw and what they answer.
struct JobLog {
    Gate gate;
    bool blocking = false;
    int32_t result = 0;
    uint8_t fallback = 0;
    // Bytes a compress job writes at the start of its destination.
    std::vector<uint8_t> output;
    std::atomic<int> jobs_run{0};
    std::atomic<int> finished_seq{0};  // the sequence number at which the last job ended
    std::atomic<int> seq{0};
    CompressJob compress_job{};
    DecompressJob decode_job{};
    DeviceDecompressJob device_job{};
};

JobLog& jobLog();

// Handles of both shapes without a device, and the job bodies above.
class FamilyTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new handle of each shape, destroyed at the end of the test.
    void* makeFamilyHandle();
    void* makeInterfaceHandle();
    static VulkanFamilyHandle& family(void* handle) { return *asVulkanFamily(handle); }

private:
    Backend saved_{};
    std::vector<void*> handles_;
};

}  // namespace kvn::test
