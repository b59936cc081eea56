// Small pieces shared by the exported calls of both families.
#pragma once

#include <cstdint>

#include "core/handle/handle.h"
#include "core/interface/backend.h"
#include "korvane.h"

namespace kvn {

inline KvnHandle* asHandle(void* handle) { return static_cast<KvnHandle*>(handle); }

// A job result as the status-returning calls report it: a negative result r
// is the status -r; a byte count goes to *out_size (when given) with status 0.
inline KvnStatus statusFromJobResult(int32_t result, uint64_t* out_size) {
    if (result < 0) return static_cast<KvnStatus>(-int64_t{result});
    if (out_size) *out_size = static_cast<uint64_t>(result);
    return KVN_STATUS_SUCCESS;
}

// The create calls: 2 for a null out; the device bring-up (bring_up_failure
// when it fails); a new Record (7 when memory runs out) stored in *out.
template <typename Record>
KvnStatus createHandleRecord(void** out, HandleShape shape, KvnStatus bring_up_failure) {
    if (!out) return KVN_STATUS_INVALID_ARGUMENT;
    if (!backend().bringUp()) return bring_up_failure;
    Record* record = newHandle<Record>(shape);
    if (!record) return KVN_STATUS_OUT_OF_MEMORY;
    *out = static_cast<KvnHandle*>(record);
    return KVN_STATUS_SUCCESS;
}

}  // namespace kvn
