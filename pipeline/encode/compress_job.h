// The body of every compress job of the Vulkan library.
#pragma once

#include "core/jobs.h"

namespace kvn {

// Fills job->result with the compressed size or a negated status.
void runCompressJob(CompressJob* job);

}  // namespace kvn
