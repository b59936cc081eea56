// The sort-parse road's pre-passes over one LZ batch (key build, sort,
// candidate discovery into each sub-chunk's workspace region) and the
// KVN_VK_SORT_PROF lines of the LZ stage.
#pragma once

#include <cstdint>
#include <string>

#include "core/errors.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

struct SortPrepass {
    DeviceBufferHandle input = 0, descs = 0;  // the input copy, the batch's descriptors
    uint32_t count = 0, floor = 0;            // sub-chunks of the batch, minimum distance
    uint64_t workspace_address = 0, input_address = 0;
    uint64_t desc_offset = 0;  // of the batch's descriptors in `descs`
    StreamHandle stream = 0;   // where the parse follows them
};

// The three kernels in order, one block of 256 threads per sub-chunk, queued
// on the batch's stream ahead of its parse. With the sort profile on, each is
// followed by ctxSynchronize and its line; otherwise the caller's wait after
// the parse covers them. KernelMissing when a pre-pass pipeline does not
// exist.
Error runSortPrepass(const SortPrepass& batch);

// KVN_VK_SORT_PROF (presence), read once per process.
bool sortProfileOn();

// "vk-sort-prof: <what> <t>ms" with t in milliseconds truncated to whole
// nanoseconds.
std::string sortProfileLine(const std::string& what, double ms);

// Prints the line for the time since `since_ms` (hostTimeMs) and returns now.
double printSortProfile(const std::string& what, double since_ms);

}  // namespace kvn
