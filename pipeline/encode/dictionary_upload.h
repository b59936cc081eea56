// The dictionary and its position table on the device, uploaded once and
// kept while later frames use the same dictionary at the same hash bits.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/handle/encoder_state.h"

namespace kvn {

// Sets encoder.dict_table_ready; GpuPipelineFailed when the dictionary cannot
// be found any more or the upload fails.
Error prepareDeviceDictionary(EncoderState& encoder, uint32_t dict_id, uint32_t bits);

}  // namespace kvn
