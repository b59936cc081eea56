// What the whole-input decode in one launch tells on the standard error
// stream when its variables ask for it, the walk status line it prints
// unasked, and the KVN_WALK_DUMP file.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "cuda/decode/mega_decode.h"
#include "cuda/device/cuda_api.h"

namespace kvn {

// The kernel's u64 profile slots: 0 to 8 phase boundaries, 9 to 19 counts.
inline constexpr uint32_t kMegaProfileSlots = 24;

// Host times (milliseconds) after each step of one decode, from its start.
struct MegaHostTimes {
    double start;
    double workspace;  // grown
    double memsets;    // cleared
    double prealloc;   // profile buffer and parameters
    double launch;
    double sync;
    double d2h;        // MegaMeta read back
    double free;       // dump and profile output
};

// "[mega-host] ..." (KVN_MEGA_HOST_PROFILE).
void printMegaHostProfile(const MegaHostTimes& t);
// The "[mega-phase]", "[mega-walk]" and "[mega-lz]" lines of a profile (KVN_MEGA_PROFILE).
void printMegaDiagnostics(const uint64_t (&slots)[kMegaProfileSlots]);
// The KVN_MEGA_DEBUG lines.
void printMegaLaunchFailed(CuResult rc, uint32_t grid);
void printMegaSyncFailed(CuResult rc);
void printMegaLaunched(uint32_t grid);
void printMegaWalkFault(const MegaMeta& meta);
// "[walk-status] ...": a device walk refused the input.
void printWalkStatus(uint32_t status, uint64_t frame_size, uint64_t decoded_size);
// The file `path`: MegaMeta, then meta.count descriptors read from `descs`
// and as many first-sub-chunk indices from `starts`.
Error writeWalkDump(const char* path, const MegaMeta& meta, CuDevicePtr descs, CuDevicePtr starts);

}  // namespace kvn
