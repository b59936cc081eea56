// The host-memory decode job: walks the concatenated frames of the input,
// decodes each, retries a frame once after a checksum mismatch, and reports
// the decoded total or a negated status.
#pragma once

#include "core/jobs.h"

namespace kvn {

void decodeFramesWorker(DecompressJob* job);

// Test seam: the next `count` frame decodes end as checksum mismatches, as
// a transient device fault would make them.
void injectChecksumFaults(uint32_t count);

}  // namespace kvn
