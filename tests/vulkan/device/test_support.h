// Shared pieces of the device-layer tests.
#pragma once

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "vulkan/device/gpu_ops.h"

namespace kvn::test {

// The bring-up happens once per process, so every test that brings the
// device up runs its body in a child process of its own (a death test that
// must exit with 0). EXPECT and ASSERT work inside the body as usual; a
// child does not print its results, so its failures are written to stderr,
// which the parent shows when the child exits with 1.
// Runs in the child: the body, then its failures to stderr, then the exit code.
template <typename Body>
[[noreturn]] void runChildBody(Body& body) {
    ::testing::TestPartResultArray results;
    {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
        body();
    }
    bool failed = false;
    for (int i = 0; i < results.size(); ++i) {
        const ::testing::TestPartResult& r = results.GetTestPartResult(i);
        if (!r.failed()) continue;
        failed = true;
        std::fprintf(stderr, "%s:%d: %s\n", r.file_name() ? r.file_name() : "?", r.line_number(), r.message());
    }
    std::fflush(nullptr);
    // No static destructors: the driver's threads may still run.
    std::_Exit(failed ? 1 : 0);
}

template <typename Body>
void inChildProcess(Body body) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(runChildBody(body), ::testing::ExitedWithCode(0), "");
}

// A new empty folder for this process's files.
inline std::string scratchFolder() {
    std::string path = ::testing::TempDir() + "kvn_test_XXXXXX";
    if (!mkdtemp(path.data())) ADD_FAILURE() << "mkdtemp failed";
    return path;
}

// Whether a shared object whose path contains `name` is mapped into this process.
inline bool libraryLoaded(const std::string& name) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(name) != std::string::npos) return true;
    return false;
}

inline bool underValidationLayer() {
    const char* layers = std::getenv("VK_INSTANCE_LAYERS");
    return layers && std::string(layers).find("VK_LAYER_KHRONOS_validation") != std::string::npos;
}

// The table as before any bring-up: only the two context slots are filled.
inline void expectOnlyContextSlots() {
    const GpuOpsTable& ops = gpuOps();
    const auto* slots = reinterpret_cast<void* const*>(&ops);
    for (int i = 0; i < 33; ++i) {
        if (i != 20 && i != 21) {
            EXPECT_EQ(slots[i], nullptr) << "slot " << i;
        }
    }
    EXPECT_NE(ops.ctxSetCurrent, nullptr);
    EXPECT_NE(ops.ctxGetCurrent, nullptr);
    EXPECT_EQ(ops.timestamp_period, 1.0f);
}

}  // namespace kvn::test
