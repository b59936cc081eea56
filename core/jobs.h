// The records in which an exported call hands its work to a pipeline.
#pragma once

#include <cstdint>

#include "core/options.h"

struct KvnHandle;

namespace kvn {

inline constexpr int32_t kJobNotRun = -6;  // a job that ends before setting its result reports a device failure

// The host source of a compress job whose source is in device memory
// (dev_src): never an address, so a road that reads it by mistake faults at once.
inline const uint8_t* const kDeviceSourcePlaceholder = reinterpret_cast<const uint8_t*>(uintptr_t{0x10});

struct CompressJob {
    KvnHandle* handle = nullptr;
    const uint8_t* src_host = nullptr;  // a non-null placeholder when the source is in device memory
    uint64_t src_len = 0;
    uint8_t* dst_host = nullptr;  // the caller's buffer, or the handle's staging buffer
    uint64_t dst_cap = 0;
    uint64_t dev_src = 0;
    uint64_t dev_dst = 0;
    uint64_t stream = 0;
    CompressOpts opts{};
    int32_t result = kJobNotRun;
};

struct DecompressJob {
    KvnHandle* handle = nullptr;
    const uint8_t* src = nullptr;
    uint64_t src_len = 0;
    uint8_t* dst = nullptr;
    uint64_t dst_cap = 0;
    DecompressOpts opts{};
    int32_t result = kJobNotRun;
};

struct DeviceDecompressJob {
    KvnHandle* handle = nullptr;
    uint64_t dev_src = 0;
    uint64_t dev_dst = 0;
    uint64_t stream = 0;
    uint32_t src_len = 0;
    DecompressOpts opts{};
    uint32_t dst_cap = 0;
    int32_t result = kJobNotRun;
    uint8_t fallback = 0;
};

}  // namespace kvn
