// Device memory: host allocations with guard bytes, tracked by base address;
// every copy and fill must lie inside one allocation.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/cuda/stand_in_driver/exported.h"
#include "tests/cuda/stand_in_driver/stand_in_state.h"

namespace kvn::stand_in {

Allocation* findRange(uint64_t address, uint64_t bytes) {
    auto& allocations = state().allocations;
    auto it = allocations.upper_bound(address);
    if (it == allocations.begin()) return nullptr;
    --it;
    const uint64_t offset = address - it->first;
    if (offset > it->second.size || bytes > it->second.size - offset) return nullptr;
    return &it->second;
}

void checkGuards(const char* after) {
    State& s = state();
    for (const auto& [base, allocation] : s.allocations) {
        if (allocation.external) continue;
        for (size_t i = 0; i < kGuardBytes; ++i) {
            const bool below = allocation.raw[i] != kGuardByte;
            const bool above = allocation.raw[kGuardBytes + allocation.size + i] != kGuardByte;
            if (!below && !above) continue;
            std::fprintf(stderr, "[stand-in] guard bytes %s the allocation at 0x%llx (%zu bytes) damaged after %s\n",
                         below ? "below" : "above", static_cast<unsigned long long>(base), allocation.size, after);
            s.sticky = kIllegalAddress;
            return;
        }
    }
}

uint64_t registerExternal(void* pointer, size_t size) {
    const uint64_t base = reinterpret_cast<uint64_t>(pointer);
    state().allocations[base] = Allocation{static_cast<uint8_t*>(pointer), size, true};
    return base;
}

}  // namespace kvn::stand_in

using namespace kvn::stand_in;

namespace {

uint8_t* at(uint64_t address) { return reinterpret_cast<uint8_t*>(address); }

// A synchronous call waits for the legacy stream and the streams that
// synchronise with it, not for non-blocking streams.
Result copyChecked(const char* name, uint64_t device, size_t bytes, const std::function<void()>& work) {
    if (const Result r = enter(name)) return r;
    if (bytes && !findRange(device, bytes)) return kInvalidValue;
    flushBlocking();
    if (bytes) work();
    return state().sticky;
}

// `source`: a second device range the work reads (0: none).
Result queueChecked(const char* name, uint64_t device, size_t bytes, void* stream, std::function<void()> work,
                    uint64_t source = 0) {
    if (const Result r = enter(name)) return r;
    if (bytes && !findRange(device, bytes)) return kInvalidValue;
    if (bytes && source && !findRange(source, bytes)) return kInvalidValue;
    Stream* target = streamOf(stream);
    if (!target) return kInvalidHandle;
    if (bytes) enqueue(target, std::move(work));
    return kSuccess;
}

}  // namespace

KVN_STAND_IN_EXPORT Result cuMemAlloc_v2(uint64_t* out, size_t bytes) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuMemAlloc_v2")) return r;
    if (!out || bytes == 0) return kInvalidValue;
    if (bytes > s.total_memory - s.used_memory) return kOutOfMemory;
    uint8_t* raw = static_cast<uint8_t*>(std::malloc(bytes + 2 * kGuardBytes));
    if (!raw) return kOutOfMemory;
    // Fresh device memory holds leftovers, never zeros to rely on.
    std::memset(raw, kGuardByte, kGuardBytes);
    std::memset(raw + kGuardBytes, 0xCD, bytes);
    std::memset(raw + kGuardBytes + bytes, kGuardByte, kGuardBytes);
    const uint64_t base = reinterpret_cast<uint64_t>(raw + kGuardBytes);
    s.allocations[base] = Allocation{raw, bytes, false};
    s.used_memory += bytes;
    *out = base;
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuMemFree_v2(uint64_t address) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuMemFree_v2"); r && r != s.sticky) return r;
    auto it = s.allocations.find(address);
    if (it == s.allocations.end() || it->second.external) return kInvalidValue;
    // Freeing waits for the work that may still use the memory.
    flushAll();
    checkGuards("work before cuMemFree");
    s.used_memory -= it->second.size;
    std::free(it->second.raw);
    s.allocations.erase(it);
    return s.sticky;
}

KVN_STAND_IN_EXPORT Result cuMemGetInfo_v2(size_t* free_bytes, size_t* total_bytes) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuMemGetInfo_v2")) return r;
    if (!free_bytes || !total_bytes) return kInvalidValue;
    *free_bytes = s.total_memory - s.used_memory;
    *total_bytes = s.total_memory;
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuMemcpyHtoD_v2(uint64_t dst, const void* src, size_t bytes) {
    std::lock_guard guard(state().lock);
    return copyChecked("cuMemcpyHtoD_v2", dst, bytes, [&] { std::memcpy(at(dst), src, bytes); });
}

KVN_STAND_IN_EXPORT Result cuMemcpyDtoH_v2(void* dst, uint64_t src, size_t bytes) {
    std::lock_guard guard(state().lock);
    return copyChecked("cuMemcpyDtoH_v2", src, bytes, [&] { std::memcpy(dst, at(src), bytes); });
}

KVN_STAND_IN_EXPORT Result cuMemsetD8_v2(uint64_t dst, unsigned char value, size_t count) {
    std::lock_guard guard(state().lock);
    return copyChecked("cuMemsetD8_v2", dst, count, [&] { std::memset(at(dst), value, count); });
}

KVN_STAND_IN_EXPORT Result cuMemcpyHtoDAsync_v2(uint64_t dst, const void* src, size_t bytes, void* stream) {
    std::lock_guard guard(state().lock);
    return queueChecked("cuMemcpyHtoDAsync_v2", dst, bytes, stream, [=] { std::memcpy(at(dst), src, bytes); });
}

KVN_STAND_IN_EXPORT Result cuMemcpyDtoHAsync_v2(void* dst, uint64_t src, size_t bytes, void* stream) {
    std::lock_guard guard(state().lock);
    return queueChecked("cuMemcpyDtoHAsync_v2", src, bytes, stream, [=] { std::memcpy(dst, at(src), bytes); });
}

KVN_STAND_IN_EXPORT Result cuMemcpyDtoDAsync_v2(uint64_t dst, uint64_t src, size_t bytes, void* stream) {
    std::lock_guard guard(state().lock);
    return queueChecked("cuMemcpyDtoDAsync_v2", dst, bytes, stream, [=] { std::memmove(at(dst), at(src), bytes); },
                        src);
}

KVN_STAND_IN_EXPORT Result cuMemsetD8Async(uint64_t dst, unsigned char value, size_t count, void* stream) {
    std::lock_guard guard(state().lock);
    return queueChecked("cuMemsetD8Async", dst, count, stream, [=] { std::memset(at(dst), value, count); });
}

KVN_STAND_IN_EXPORT Result cuMemAllocHost_v2(void** out, size_t bytes) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuMemAllocHost_v2")) return r;
    if (!out || bytes == 0) return kInvalidValue;
    void* pointer = std::malloc(bytes);
    if (!pointer) return kOutOfMemory;
    s.host_allocations.insert(pointer);
    *out = pointer;
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuMemFreeHost(void* pointer) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuMemFreeHost"); r && r != s.sticky) return r;
    if (!s.host_allocations.erase(pointer)) return kInvalidValue;
    flushAll();
    std::free(pointer);
    return kSuccess;
}
