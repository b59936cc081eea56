// The timings of a handle's last call, as the interface hands them out.
#pragma once

#include <cstdint>

#include "korvane.h"

struct KvnHandle;

namespace kvn {

// Resolves both sides' pending pairs and then empties both timing lists, so
// that a new job's timings describe that job alone. Every job calls it first.
void clearLastTimings(KvnHandle& handle);

// Resolves the encoder's pending pairs and then the decoder's; copies at most
// cap entries, encoder entries first, when buf is not null; returns the
// number of entries of both lists.
uint64_t collectLastTimings(KvnHandle& handle, TimingEntry* buf, uint64_t cap);

}  // namespace kvn
