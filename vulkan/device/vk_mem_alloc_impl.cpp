// The real Vulkan memory allocator's implementation, when the build found its header.
#if KVN_HAVE_VK_MEM_ALLOC
#define VMA_IMPLEMENTATION
#include "vulkan/device/memory_allocator.h"
#endif
