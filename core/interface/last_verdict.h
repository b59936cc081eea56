// The answer of kvnGetLastVerdict, which the Vulkan family exports twice.
#pragma once

#include "korvane.h"

namespace kvn {

// 1 for a null handle; 5 before any verdict cell exists; then 0 for a Merkle
// match, 4 for a mismatch and 5 when the last decode checked no root.
KvnStatus lastVerdictStatus(void* handle);

}  // namespace kvn
