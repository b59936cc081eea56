// The encode kernels' pipelines: built once per process on demand (on handle
// creation and before encode work), not at bring-up. One LZ-encode module
// serves four kernels through specialization constants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "pipeline/encode/encode_kernels.h"
#include "vulkan/device/vulkan_api.h"

namespace kvn {

struct KernelRecord;

// The records of the built encode pipelines, searched by the launch after the
// decode records. The storage never moves: records are only appended.
std::span<KernelRecord> encodeRecords();

// Builds one pipeline (8-bit storage modules get the Int8 capability; full
// 32-lane subgroups; the LZ constants when `specialized`) and appends its
// record; *out is written only on success.
bool buildEncodePipeline(const uint8_t* spirv, size_t length, const EncodeKernelSpec& spec, KernelHandle* out);

}  // namespace kvn
