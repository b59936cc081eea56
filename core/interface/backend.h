// What the shared interface code needs from the library it is linked into:
// the device bring-up, a few device operations, the handle's backend parts
// and the job bodies. Each library with a device layer defines backend();
// without one the core's own answers that there is no device. Tests put
// stand-ins into its slots.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/jobs.h"

struct KvnHandle;

namespace kvn {

// The value kinds of the device operations (the same in both backends). A
// buffer handle is never an address: offsets travel as separate arguments.
using DeviceBufferHandle = uint64_t;  // 0 is none
using StreamHandle = uint64_t;        // 0 is none: synchronous work
using EventHandle = uint64_t;         // only the low 32 bits count

// The device operations the core calls itself, with the signatures and the
// return convention of the device-operations table. An empty
// slot is an operation the device does not offer (for instance before
// bring-up); callers treat it as documented at each use.
struct CoreDeviceOps {
    Error (*memFree)(DeviceBufferHandle buffer) = nullptr;
    Error (*memFreeHost)(void* pointer) = nullptr;
    Error (*memGetInfo)(uint64_t* free_bytes, uint64_t* total_bytes) = nullptr;
    Error (*streamSynchronize)(StreamHandle stream) = nullptr;
    Error (*streamDestroy)(StreamHandle stream) = nullptr;
    Error (*eventCreate)(EventHandle* out, uint32_t flags) = nullptr;
    Error (*eventRecord)(EventHandle event, StreamHandle stream) = nullptr;
    Error (*eventSynchronize)(EventHandle event) = nullptr;
    Error (*eventElapsedTime)(float* ms, EventHandle start, EventHandle end) = nullptr;
    Error (*eventDestroy)(EventHandle event) = nullptr;
};

struct Backend {
    // Brings the device up and builds the encode pipelines, once per process;
    // false when the device cannot be used (now or since an earlier failure).
    bool (*bringUp)() = nullptr;
    // The current operations; read at each use, since bring-up fills them.
    CoreDeviceOps (*deviceOps)() = nullptr;
    // Joins the handle's asynchronous jobs before it is destroyed. May be empty.
    void (*joinHandleJobs)(KvnHandle* handle) = nullptr;
    // The job bodies: each fills its job's result. An empty slot leaves the
    // result at its starting value, a device failure.
    void (*runCompressJob)(CompressJob* job) = nullptr;
    void (*runDecodeJob)(DecompressJob* job) = nullptr;
    void (*runDeviceDecodeJob)(DeviceDecompressJob* job) = nullptr;
};

Backend& backend();

}  // namespace kvn
