// The decode diagnostics: the warning lines of failed operations, the slot
// growth and its trace, KVN_FILL_DST's parser, and the Merkle and chunk dumps
// with their exact lines.
#include <gtest/gtest.h>
#include <xxhash.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "core/format/chunk_records.h"
#include "decode_test_support.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/decode_dumps.h"
#include "pipeline/decode/lz_dispatch.h"

namespace kvn::test {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;
using Bytes = std::vector<uint8_t>;

Bytes readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

TEST(DecodeDiagnostics, FailedOperationsWarnWithTheirResult) {
    struct Case {
        Error (*check)(Error);
        const char* kind;
        Error error;
    };
    for (const Case& c : {Case{checkCopy, "copy", Error::CopyFailed}, Case{checkLaunch, "launch", Error::KernelLaunchFailed},
                          Case{checkSync, "sync", Error::SyncFailed}}) {
        CaptureStderr();
        EXPECT_EQ(c.check(Error::None), Error::None);
        EXPECT_EQ(GetCapturedStderr(), "");
        // A failure without a cause of its own is named by its kind...
        CaptureStderr();
        EXPECT_EQ(c.check(Error::DeviceCallFailed), c.error);
        EXPECT_EQ(GetCapturedStderr(), std::string("warning: vkCall(") + c.kind + ") failed: DeviceCallFailed\n");
        // ...and one with a cause keeps it, so the caller's status says why.
        CaptureStderr();
        EXPECT_EQ(c.check(Error::OutOfDeviceMemory), Error::OutOfDeviceMemory);
        EXPECT_EQ(GetCapturedStderr(), std::string("warning: vkCall(") + c.kind + ") failed: OutOfDeviceMemory\n");
    }
}

TEST(DecodeDiagnostics, FillByteParser) {
    const std::pair<const char*, uint8_t> cases[] = {
        {"0x41", 0x41}, {"65", 65}, {"0b101", 5}, {"0o17", 15}, {"0XfF", 0xFF},
        {"zz", 0xAA},   {"256", 0xAA}, {"", 0xAA},  {"0x", 0xAA},  {"-1", 0xAA}, {"12a", 0xAA},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(fillByteFromText(text), value) << text;
}

// Device slots through a stand-in allocator.
struct FakeAllocator {
    static inline int allocations = 0;
    static inline int frees = 0;
    static inline bool refuse = false;
    static Error alloc(uint64_t* out, uint64_t) {
        ++allocations;
        if (refuse) return Error::OutOfDeviceMemory;
        *out = 40 + allocations;
        return Error::None;
    }
    static Error free(uint64_t) {
        ++frees;
        return Error::None;
    }
};

TEST(DecodeDiagnostics, SlotsGrowByReplacementAndTraceLargeRequests) {
    const GpuOpsTable saved = gpuOps();
    gpuOps().memAlloc = FakeAllocator::alloc;
    gpuOps().memFree = FakeAllocator::free;
    DeviceSlot slot{0, 0};
    EXPECT_EQ(ensureDeviceSlot(slot, 100), Error::None);
    EXPECT_EQ(slot.capacity, 100u);
    const DeviceBufferHandle first = slot.handle;
    EXPECT_EQ(ensureDeviceSlot(slot, 60), Error::None);
    EXPECT_EQ(slot.handle, first) << "large enough: reused";
    EXPECT_EQ(FakeAllocator::allocations, 1);

    setenv("KVN_VK_INIT_DEBUG", "", 1);
    CaptureStderr();
    EXPECT_EQ(ensureDeviceSlot(slot, 0x100000), Error::None);
    const std::string grown = GetCapturedStderr();
    EXPECT_EQ(grown.rfind("[vk-alloc] request 1048576 B (current total ", 0), 0u) << grown;
    EXPECT_EQ(FakeAllocator::frees, 1);

    FakeAllocator::refuse = true;
    CaptureStderr();
    EXPECT_EQ(ensureDeviceSlot(slot, 0x200000), Error::OutOfDeviceMemory);
    const std::string refused = GetCapturedStderr();
    EXPECT_NE(refused.find("[vk-alloc] FAILED: 2097152 B refused (running total "), std::string::npos) << refused;
    EXPECT_EQ(slot.handle, 0u);
    EXPECT_EQ(slot.capacity, 0u) << "a failed growth leaves the slot empty";
    unsetenv("KVN_VK_INIT_DEBUG");
    FakeAllocator::refuse = false;
    gpuOps() = saved;
}

TEST(DecodeDiagnostics, ChunkLinesAndTheSecondChunkDump) {
    const Bytes payload = realBytes(300);
    KvnChunkDesc descs[2] = {{6, 100, 65536, 0, 0, 0, {}}, {120, 50, 50, 65536, 1, 0, {}}};
    const std::string path = scratchFolder() + "/chunk1";
    setenv("KVN_DUMP_MERKLE", "", 1);
    setenv("KVN_DUMP_CHUNK1", path.c_str(), 1);
    CaptureStderr();
    dumpBlockChunks({descs, 1}, payload);
    EXPECT_EQ(GetCapturedStderr(), "CHUNK[0] src_off=6 comp_size=100 decomp_size=65536 dst_off=0 flags=0\n")
        << "one chunk: no chunk dump";
    CaptureStderr();
    dumpBlockChunks(descs, payload);
    EXPECT_EQ(GetCapturedStderr(), "CHUNK[0] src_off=6 comp_size=100 decomp_size=65536 dst_off=0 flags=0\n"
                                   "CHUNK[1] src_off=120 comp_size=50 decomp_size=50 dst_off=65536 flags=1\n"
                                   "KVN_DUMP_CHUNK1[VK]: wrote 50 bytes to " + path + "\n");
    EXPECT_TRUE(readFile(path) == Bytes(payload.begin() + 120, payload.begin() + 170));
    unsetenv("KVN_DUMP_MERKLE");
    unsetenv("KVN_DUMP_CHUNK1");
}

TEST(DecodeDiagnostics, SegmentHashAgainstTheReferenceXxh32) {
    const Bytes text = realBytes(2500);
    for (uint64_t len : {uint64_t{0}, uint64_t{1}, uint64_t{1024}, uint64_t{2500}}) {
        std::vector<uint32_t> segments;
        for (uint64_t at = 0; at < len; at += 1024) segments.push_back(XXH32(text.data() + at, std::min<uint64_t>(1024, len - at), 0));
        EXPECT_EQ(chunkSegmentHash(text.data(), len), XXH32(segments.data(), 4 * segments.size(), 0)) << len;
    }
}

// The Merkle dumps of a frame checked on the CPU: the input file twice with
// the same bytes, and the root, chunk and segment lines.
TEST(DecodeDiagnostics, MerkleDumpsOfACpuCheck) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(70000);
        ref::FrameOptions o;
        o.merkle_root = true;
        o.sc_group_size = 0.125f;  // 32768-byte chunks: three
        const Bytes frame = storedFrame(text, o);
        const uint32_t root = uint32_t(frame[frame.size() - 4]) | uint32_t(frame[frame.size() - 3]) << 8 |
                              uint32_t(frame[frame.size() - 2]) << 16 | uint32_t(frame[frame.size() - 1]) << 24;
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", root);
        const std::string path = scratchFolder() + "/merkle_input";
        setenv("KVN_DUMP_MERKLE_INPUT", path.c_str(), 1);
        setenv("KVN_DUMP_MERKLE", "", 1);
        CaptureStderr();
        const Decoded d = decodeHost(handle.get(), frame, 70064);
        const std::string lines = GetCapturedStderr();
        unsetenv("KVN_DUMP_MERKLE_INPUT");
        unsetenv("KVN_DUMP_MERKLE");
        ASSERT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(readFile(path) == text);

        std::string expected = "MERKLE_INPUT[VK]: wrote 70000 bytes to " + path + " (verdict=0 expected=" + hex + ")\n" +
                               "MERKLE_INPUT[VK]: wrote 70000 bytes to " + path + " (eff=32768 expected=" + hex + ")\n" +
                               "MERKLE[VK] dst_off=70000 eff=32768 computed=" + hex + " expected=" + hex + "\n";
        const uint64_t lens[] = {32768, 32768, 4464};
        for (int i = 0; i < 3; ++i) {
            const uint8_t* chunk = text.data() + 32768 * i;
            const uint64_t segs = (lens[i] + 1023) / 1024;
            char line[128];
            std::snprintf(line, sizeof line, "  CHUNK[%d] len=%llu n_segs=%llu hash=%08x\n", i,
                          (unsigned long long)lens[i], (unsigned long long)segs, chunkSegmentHash(chunk, lens[i]));
            expected += line;
            for (uint64_t j = 0; j < segs; ++j) {
                std::snprintf(line, sizeof line, "    seg[%llu] hash=%08x\n", (unsigned long long)j,
                              XXH32(chunk + 1024 * j, std::min<uint64_t>(1024, lens[i] - 1024 * j), 0));
                expected += line;
            }
        }
        EXPECT_EQ(lines, expected);

        setenv("KVN_VK_MERKLE_DEBUG", "", 1);
        CaptureStderr();
        EXPECT_EQ(decodeHost(handle.get(), frame, 70064).status, KVN_STATUS_SUCCESS);
        EXPECT_EQ(GetCapturedStderr(), std::string("[A-033] hdr.chunk_merkle=true device_verdict=0 expected=") + hex +
                                           "\n[A-033] D2H of d_merkle_hashes failed\n")
            << "no device leaves: nothing is read";
        unsetenv("KVN_VK_MERKLE_DEBUG");
    });
}

}  // namespace
}  // namespace kvn::test
