// Shared pieces of the device-layer tests.
#pragma once

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "kernels/embedded_modules.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/kernel_table.h"
#include "vulkan/device/vulkan_context.h"

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

// Before the bring-up: the test program's modules without `left_out`, so
// that those kernels are not built.
inline void useModulesWithout(std::initializer_list<std::string_view> left_out) {
    static std::vector<EmbeddedModule> modules;
    modules.clear();
    for (const EmbeddedModule& m : embeddedModules()) {
        bool keep = true;
        for (std::string_view name : left_out) keep = keep && name != m.name;
        if (keep) modules.push_back(m);
    }
    useKernelModules(modules);
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

// The operations table after bring-up; for bodies run by inChildProcess.
// A failed bring-up ends the child at once: its table is empty.
inline const GpuOpsTable& readyOps() {
    if (!ensureVulkanContext()) {
        std::fputs("bring-up failed\n", stderr);
        std::_Exit(1);
    }
    return gpuOps();
}

// `n` bytes of real text (a large system header, repeated as needed).
inline std::vector<uint8_t> realBytes(size_t n, size_t skip = 0) {
    std::ifstream file("/usr/include/vulkan/vulkan_core.h", std::ios::binary);
    std::vector<uint8_t> text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (text.empty()) ADD_FAILURE() << "no sample text";
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n && !text.empty(); ++i) bytes[i] = text[(skip + i) % text.size()];
    return bytes;
}

// Launches a kernel built from add_words.comp (dst[i] = src[i] + add for
// i < count; two bindings, then count and add as push constants), one
// workgroup per 32 words.
inline Error launchAddWords(KernelHandle kernel, uint64_t src, uint64_t dst, uint32_t count, uint32_t add,
                              StreamHandle stream, const uint64_t* offsets = nullptr) {
    uint32_t pad = 0;
    void* params[] = {&src, &dst, &count, &add, &pad};
    return gpuOps().launchKernel(kernel, (count + 31) / 32, 1, 1, 32, 1, 1, 0, stream, params, nullptr, offsets);
}

}  // namespace kvn::test
