#include "core/interface/backend.h"

namespace kvn {
namespace {

bool noDevice() { return false; }

CoreDeviceOps noDeviceOps() { return {}; }

}  // namespace

// A program without a device layer of its own (the CUDA library until its
// device layer lands, tools that link the core) has no device: every call
// that needs one reports a device failure. Each library with a device layer
// defines the strong backend() that replaces this one.
__attribute__((weak)) Backend& backend() {
    static Backend no_device{.bringUp = noDevice, .deviceOps = noDeviceOps};
    return no_device;
}

}  // namespace kvn
