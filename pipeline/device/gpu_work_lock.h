// The process-wide lock that serialises GPU work submitted on a handle's own
// stream (no caller stream): the decode batches, the byte-plane inverse and
// the encoder's frame writer hold it from the first launch to the final wait.
#pragma once

#include "core/platform/platform.h"

namespace kvn {

extern ExclusiveLock g_gpu_work_lock;

}  // namespace kvn
