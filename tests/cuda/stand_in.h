// The tests' way into the stand-in driver: its entry points, bound as the
// library binds them, and its control calls.
#pragma once

#include <cstdint>
#include <vector>

#include "cuda/device/cuda_functions.h"
#include "tests/cuda/stand_in_driver/stand_in_control.h"

namespace kvn::test {

struct StandIn {
    void* library = nullptr;
    CudaFunctions cu{};
    void (*setMemory)(uint64_t) = nullptr;
    void (*setSmCount)(int) = nullptr;
    void (*setL2Bytes)(int) = nullptr;
    void (*setIntegrated)(int) = nullptr;
    void (*lastLaunch)(const char*, StandInLaunch*) = nullptr;
    void (*setLazy)(int) = nullptr;
    void (*rejectModule)(const char*, int32_t) = nullptr;
    void (*dropKernel)(const char*) = nullptr;
    void (*failCall)(const char*, int, int32_t) = nullptr;
    void (*onInit)(void (*)()) = nullptr;
    void (*afterKernel)(const char*, StandInKernelHook) = nullptr;
    void (*counts)(StandInCounts*) = nullptr;
    CuContextTag (*lastSetContext)() = nullptr;
    int32_t (*stickyError)() = nullptr;
    void (*l2Calls)(StandInL2Calls*) = nullptr;
};

// The stand-in on the loader path; a test failure when it is not there.
const StandIn& standIn();
// Whether any libcuda.so.1 can be loaded at all.
bool driverLoadable();

StandInCounts standInCounts();
// The launches of `kernel` so far (zeros when none).
StandInLaunch lastLaunch(const char* kernel);

// `n` bytes that are not one repeated pattern.
std::vector<uint8_t> sampleBytes(size_t n, uint32_t seed);

}  // namespace kvn::test
