// The Vulkan API as this library sees it: headers only. The loader is opened
// at run time and every entry point is resolved by name, so nothing here may
// call a Vulkan prototype directly.
#pragma once

#ifndef VK_NO_PROTOTYPES
#define VK_NO_PROTOTYPES
#endif
#include <vulkan/vulkan.h>
