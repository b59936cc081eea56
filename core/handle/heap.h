// The C heap for the records of the interface: handles, staging buffers,
// verdict cells and asynchronous job requests.
#pragma once

#include <cstddef>

namespace kvn {

void* heapAlloc(size_t bytes);  // nullptr when memory runs out
void heapFree(void* block);     // null is accepted

// Test seam: the next `after` allocations succeed, the one after fails, and
// later ones succeed again. A negative value disarms it.
void injectHeapAllocFailure(int after);

}  // namespace kvn
