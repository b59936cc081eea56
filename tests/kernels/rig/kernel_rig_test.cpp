// The rig itself: the same probe launches give the same bytes on the host
// runtime and on lavapipe (bindings at offsets, a device address, warp kernels
// of several warps per block).
#include <gtest/gtest.h>

#include <random>

#include "tests/kernels/rig/kernel_rig.h"

namespace kvn::test {
namespace {

std::vector<uint32_t> randomWords(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(n);
    for (uint32_t& x : v) x = rng();
    return v;
}

// Runs `body` on both backends and requires equal results.
template <class Body>
void expectSameOnBothBackends(Body body) {
    KernelRig host(KernelBackend::Host);
    KernelRig lavapipe(KernelBackend::Lavapipe);
    EXPECT_EQ(body(host), body(lavapipe));
}

TEST(KernelRig, BufferAtAnOffsetAndScalars) {
    for (uint32_t count : {1u, 257u, 5000u}) {
        expectSameOnBothBackends([&](KernelRig& rig) {
            std::vector<uint32_t> words = randomWords(count + 4, count);
            const uint32_t in = rig.bufferOf(words);
            const uint32_t out = rig.buffer(count * 4 + 16, 0xEE);
            const std::string fault = rig.launch("kvnProbeBlockScanKernel", {(count + 255) / 256},
                                                 {rigBuffer(in, 16), rigBuffer(out), rigU32(count), rigU32(0)});
            EXPECT_EQ(fault, "") << backendName(rig.backend());
            return rig.read(out);
        });
    }
}

TEST(KernelRig, WarpKernelWithTwoWarpsPerBlock) {
    expectSameOnBothBackends([](KernelRig& rig) {
        const uint32_t count = 64 * 5 + 7, blocks = 3;
        std::vector<uint32_t> values = randomWords(count, 9);
        const uint32_t tiles = (count + 31) / 32;
        const uint32_t in = rig.bufferOf(values);
        const uint32_t kept = rig.buffer(tiles * 32 * 4);
        const uint32_t counts = rig.buffer((tiles + 1) * 4);
        const uint32_t lanes = rig.buffer(count * 10 * 4);
        EXPECT_EQ(rig.launch("kvnProbeWarpCompactKernel", {blocks},
                             {rigBuffer(in), rigBuffer(kept), rigBuffer(counts), rigBuffer(lanes), rigU32(count),
                              rigU32(0x3)}),
                  "");
        std::vector<uint8_t> all = rig.read(kept);
        for (uint32_t id : {counts, lanes}) {
            const std::vector<uint8_t> more = rig.read(id);
            all.insert(all.end(), more.begin(), more.end());
        }
        return all;
    });
}

TEST(KernelRig, DeviceAddressArgument) {
    expectSameOnBothBackends([](KernelRig& rig) {
        const uint32_t count = 10000, bins = 7;
        const uint32_t in = rig.bufferOf(randomWords(count, 3));
        const uint32_t summary = rig.bufferOf(std::vector<uint32_t>{UINT32_MAX, 0, 0, 0, UINT32_MAX, 0, 0, 0, 0, 0});
        const uint32_t histogram = rig.buffer(bins * 4);
        EXPECT_EQ(rig.launch("kvnProbeAtomicAddressKernel", {(count + 127) / 128},
                             {rigBuffer(in), rigBuffer(summary), rigAddress(histogram), rigU32(count), rigU32(bins)}),
                  "");
        return rig.read(histogram);
    });
}

TEST(KernelRig, UnknownKernelIsAFault) {
    KernelRig rig(KernelBackend::Host);
    EXPECT_NE(rig.launch("kvnNoSuchKernel", {1}, {}), "");
}

}  // namespace
}  // namespace kvn::test
