// How the sub-chunk and LZ kernel tests meet the two backends: the kernel rig
// runs the SPIR-V forms on lavapipe; the host runtime runs the C++ builds,
// which have the kernels' CUDA parameter lists (null addresses and a 64-bit
// stride among them), launched directly.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/kernel_runtime/launch.h"
#include "tests/kernels/rig/kernel_rig.h"
#include "vulkan/device/test_support.h"

namespace kvn::dectest {

using Backend = test::KernelBackend;
using test::backendName;

// Runs body on the backend with the floor-copy switch set as asked: on the
// host runtime through its module global; on lavapipe, where the bring-up
// reads KVN_FLOOR_COPY once per process, in a child process when it is on.
template <typename Body>
void onBackend(Backend backend, bool floor_copy, Body body) {
    if (backend == Backend::Host) {
        uint32_t* floor = kvn::host::findGlobal("g_kvn_floor_copy");
        ASSERT_NE(floor, nullptr);
        *floor = floor_copy ? 1u : 0u;
        body();
        *floor = 0;
    } else if (!floor_copy) {
        body();
    } else {
        test::inChildProcess([&] {
            setenv("KVN_FLOOR_COPY", "1", 1);
            body();
        });
    }
}

}  // namespace kvn::dectest
