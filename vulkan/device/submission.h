// Getting recorded work to the device and waiting for it: the queue lock,
// the fence wait with its 60-second limit, the command-buffer trace, and the
// one-shot command buffer of the synchronous operations.
#pragma once

#include <cstdint>
#include <functional>

#include "core/platform/platform.h"
#include "vulkan/device/vulkan_api.h"

namespace kvn {

inline constexpr uint64_t kFenceTimeoutNs = 60'000'000'000ull;

// vkQueueSubmit under the queue lock.
VkResult submitToQueue(VkQueue queue, const VkSubmitInfo& submit, VkFence fence);
// Host waits on the device since the process started: fence waits and
// queue or device idles. Read by measurements (the codec bench).
struct HostWaitCounts {
    uint64_t fence_waits = 0;
    uint64_t idle_waits = 0;
};
HostWaitCounts hostWaitCounts();

// vkDeviceWaitIdle / vkQueueWaitIdle under the queue lock; -1 without the entry point.
int32_t deviceWaitIdle();
int32_t queueWaitIdle(VkQueue queue);

// Waits for all fences up to 60 s; a timeout prints the wedged-device line
// with `label` and returns VK_TIMEOUT (2). With `progress` (a stream's
// progress word, StreamProgress) the wait goes on for another 60 s as long
// as the word changed in the last 60: a submission of many launches may take
// longer than one wait while each of its launches stays far inside it, and a
// device stuck in one launch still times out.
int32_t waitFences(uint32_t count, const VkFence* fences, const char* label,
                   const volatile uint32_t* progress = nullptr);
// The loop of that wait: `wait` once, and again after each timeout that
// found the progress word changed since the previous one; the last result.
VkResult waitWhileProgressing(const std::function<VkResult()>& wait, const volatile uint32_t* progress);
void reportWedgedDevice(const char* label);

// The wedge is permanent for the process: from the first wait that gave up,
// the operations table refuses all work and releases nothing the device may
// still use, and the bring-up reports the device as unusable.
void markDeviceWedged();
bool deviceWedged();

// Test seam: the next `after` fence waits run as usual, the one after gives
// up at once and reports a timeout. A negative value disarms it.
void injectFenceTimeout(int after);

// "[cb-trace] <label> cb=0x<handle>" when KVN_VK_CB_TRACE is set (read once per process).
bool cbTraceOn();
void cbTrace(const char* label, VkCommandBuffer cb);

// Resets and begins `cb` for one submission, after its trace line.
int32_t beginCommandBuffer(VkCommandBuffer cb, const char* trace_label);

// The synchronous road: holds the sync lock for its lifetime, so that the
// one-shot command buffer, its fence and the staging buffers serve one
// operation at a time.
class SyncRoad {
public:
    SyncRoad();
    SyncRoad(const SyncRoad&) = delete;
    SyncRoad& operator=(const SyncRoad&) = delete;

    // Resets and begins the one-shot command buffer.
    int32_t begin();
    VkCommandBuffer cb() const;
    // Ends it, submits it to the compute queue with the one-shot fence and
    // waits under `label`.
    int32_t submitAndWait(const char* label);

private:
    LockGuard guard_;
};

}  // namespace kvn
