// The CUDA library's own export: what a handle's decoder holds on the device.
#include "core/interface/interface_support.h"

using namespace kvn;

extern "C" {

KVN_API KvnStatus kvnDecoderHeldBytes(void* handle, uint64_t* bytes, void** base) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    const DecoderState& decoder = asHandle(handle)->decoder;
    if (bytes) {
        uint64_t held = decoder.dict_buffer.capacity;
        for (const DeviceBuffer& buffer : decoder.device_slots) held += buffer.capacity;
        *bytes = held;
    }
    // No decode step keeps a scratch base yet.
    if (base) *base = nullptr;
    return KVN_STATUS_SUCCESS;
}

}  // extern "C"
