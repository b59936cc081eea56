#include "core/handle/heap.h"

#include <cstdlib>

#include "core/platform/fault_countdown.h"

namespace kvn {
namespace {

FaultCountdown g_heap_fault;

}  // namespace

void* heapAlloc(size_t bytes) { return g_heap_fault.fires() ? nullptr : std::malloc(bytes ? bytes : 1); }

void heapFree(void* block) { std::free(block); }

void injectHeapAllocFailure(int after) { g_heap_fault.arm(after); }

}  // namespace kvn
