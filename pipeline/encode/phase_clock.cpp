#include "pipeline/encode/phase_clock.h"

#include <atomic>

#include "core/platform/platform.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

std::atomic<uint64_t> g_phase_totals[kEncodePhases];

}  // namespace

uint64_t phaseClockNow() {
    static const bool on = encodePhaseProfileWanted();
    // A reading is never 0, which stands for none.
    return on ? static_cast<uint64_t>(hostTimeMs() * 1e6) + 1 : 0;
}

uint64_t addPhaseTime(EncodePhase phase, uint64_t start) {
    const uint64_t now = phaseClockNow();
    if (start != 0 && now > start) g_phase_totals[static_cast<uint32_t>(phase)] += now - start;
    return now;
}

uint64_t encodePhaseTotal(EncodePhase phase) { return g_phase_totals[static_cast<uint32_t>(phase)].load(); }

}  // namespace kvn
