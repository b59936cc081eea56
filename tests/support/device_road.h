// A library's device-input decode as the device-road tests drive it: the
// input and a guarded destination in device memory of the library's own
// operations table, the library's decode call, and the decoded bytes read
// back with a check of the bytes past the capacity.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "korvane.h"
#include "pipeline/device/device_ops.h"

namespace kvn::test {

inline constexpr uint8_t kRoadGuard = 0xE5;
inline constexpr uint64_t kRoadGuardBytes = 256;

// What differs between the libraries: their handle and their call on device
// buffers, which returns the decoded size or a negated status.
struct RoadLibrary {
    void* (*createHandle)();
    void (*destroyHandle)(void* handle);
    int64_t (*decodeCall)(void* handle, uint64_t in, const std::vector<uint8_t>& src, uint64_t out, uint64_t cap,
                          const DecompressOpts& opts);
    // The timing label that marks the whole-input road, and whether its leap
    // walk runs as dispatches of its own (KVN_WALK_SERIAL turns it off).
    const char* whole_input_label = "kvnMegaWalkKernel";
    bool leap_dispatches = true;
    // Whether a decode batch's KVN_ALLOC_TRACE lines ("[dispatch-trace]")
    // show its windows, and whether the whole-input road decodes an input of
    // several frames in one launch, without batches of its own.
    bool traces_dispatch = false;
    bool whole_input_in_one_launch = false;
};

struct DeviceDecoded {
    KvnStatus status;
    uint64_t size;
    std::vector<uint8_t> bytes;  // the first `size` bytes of the destination
    bool guard_intact;           // nothing written past the destination's capacity
};

class DeviceRoad {
public:
    explicit DeviceRoad(const RoadLibrary& library) : library_(library), handle_(library.createHandle()) {
        EXPECT_NE(handle_, nullptr);
    }
    ~DeviceRoad() {
        for (uint64_t b : buffers_) gpuOps().memFree(b);
        library_.destroyHandle(handle_);
    }
    DeviceRoad(const DeviceRoad&) = delete;
    DeviceRoad& operator=(const DeviceRoad&) = delete;

    void* get() const { return handle_; }

    uint64_t upload(const std::vector<uint8_t>& bytes) {
        const uint64_t buf = alloc(bytes.size());
        if (!bytes.empty()) {
            EXPECT_EQ(gpuOps().memcpyHtoD(buf, bytes.data(), bytes.size()), Error::None);
        }
        return buf;
    }
    uint64_t guardedDestination(uint64_t cap) { return upload(std::vector<uint8_t>(cap + kRoadGuardBytes, kRoadGuard)); }
    DeviceDecoded read(uint64_t dst, uint64_t cap, int64_t result) {
        std::vector<uint8_t> all(cap + kRoadGuardBytes);
        EXPECT_EQ(gpuOps().memcpyDtoH(all.data(), dst, all.size()), Error::None);
        DeviceDecoded d{result >= 0 ? KvnStatus{KVN_STATUS_SUCCESS} : static_cast<KvnStatus>(-result), uint64_t(std::max<int64_t>(result, 0)),
                        {}, true};
        for (uint64_t i = cap; i < all.size(); ++i) d.guard_intact &= all[i] == kRoadGuard;
        if (result >= 0) d.bytes.assign(all.begin(), all.begin() + result);
        return d;
    }

    // The library's call from and to device buffers.
    DeviceDecoded decode(const std::vector<uint8_t>& src, uint64_t cap, bool timings = false) {
        const uint64_t in = upload(src);
        const uint64_t out = guardedDestination(cap);
        DecompressOpts opts{};
        opts.record_timings = timings ? 1 : 0;
        return read(out, cap, library_.decodeCall(handle_, in, src, out, cap, opts));
    }

    const RoadLibrary& library() const { return library_; }
    // Whether the last call took the whole-input road.
    bool wholeInput() const { return timed(library_.whole_input_label); }

    // Whether the last call's timings name `label`.
    bool timed(const char* label) const {
        TimingEntry entries[256];
        uint64_t n = 0;
        EXPECT_EQ(kvnGetLastTimings(handle_, entries, 256, &n), KVN_STATUS_SUCCESS);
        for (uint64_t i = 0; i < std::min<uint64_t>(n, 256); ++i)
            if (std::string(entries[i].label) == label) return true;
        return false;
    }

private:
    uint64_t alloc(uint64_t bytes) {
        uint64_t buf = 0;
        EXPECT_EQ(gpuOps().memAlloc(&buf, bytes ? bytes : 16), Error::None);
        buffers_.push_back(buf);
        return buf;
    }
    RoadLibrary library_;
    void* handle_ = nullptr;
    std::vector<uint64_t> buffers_;
};

}  // namespace kvn::test
