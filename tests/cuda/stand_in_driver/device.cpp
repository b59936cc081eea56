// cuInit, the device and its attributes, contexts current per thread.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/cuda/stand_in_driver/exported.h"
#include "tests/cuda/stand_in_driver/stand_in_state.h"

using namespace kvn::stand_in;

namespace {

constexpr int kAttributeMaxThreadsPerBlock = 1;
constexpr int kAttributeMultiprocessorCount = 16;
constexpr int kAttributeL2CacheSize = 38;
constexpr int kAttributeCooperativeLaunch = 95;
constexpr int kAttributeIntegrated = 18;

Result createContext(CuContextTag* out, int device) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuCtxCreate", false)) return r;
    if (!out) return kInvalidValue;
    if (device != 0) return 101;
    s.contexts.push_back(std::make_unique<Context>());
    // A new context becomes current on the calling thread.
    currentContext() = s.contexts.back().get();
    *out = reinterpret_cast<CuContextTag>(currentContext());
    return kSuccess;
}

}  // namespace

KVN_STAND_IN_EXPORT Result cuInit(unsigned flags) {
    State& s = state();
    void (*hook)() = nullptr;
    {
        std::lock_guard guard(s.lock);
        if (auto it = s.injections.find("cuInit"); it != s.injections.end() && it->second.after-- == 0) {
            const Result code = it->second.code;
            s.injections.erase(it);
            return code;
        }
        if (flags != 0) return kInvalidValue;
        if (!s.initialized) {
            const char* lazy = std::getenv("KVN_STAND_IN_LAZY");
            if (lazy && std::strcmp(lazy, "0") != 0) s.lazy = true;
            if (lazy && std::strcmp(lazy, "2") == 0) s.others_first = true;
        }
        s.initialized = true;
        hook = s.init_hook;
    }
    if (hook) hook();
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuDeviceGet(int* device, int ordinal) {
    std::lock_guard guard(state().lock);
    if (const Result r = enter("cuDeviceGet", false)) return r;
    if (!device) return kInvalidValue;
    if (ordinal != 0) return 101;
    *device = 0;
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuDeviceGetAttribute(int* value, int attribute, int device) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuDeviceGetAttribute", false)) return r;
    if (!value || device != 0) return kInvalidValue;
    switch (attribute) {
        case kAttributeMaxThreadsPerBlock: *value = 1024; return kSuccess;
        case kAttributeMultiprocessorCount: *value = s.sm_count; return kSuccess;
        case kAttributeL2CacheSize: *value = s.l2_bytes; return kSuccess;
        case kAttributeCooperativeLaunch: *value = 1; return kSuccess;
        case kAttributeIntegrated: *value = s.integrated ? 1 : 0; return kSuccess;
        default: return kInvalidValue;
    }
}

KVN_STAND_IN_EXPORT Result cuDeviceGetName(char* name, int length, int device) {
    std::lock_guard guard(state().lock);
    if (const Result r = enter("cuDeviceGetName", false)) return r;
    if (!name || length <= 0 || device != 0) return kInvalidValue;
    std::snprintf(name, size_t(length), "%s", "stand-in sm_80");
    return kSuccess;
}

#ifndef KVN_STAND_IN_WITHOUT_CTX_CREATE_V2
KVN_STAND_IN_EXPORT Result cuCtxCreate_v2(CuContextTag* out, unsigned, int device) { return createContext(out, device); }
#endif

KVN_STAND_IN_EXPORT Result cuCtxCreate(CuContextTag* out, unsigned, int device) { return createContext(out, device); }

KVN_STAND_IN_EXPORT Result cuCtxGetCurrent(CuContextTag* out) {
    std::lock_guard guard(state().lock);
    if (const Result r = enter("cuCtxGetCurrent", false)) return r;
    if (!out) return kInvalidValue;
    *out = reinterpret_cast<CuContextTag>(currentContext());
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuCtxSetCurrent(CuContextTag context) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuCtxSetCurrent", false)) return r;
    Context* target = reinterpret_cast<Context*>(context);
    if (target) {
        bool known = false;
        for (const auto& c : s.contexts) known |= c.get() == target;
        if (!known) return kInvalidContext;
    }
    currentContext() = target;
    s.last_set_context = context;
    return kSuccess;
}

// The driver's CU_LIMIT_PERSISTING_L2_CACHE_SIZE; other limits are accepted unrecorded.
constexpr int kPersistingL2Limit = 0x06;

KVN_STAND_IN_EXPORT Result cuCtxSetLimit(int limit, size_t value) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuCtxSetLimit")) return r;
    if (limit == kPersistingL2Limit) {
        ++s.l2_calls.limit_calls;
        s.l2_calls.limit = value;
    }
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuCtxSynchronize() {
    std::lock_guard guard(state().lock);
    if (const Result r = enter("cuCtxSynchronize")) return r;
    flushAll();
    return state().sticky;
}
