// What the decode-kernel tests share: every test runs on both backends, with
// buffers guard-filled so that a write outside its range shows.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/kernels/rig/kernel_rig.h"

namespace kvn::test {

// A test suite parameterised by backend: GetParam() is the backend.
class DecodeKernelTest : public ::testing::TestWithParam<KernelBackend> {
protected:
    // Fill of every output buffer and of the guard bytes behind it.
    static constexpr uint8_t kGuard = 0xEE;
    static constexpr size_t kGuardTail = 256;

    KernelRig rig_{GetParam()};

    // An output buffer of `bytes` followed by guard bytes, all kGuard.
    uint32_t guarded(size_t bytes) { return rig_.buffer(bytes + kGuardTail, kGuard); }

    template <class T>
    std::vector<T> readWords(uint32_t id, size_t count) {
        std::vector<T> all = rig_.readAs<T>(id);
        all.resize(count);
        return all;
    }

    // The bytes of buffer id from `from` on still hold the guard fill.
    void expectGuardFrom(uint32_t id, size_t from) {
        const std::vector<uint8_t> bytes = rig_.read(id);
        for (size_t i = from; i < bytes.size(); ++i) {
            ASSERT_EQ(bytes[i], kGuard) << "write outside the range at byte " << i << " of " << bytes.size();
        }
    }

    void launch(const char* kernel, RigGrid grid, std::initializer_list<RigArg> args) {
        ASSERT_EQ(rig_.launch(kernel, grid, args), "") << kernel;
    }
};

template <class T>
std::vector<uint8_t> asBytes(const std::vector<T>& values) {
    std::vector<uint8_t> out(values.size() * sizeof(T));
    if (!out.empty()) std::memcpy(out.data(), values.data(), out.size());
    return out;
}

inline std::string backendLabel(const ::testing::TestParamInfo<KernelBackend>& info) {
    return backendName(info.param);
}

#define KVN_ON_BOTH_BACKENDS(suite)                                                                        \
    INSTANTIATE_TEST_SUITE_P(Backends, suite,                                                               \
                             ::testing::Values(::kvn::test::KernelBackend::Host,                            \
                                               ::kvn::test::KernelBackend::Lavapipe),                       \
                             ::kvn::test::backendLabel)

}  // namespace kvn::test
