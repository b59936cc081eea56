// Host memory from memAllocHost: whole pages the library remembers, because
// only such memory may be imported into the device.
#pragma once

#include <cstdint>

namespace kvn {

int32_t procMemAllocHost(void** out, uint64_t bytes);
// -1 when `pointer` did not come from procMemAllocHost (or was freed already).
// Imports of the range are dropped first.
int32_t procMemFreeHost(void* pointer);

// Whether [address, address + bytes) lies inside one allocation.
bool isInsideHostAllocation(const void* address, uint64_t bytes);

}  // namespace kvn
