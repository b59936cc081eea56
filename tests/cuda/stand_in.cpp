#include "tests/cuda/stand_in.h"

#include <gtest/gtest.h>

#include "core/platform/platform.h"

namespace kvn::test {
namespace {

template <typename Fn>
void bind(void* library, const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(findSymbol(library, name));
    if (!*out) ADD_FAILURE() << "the stand-in lacks " << name;
}

StandIn openStandIn() {
    StandIn s;
    s.library = openLibrary(kCudaDriverLibrary);
    if (!s.library) {
        ADD_FAILURE() << "no libcuda.so.1 on the loader path";
        return s;
    }
    bindCudaFunctions(s.library, &s.cu);
    bind(s.library, "kvnStandInSetMemory", &s.setMemory);
    bind(s.library, "kvnStandInSetSmCount", &s.setSmCount);
    bind(s.library, "kvnStandInSetL2Bytes", &s.setL2Bytes);
    bind(s.library, "kvnStandInSetIntegrated", &s.setIntegrated);
    bind(s.library, "kvnStandInLastLaunch", &s.lastLaunch);
    bind(s.library, "kvnStandInSetLazy", &s.setLazy);
    bind(s.library, "kvnStandInRejectModule", &s.rejectModule);
    bind(s.library, "kvnStandInDropKernel", &s.dropKernel);
    bind(s.library, "kvnStandInFailCall", &s.failCall);
    bind(s.library, "kvnStandInOnInit", &s.onInit);
    bind(s.library, "kvnStandInAfterKernel", &s.afterKernel);
    bind(s.library, "kvnStandInCounts", &s.counts);
    bind(s.library, "kvnStandInLastSetContext", &s.lastSetContext);
    bind(s.library, "kvnStandInStickyError", &s.stickyError);
    bind(s.library, "kvnStandInL2Calls", &s.l2Calls);
    return s;
}

}  // namespace

const StandIn& standIn() {
    static const StandIn s = openStandIn();
    return s;
}

bool driverLoadable() { return openLibrary(kCudaDriverLibrary) != nullptr; }

StandInCounts standInCounts() {
    StandInCounts counts{};
    if (standIn().counts) standIn().counts(&counts);
    return counts;
}

StandInLaunch lastLaunch(const char* kernel) {
    StandInLaunch launch{};
    if (standIn().lastLaunch) standIn().lastLaunch(kernel, &launch);
    return launch;
}

std::vector<uint8_t> sampleBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> bytes(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = uint8_t('a' + x % 26);
    }
    return bytes;
}

}  // namespace kvn::test
