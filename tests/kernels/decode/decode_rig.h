// Runs the sub-chunk and LZ decode kernels on either backend: the host kernel
// runtime (the kernels' C++ build, which has their CUDA parameter lists) or
// lavapipe (their SPIR-V, built into pipelines by the device bring-up from
// this program's embedded modules, launched through the device layer).
// A lavapipe case runs in a child process of its own, since the bring-up
// happens once per process and reads KVN_FLOOR_COPY when it builds.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "tests/kernel_runtime/launch.h"
#include "vulkan/device/device_buffers.h"
#include "vulkan/device/kernel_table.h"
#include "vulkan/device/test_support.h"

namespace kvn::dectest {

enum class Backend { Host, Lavapipe };

inline const char* backendName(Backend b) { return b == Backend::Host ? "Host" : "Lavapipe"; }

// Runs body on the backend: directly for the host runtime (with the
// floor-copy global set), in a child process with a fresh bring-up for lavapipe.
template <typename Body>
void onBackend(Backend backend, bool floor_copy, Body body) {
    if (backend == Backend::Host) {
        uint32_t* floor = kvn::host::findGlobal("g_kvn_floor_copy");
        ASSERT_NE(floor, nullptr);
        *floor = floor_copy ? 1u : 0u;
        body();
        *floor = 0;
        return;
    }
    test::inChildProcess([&] {
        if (floor_copy) setenv("KVN_FLOOR_COPY", "1", 1);
        test::readyOps();
        body();
    });
}

// Device buffers of the lavapipe backend, freed with the rig.
class DeviceBuffers {
public:
    ~DeviceBuffers() {
        for (uint64_t b : buffers_) gpuOps().memFree(b);
    }
    uint64_t copy(std::span<const uint8_t> bytes) {
        uint64_t b = 0;
        EXPECT_EQ(gpuOps().memAlloc(&b, std::max<size_t>(bytes.size(), 16)), 0);
        if (!bytes.empty()) EXPECT_EQ(gpuOps().memcpyHtoD(b, bytes.data(), bytes.size()), 0);
        buffers_.push_back(b);
        return b;
    }
    template <class T>
    uint64_t copyOf(const std::vector<T>& v) {
        return copy({reinterpret_cast<const uint8_t*>(v.data()), v.size() * sizeof(T)});
    }
    std::vector<uint8_t> read(uint64_t b, size_t bytes) {
        std::vector<uint8_t> out(bytes);
        EXPECT_EQ(gpuOps().memcpyDtoH(out.data(), b, bytes), 0);
        return out;
    }

private:
    std::vector<uint64_t> buffers_;
};

// Launches a decode kernel built by the bring-up (its table row fixes the
// bindings and push words that params must carry, in that order).
inline void launchDecodeKernel(KernelHandle DecodeKernelHandles::*handle, uint32_t workgroups, void** params) {
    const KernelHandle kernel = vulkanContext().decode_kernels.*handle;
    ASSERT_NE(kernel, nullptr);
    ASSERT_EQ(gpuOps().launchKernel(kernel, workgroups, 1, 1, 32, 1, 1, 0, 0, params, nullptr, nullptr), 0);
    ASSERT_EQ(gpuOps().streamSynchronize(0), 0);
}

inline uint32_t low32(uint64_t v) { return uint32_t(v); }
inline uint32_t high32(uint64_t v) { return uint32_t(v >> 32); }

}  // namespace kvn::dectest
