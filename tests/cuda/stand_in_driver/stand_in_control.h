// The stand-in driver's control interface: the tests reach these by name in
// the loaded libcuda.so.1, next to the driver's own entry points.
#pragma once

#include <cstdint>

extern "C" {

typedef struct StandInContextObject* CuContextTag;

struct StandInCounts {
    uint64_t allocations;       // live device allocations (module globals excluded)
    uint64_t host_allocations;  // live page-locked host allocations
    uint64_t streams;           // live created streams
    uint64_t events;            // live events
    uint64_t contexts;          // contexts created so far
    uint64_t launches;          // kernels run so far
};

enum { kStandInMaxArguments = 32 };

// The launches of one kernel so far: their count, and the last one's grid
// and arguments (each scalar in its low 4 bytes).
struct StandInLaunch {
    uint64_t count;
    unsigned grid_x;
    uint64_t arguments[kStandInMaxArguments];
};

// The persisting-cache calls so far: cuCtxSetLimit with the persisting-L2
// limit (how often, the last value) and the access-policy windows set on any
// stream (how many, how many of them zeroed, the last non-zero one).
struct StandInL2Calls {
    uint64_t limit_calls;
    uint64_t limit;
    uint64_t windows;
    uint64_t zeroed_windows;
    uint64_t window_base;
    uint64_t window_bytes;
    float hit_ratio;
    int hit_prop;
};

// Device memory the stand-in offers (default 1 GiB), its multiprocessors
// (default 8), its L2 cache (default 4 MiB) and whether it is an integrated
// GPU (default not); the latter three are read at the library's bring-up.
void kvnStandInSetMemory(uint64_t bytes);
void kvnStandInSetSmCount(int count);
void kvnStandInSetL2Bytes(int bytes);
void kvnStandInSetIntegrated(int integrated);
void kvnStandInLastLaunch(const char* kernel, struct StandInLaunch* out);
// Queued work runs only when forced (also KVN_STAND_IN_LAZY=1 at cuInit);
// with 2, a stream's synchronisation first runs every other stream's work.
void kvnStandInSetLazy(int lazy);
// A module whose PTX has this entry fails to load with `code`.
void kvnStandInRejectModule(const char* entry, int32_t code);
// cuModuleGetFunction does not find this kernel.
void kvnStandInDropKernel(const char* name);
// The call named `name` (the exported name) succeeds `after` more times, then
// fails once with `code`.
void kvnStandInFailCall(const char* name, int after, int32_t code);
// Runs each time this kernel has run, with its argument values (each scalar
// in its low 4 bytes): a test's way to stand for a device that computed
// something else. A null hook removes it.
typedef void (*StandInKernelHook)(const uint64_t* arguments, uint32_t count);
void kvnStandInAfterKernel(const char* name, StandInKernelHook hook);
// Runs inside cuInit, before it returns (a driver calling back into its user).
void kvnStandInOnInit(void (*hook)(void));
void kvnStandInCounts(struct StandInCounts* out);
// The context the last cuCtxSetCurrent made current.
CuContextTag kvnStandInLastSetContext(void);
void kvnStandInL2Calls(struct StandInL2Calls* out);
// The sticky error of a fault seen in a kernel or in the guard bytes (0: none).
int32_t kvnStandInStickyError(void);

}  // extern "C"
