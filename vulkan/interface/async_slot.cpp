#include "vulkan/interface/async_slot.h"

namespace kvn {
namespace {

void emptySlot(AsyncSlot& slot) {
    slot.thread = Thread{};
    slot.present = false;
    slot.done.store(false, std::memory_order_relaxed);
    slot.size = 0;
    slot.size_out = nullptr;
    slot.result = 0;
}

}  // namespace

KvnStatus prepareAsyncSlot(AsyncSlot& slot) {
    if (!slot.present) return KVN_STATUS_SUCCESS;
    if (!slot.done.load(std::memory_order_acquire)) return KVN_STATUS_UNSUPPORTED;
    joinAsyncJob(slot);
    return KVN_STATUS_SUCCESS;
}

KvnStatus launchAsyncJob(AsyncSlot& slot, ThreadBody body, void* request, uint64_t* size_out) {
    emptySlot(slot);
    slot.size_out = size_out;
    if (const Error error = startThread(&slot.thread, body, request, kStack32MiB); error != Error::None) {
        emptySlot(slot);
        // Only a thread that was refused is a lost device; memory for its record is memory.
        return error == Error::OutOfMemory ? KVN_STATUS_OUT_OF_MEMORY : KVN_STATUS_DEVICE_LOST;
    }
    slot.present = true;
    return KVN_STATUS_SUCCESS;
}

void finishAsyncJob(AsyncSlot& slot, int32_t result) {
    slot.result = result;
    if (result >= 0) slot.size = static_cast<uint64_t>(result);
    slot.done.store(true, std::memory_order_release);
}

int32_t pollAsyncJob(AsyncSlot& slot, int32_t wait) {
    if (!slot.present) return 0;
    if (wait == 0 && !slot.done.load(std::memory_order_acquire)) return KVN_STATUS_UNSUPPORTED;
    joinThread(&slot.thread);
    const int32_t result = slot.result;
    emptySlot(slot);
    return result;
}

void joinAsyncJob(AsyncSlot& slot) {
    if (!slot.present) return;
    joinThread(&slot.thread);
    emptySlot(slot);
}

}  // namespace kvn
