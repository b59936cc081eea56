// The encode-pipeline build that creating a handle runs after the device
// bring-up. The device layer provides it; until its build lands, a weak
// stand-in (encode_pipelines_pending.cpp) reports the device's state alone.
#pragma once

namespace kvn {

// True when the encode pipelines are (or were) built.
bool ensureEncodePipelines();

}  // namespace kvn
