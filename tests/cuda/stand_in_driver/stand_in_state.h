// The stand-in CUDA driver's state: one process-wide record behind one lock.
// Device memory is host memory with guard bytes on both sides, tracked in a
// registry; streams are queues that run at once, or (lazy mode) only when a
// call forces them, so that a missing synchronisation gives a wrong result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tests/cuda/stand_in_driver/stand_in_control.h"
#include "tests/kernel_runtime/host_kernel.h"

namespace kvn::stand_in {

using Result = int32_t;
inline constexpr Result kSuccess = 0, kInvalidValue = 1, kOutOfMemory = 2, kNotInitialized = 3,
                        kInvalidContext = 201, kInvalidPtx = 218, kInvalidHandle = 400, kNotFound = 500,
                        kIllegalAddress = 700, kLaunchFailed = 719, kCooperativeTooLarge = 720;

inline constexpr size_t kGuardBytes = 64;
inline constexpr uint8_t kGuardByte = 0xA5;

struct Allocation {
    uint8_t* raw;    // guard, `size` bytes, guard
    size_t size;
    bool external;   // a module global: no guards, never freed
};

struct Context {};

struct Stream {
    bool non_blocking = false;
    std::deque<std::function<void()>> queue;
};

struct Event {
    Stream* stream = nullptr;
    bool recorded = false;
    bool done = false;
    double time_ms = 0;
    // Recordings made, and the last one reached: a wait is for the recording
    // that was the last when it was queued, not for a later one.
    uint64_t records = 0;
    uint64_t records_done = 0;
};

struct Function {
    std::string name;
    const host::HostKernel* kernel;  // null: the entry has no host build
};

struct Module {
    std::vector<std::unique_ptr<Function>> functions;
    std::map<std::string, uint64_t> globals;  // name -> device address
};

// The launches of one kernel so far: how many, and the last one's grid and
// argument values.
struct LaunchRecord {
    uint64_t count = 0;
    unsigned grid_x = 0;
    std::vector<uint64_t> values;
};

struct Injection {
    int after;
    Result code;
};

struct State {
    std::recursive_mutex lock;
    bool initialized = false;
    bool lazy = false;
    // Lazy mode 2: a stream forced by its synchronisation lets every other
    // stream's queued work run first, as a device may have run it earlier.
    bool others_first = false;
    uint64_t total_memory = uint64_t{1} << 30;
    uint64_t used_memory = 0;
    int sm_count = 8;
    int l2_bytes = 4 << 20;
    bool integrated = false;
    Result sticky = kSuccess;
    std::map<uint64_t, Allocation> allocations;  // by user base address
    std::set<void*> host_allocations;
    std::vector<std::unique_ptr<Context>> contexts;
    Stream legacy;
    std::set<Stream*> streams;
    std::set<Event*> events;
    std::vector<std::unique_ptr<Module>> modules;
    std::map<std::string, Result> rejected_entries;
    std::set<std::string> dropped_kernels;
    std::map<std::string, Injection> injections;
    std::map<std::string, LaunchRecord> launch_records;  // by kernel name
    void (*init_hook)() = nullptr;
    CuContextTag last_set_context = nullptr;
    StandInL2Calls l2_calls{};
};

State& state();
Context*& currentContext();

// Prologue of every entry point but cuInit: an injected failure, the missing
// cuInit, the missing current context (when `needs_context`), then the
// sticky error of an earlier fault.
Result enter(const char* name, bool needs_context = true);

// Memory: the allocation holding [address, address + bytes), or null.
Allocation* findRange(uint64_t address, uint64_t bytes);
// Checks every allocation's guards; a damaged one is reported and makes the
// context's error sticky.
void checkGuards(const char* after);
uint64_t registerExternal(void* pointer, size_t size);

// Streams: runs `work` now, or queues it on the stream in lazy mode.
void enqueue(Stream* stream, std::function<void()> work);
Stream* streamOf(void* handle);  // null handle: the legacy stream
void flush(Stream* stream);
void flushBlocking();  // the legacy stream and every blocking stream
void flushAll();

}  // namespace kvn::stand_in
