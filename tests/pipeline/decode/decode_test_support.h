// Shared pieces of the host-decode tests: frames built with the reference
// frame builder, and a decode through the exported call with guard bytes
// after the destination.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

#include "korvane.h"
#include "reference/frame_builder.h"
#include "vulkan/device/test_support.h"

namespace kvn::test {

inline constexpr uint8_t kGuard = 0xE5;
inline constexpr uint64_t kGuardBytes = 256;

struct Decoded {
    KvnStatus status;
    uint64_t size;
    std::vector<uint8_t> bytes;  // the first `size` bytes of the destination
    bool guard_intact;           // nothing written past the destination's capacity
};

inline std::vector<uint8_t> concat(std::initializer_list<std::span<const uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (std::span<const uint8_t> p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Decodes `src` with kvnDecompressHost into a destination of `cap` bytes.
inline Decoded decodeHost(void* handle, std::span<const uint8_t> src, uint64_t cap, bool timings = false) {
    std::vector<uint8_t> dst(cap + kGuardBytes, kGuard);
    DecompressOpts opts{};
    opts.record_timings = timings ? 1 : 0;
    uint64_t size = 0;
    const uint8_t empty = 0;
    const KvnStatus status =
        kvnDecompressHost(handle, src.empty() ? &empty : src.data(), src.size(), dst.data(), cap, &size, &opts);
    Decoded d{status, size, {}, true};
    for (uint64_t i = cap; i < dst.size(); ++i) d.guard_intact &= dst[i] == kGuard;
    d.bytes.assign(dst.begin(), dst.begin() + (status == KVN_STATUS_SUCCESS ? size : 0));
    return d;
}

// A frame of stored blocks holding `content`, split at `cuts`.
inline std::vector<uint8_t> storedFrame(std::span<const uint8_t> content, ref::FrameOptions options = {},
                                        std::vector<size_t> cuts = {}) {
    ref::FrameBuilder builder(options);
    size_t at = 0;
    cuts.push_back(content.size());
    for (size_t cut : cuts) {
        builder.storedBlock(content.subspan(at, cut - at));
        at = cut;
    }
    return builder.finish(content);
}

// Frame options with a Merkle root over chunks of fraction `sc`.
inline ref::FrameOptions withRoot(float sc, bool checksum) {
    ref::FrameOptions o;
    o.sc_group_size = sc;
    o.merkle_root = true;
    o.checksum = checksum;
    return o;
}

// A handle for the child's body; destroyed at its end.
class ChildHandle {
public:
    ChildHandle() { EXPECT_EQ(kvnCreate(&handle_), KVN_STATUS_SUCCESS); }
    ~ChildHandle() { kvnDestroy(handle_); }
    void* get() const { return handle_; }

private:
    void* handle_ = nullptr;
};

}  // namespace kvn::test
