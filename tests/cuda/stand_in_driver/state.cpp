// The stand-in's state, the entry points' prologue and the control interface.
#include "tests/cuda/stand_in_driver/stand_in_state.h"

#include "tests/cuda/stand_in_driver/exported.h"

namespace kvn::stand_in {

State& state() {
    static State s;
    return s;
}

Context*& currentContext() {
    thread_local Context* current = nullptr;
    return current;
}

Result enter(const char* name, bool needs_context) {
    State& s = state();
    if (auto it = s.injections.find(name); it != s.injections.end()) {
        if (it->second.after-- == 0) {
            const Result code = it->second.code;
            s.injections.erase(it);
            return code;
        }
    }
    if (!s.initialized) return kNotInitialized;
    if (needs_context && !currentContext()) return kInvalidContext;
    return s.sticky;
}

}  // namespace kvn::stand_in

using namespace kvn::stand_in;

KVN_STAND_IN_EXPORT void kvnStandInSetMemory(uint64_t bytes) {
    std::lock_guard guard(state().lock);
    state().total_memory = bytes;
}

KVN_STAND_IN_EXPORT void kvnStandInSetSmCount(int count) {
    std::lock_guard guard(state().lock);
    state().sm_count = count;
}

KVN_STAND_IN_EXPORT void kvnStandInSetL2Bytes(int bytes) {
    std::lock_guard guard(state().lock);
    state().l2_bytes = bytes;
}

KVN_STAND_IN_EXPORT void kvnStandInSetIntegrated(int integrated) {
    std::lock_guard guard(state().lock);
    state().integrated = integrated != 0;
}

KVN_STAND_IN_EXPORT void kvnStandInLastLaunch(const char* kernel, StandInLaunch* out) {
    State& s = state();
    std::lock_guard guard(s.lock);
    *out = StandInLaunch{};
    const auto it = s.launch_records.find(kernel);
    if (it == s.launch_records.end()) return;
    out->count = it->second.count;
    out->grid_x = it->second.grid_x;
    for (size_t i = 0; i < it->second.values.size() && i < kStandInMaxArguments; ++i)
        out->arguments[i] = it->second.values[i];
}

KVN_STAND_IN_EXPORT void kvnStandInSetLazy(int lazy) {
    std::lock_guard guard(state().lock);
    state().lazy = lazy != 0;
    state().others_first = lazy == 2;
}

KVN_STAND_IN_EXPORT void kvnStandInRejectModule(const char* entry, int32_t code) {
    std::lock_guard guard(state().lock);
    state().rejected_entries[entry] = code;
}

KVN_STAND_IN_EXPORT void kvnStandInDropKernel(const char* name) {
    std::lock_guard guard(state().lock);
    state().dropped_kernels.insert(name);
}

KVN_STAND_IN_EXPORT void kvnStandInFailCall(const char* name, int after, int32_t code) {
    std::lock_guard guard(state().lock);
    state().injections[name] = Injection{after, code};
}

KVN_STAND_IN_EXPORT void kvnStandInOnInit(void (*hook)(void)) {
    std::lock_guard guard(state().lock);
    state().init_hook = hook;
}

KVN_STAND_IN_EXPORT void kvnStandInAfterKernel(const char* name, StandInKernelHook hook) {
    std::lock_guard guard(state().lock);
    if (hook) state().after_kernel[name] = hook;
    else state().after_kernel.erase(name);
}

KVN_STAND_IN_EXPORT void kvnStandInCounts(StandInCounts* out) {
    State& s = state();
    std::lock_guard guard(s.lock);
    uint64_t allocations = 0;
    for (const auto& [base, allocation] : s.allocations) allocations += allocation.external ? 0 : 1;
    out->allocations = allocations;
    out->host_allocations = s.host_allocations.size();
    out->streams = s.streams.size();
    out->events = s.events.size();
    out->contexts = s.contexts.size();
    out->launches = launchCount();
}

KVN_STAND_IN_EXPORT void kvnStandInL2Calls(StandInL2Calls* out) {
    std::lock_guard guard(state().lock);
    *out = state().l2_calls;
}

KVN_STAND_IN_EXPORT CuContextTag kvnStandInLastSetContext(void) {
    std::lock_guard guard(state().lock);
    return state().last_set_context;
}

KVN_STAND_IN_EXPORT int32_t kvnStandInStickyError(void) {
    std::lock_guard guard(state().lock);
    return state().sticky;
}
