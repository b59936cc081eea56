// The driver's result codes as the named errors the pipelines see.
#pragma once

#include "core/errors.h"
#include "cuda/device/cuda_api.h"

namespace kvn {

// 0 is None; memory exhaustion, a bad request and a lost device keep their
// names; any other code is DeviceCallFailed.
Error errorFromCuResult(CuResult code);

}  // namespace kvn
