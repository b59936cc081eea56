// Common family: creating, shrinking and destroying handles.
#include "core/interface/interface_support.h"

using namespace kvn;

extern "C" {

KVN_API KvnStatus kvnCreate(void** out) {
    return createHandleRecord<KvnHandle>(out, HandleShape::Interface, KVN_STATUS_DEVICE_CALL_FAILED);
}

KVN_API KvnStatus kvnDestroy(void* handle) {
    destroyHandle(asHandle(handle));
    return KVN_STATUS_SUCCESS;
}

KVN_API KvnStatus kvnReleaseEncoderBuffers(void* handle) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    releaseEncoderBuffers(asHandle(handle)->encoder);
    return KVN_STATUS_SUCCESS;
}

KVN_API KvnStatus kvnReleaseDecoderBuffers(void* handle) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    releaseDecoderBuffers(asHandle(handle)->decoder);
    return KVN_STATUS_SUCCESS;
}

}  // extern "C"
