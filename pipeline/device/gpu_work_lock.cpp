#include "pipeline/device/gpu_work_lock.h"

namespace kvn {

ExclusiveLock g_gpu_work_lock;

}  // namespace kvn
