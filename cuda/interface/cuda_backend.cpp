// The CUDA library's side of the shared interface code. The CUDA device
// layer is not built yet: the device cannot be brought up, so every call
// that needs it reports a device failure.
#include "core/interface/backend.h"

namespace kvn {
namespace {

bool bringUpCuda() { return false; }

CoreDeviceOps noDeviceOps() { return {}; }

}  // namespace

Backend& backend() {
    static Backend cuda_backend{.bringUp = bringUpCuda, .deviceOps = noDeviceOps};
    return cuda_backend;
}

}  // namespace kvn
