// Common family: what a handle tells about its last call (timings, Merkle
// verdict) and over its life (pipeline retries).
#include "core/interface/interface_support.h"
#include "core/interface/last_verdict.h"
#include "core/timing/last_timings.h"

using namespace kvn;

namespace kvn {

KvnStatus lastVerdictStatus(void* handle) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    const int32_t* cell = asHandle(handle)->decoder.verdict_cell;
    if (!cell) return KVN_STATUS_UNSUPPORTED;
    switch (*cell) {
        case kVerdictMatch: return KVN_STATUS_SUCCESS;
        case kVerdictMismatch: return KVN_STATUS_CORRUPT_FRAME;
        default: return KVN_STATUS_UNSUPPORTED;  // no Merkle root was checked
    }
}

}  // namespace kvn

extern "C" {

KVN_API KvnStatus kvnGetLastTimings(void* handle, TimingEntry* buf, uint64_t cap, uint64_t* out_count) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (!out_count) return KVN_STATUS_INVALID_ARGUMENT;
    *out_count = collectLastTimings(*asHandle(handle), buf, cap);
    return KVN_STATUS_SUCCESS;
}

KVN_API KvnStatus kvnWaitAndGetLastTimings(void* handle, uint64_t stream, TimingEntry* buf, uint64_t cap,
                                           uint64_t* out_count) {
    if (stream != 0) {
        const CoreDeviceOps ops = backend().deviceOps();
        if (!ops.streamSynchronize || ops.streamSynchronize(stream) != Error::None) return KVN_STATUS_DEVICE_CALL_FAILED;
    }
    return kvnGetLastTimings(handle, buf, cap, out_count);
}

KVN_API KvnStatus kvnGetLastVerdict(void* handle) { return lastVerdictStatus(handle); }

KVN_API uint32_t kvnGetPipelineRetries(void* handle) {
    return handle ? asHandle(handle)->decoder.pipeline_retries : 0;
}

}  // extern "C"
