// The CUDA library's decode diagnostics: the dump lines name the CUDA
// library, a failed device call prints no warning, KVN_ALLOC_TRACE traces the
// decoder's slot growth, and the Merkle leaf pass is one of the timed kernels.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "pipeline/decode/decode_batch.h"
#include "pipeline/device/backend_hooks.h"
#include "tests/cuda/decode/hand_frames.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/vulkan_writer.h"
#include "tests/reference/ref_decoder.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch_folder.h"

namespace kvn::test {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

Bytes writtenFrames(const Bytes& content, const CompressOpts& opts) {
    const VulkanFrames frames = vulkanCompress(content, opts);
    EXPECT_EQ(frames.status, KVN_STATUS_SUCCESS);
    return frames.bytes;
}

// The frame's stored Merkle root, as the dump lines print it.
std::string storedRoot(const Bytes& frame) {
    const size_t at = frame.size() - 4;
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x",
                  frame[at] | frame[at + 1] << 8 | frame[at + 2] << 16 | uint32_t(frame[at + 3]) << 24);
    return hex;
}

// Level 3 in 16 KiB chunks: several chunks of coded sub-chunks, each stage
// dump within its slot.
TEST(CudaDecodeDiagnostics, DumpLinesNameTheCudaLibrary) {
    inChildProcess([] {
        const Bytes content = repetitiveText(100000, 7);
        const Bytes frame = writtenFrames(content, withChunkSize(optionsAt(3), 0.0625f));
        const std::string folder = scratchFolder();
        const char* dumps[] = {"KVN_DUMP_CHUNK1", "KVN_DUMP_HUFF_DESCS", "KVN_DUMP_TOK1",
                               "KVN_DUMP_LIT1",   "KVN_DUMP_OFF16_1",    "KVN_DUMP_LUT5"};
        for (const char* variable : dumps) setenv(variable, (folder + "/" + variable).c_str(), 1);
        setenv("KVN_DUMP_MERKLE", "", 1);  // the device judged the frame: no CPU lines, no descriptor list
        CaptureStderr();
        const Decoded d = cudaDecompress(frame, content.size());
        const std::string lines = GetCapturedStderr();
        for (const char* variable : dumps) unsetenv(variable);
        unsetenv("KVN_DUMP_MERKLE");
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
        const std::string at = folder + "/";
        const std::regex expected("KVN_DUMP_CHUNK1\\[CUDA\\]: wrote [0-9]+ bytes to " + at + "KVN_DUMP_CHUNK1\n"
                                  "KVN_DUMP_HUFF_DESCS\\[CUDA\\]: wrote 200 bytes to " + at + "KVN_DUMP_HUFF_DESCS\n"
                                  "KVN_DUMP_TOK1\\[CUDA\\]: wrote 32768 bytes to " + at +
                                  "KVN_DUMP_TOK1 \\(tok_chunk1_addr=0x[0-9a-f]+\\)\n"
                                  "KVN_DUMP_LIT1\\[CUDA\\]: wrote 32768 bytes to " + at + "KVN_DUMP_LIT1\n"
                                  "KVN_DUMP_OFF16_1\\[CUDA\\]: wrote 32768 bytes to " + at + "KVN_DUMP_OFF16_1\n"
                                  "KVN_DUMP_LUT5\\[CUDA\\]: wrote 1024 bytes to " + at + "KVN_DUMP_LUT5\n");
        EXPECT_TRUE(std::regex_match(lines, expected)) << lines;

        // A dump that cannot be written says so.
        const std::string nowhere = folder + "/missing/chunk1";
        setenv("KVN_DUMP_CHUNK1", nowhere.c_str(), 1);
        CaptureStderr();
        EXPECT_EQ(cudaDecompress(frame, content.size()).status, KVN_STATUS_SUCCESS);
        EXPECT_EQ(GetCapturedStderr(), "KVN_DUMP_CHUNK1[CUDA]: dump to " + nowhere + " FAILED: CopyFailed\n");
        unsetenv("KVN_DUMP_CHUNK1");
    });
}

// Without the leaf kernel the frame's root is checked on the CPU.
TEST(CudaDecodeDiagnostics, MerkleLinesOfACpuCheckNameTheCudaLibrary) {
    inChildProcess([] {
        standIn().dropKernel("kvnSegHashKernel");
        const Bytes content = repetitiveText(70000, 9);
        const Bytes frame = writtenFrames(content, withChunkSize(optionsAt(1), 0.125f));  // three 32 KiB leaves
        const std::string path = scratchFolder() + "/merkle_input";
        setenv("KVN_DUMP_MERKLE_INPUT", path.c_str(), 1);
        setenv("KVN_DUMP_MERKLE", "", 1);
        setenv("KVN_VK_MERKLE_DEBUG", "", 1);  // not this library's
        CaptureStderr();
        const Decoded d = cudaDecompress(frame, content.size());
        const std::string lines = GetCapturedStderr();
        unsetenv("KVN_DUMP_MERKLE_INPUT");
        unsetenv("KVN_DUMP_MERKLE");
        unsetenv("KVN_VK_MERKLE_DEBUG");
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == content);
        const std::string root = storedRoot(frame);
        const std::string head = "MERKLE_INPUT[CUDA]: wrote 70000 bytes to " + path + " (verdict=0 expected=" + root +
                                 ")\n" + "MERKLE_INPUT[CUDA]: wrote 70000 bytes to " + path + " (eff=32768 expected=" +
                                 root + ")\n" + "MERKLE[CUDA] dst_off=70000 eff=32768 computed=" + root +
                                 " expected=" + root + "\n  CHUNK[0] len=32768 n_segs=32 hash=";
        EXPECT_EQ(lines.rfind(head, 0), 0u) << lines;
        EXPECT_NE(lines.find("  CHUNK[2] len=4464 n_segs=5 hash="), std::string::npos) << lines;
        EXPECT_EQ(lines.find("src_off="), std::string::npos) << "no descriptor list";
        EXPECT_EQ(lines.find("[A-033]"), std::string::npos);

        // Nor is KVN_SKIP_MERKLE: a root that does not match never passes.
        Bytes wrong = frame;
        wrong.back() ^= 0x40;
        setenv("KVN_SKIP_MERKLE", "", 1);
        EXPECT_EQ(cudaDecompress(wrong, content.size()).status, KVN_STATUS_CORRUPT_FRAME);
        unsetenv("KVN_SKIP_MERKLE");
    });
}

TEST(CudaDecodeDiagnostics, AFailedDeviceCallPrintsNoWarning) {
    CaptureStderr();
    EXPECT_EQ(checkCopy(Error::DeviceCallFailed), Error::CopyFailed);
    EXPECT_EQ(checkLaunch(Error::DeviceCallFailed), Error::KernelLaunchFailed);
    EXPECT_EQ(checkSync(Error::OutOfDeviceMemory), Error::OutOfDeviceMemory);
    EXPECT_EQ(GetCapturedStderr(), "");
}

// The leaf pass is timed where it runs. The pipelined raw kernel hashes the
// leaves of a frame of one chunk as it decodes: no pass runs. The device
// judges the frames whatever KVN_NO_DEVICE_MERKLE says: not this library's.
TEST(CudaDecodeDiagnostics, TheLeafPassIsTimed) {
    inChildProcess([] {
        setenv("KVN_NO_DEVICE_MERKLE", "", 1);
        struct Case {
            const char* name;
            uint64_t bytes;
            float chunk_size;
            bool no_pipeline;
            int passes;
        };
        const Case cases[] = {
            {"three leaves", 70000, 0.125f, false, 1},
            {"three leaves, warp kernels", 70000, 0.125f, true, 1},
            {"one leaf hashed by the decode", 60000, 0.25f, false, 0},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const Bytes content = repetitiveText(c.bytes, 11);
            const Bytes frame = writtenFrames(content, withChunkSize(optionsAt(1), c.chunk_size));
            if (c.no_pipeline) setenv("KVN_NO_PIPELINE", "1", 1);
            void* handle = nullptr;
            ASSERT_EQ(kvnCreate(&handle), KVN_STATUS_SUCCESS);
            Bytes dst(content.size());
            uint64_t size = 0;
            DecompressOpts opts{};
            opts.record_timings = 1;
            EXPECT_EQ(kvnDecompressHost(handle, frame.data(), frame.size(), dst.data(), dst.size(), &size, &opts),
                      KVN_STATUS_SUCCESS);
            EXPECT_TRUE(dst == content);
            TimingEntry entries[64];
            uint64_t count = 0;
            EXPECT_EQ(kvnGetLastTimings(handle, entries, 64, &count), KVN_STATUS_SUCCESS);
            int passes = 0;
            std::string labels;
            for (uint64_t i = 0; i < count && i < 64; ++i) {
                labels += std::string(entries[i].label) + "; ";
                if (std::string(entries[i].label) != "kvnSegHashKernel") continue;
                ++passes;
                EXPECT_GE(entries[i].milliseconds, 0.0f);
            }
            EXPECT_EQ(passes, c.passes) << labels;
            EXPECT_EQ(kvnGetLastVerdict(handle), KVN_STATUS_SUCCESS) << "the device judged the frame";
            kvnDestroy(handle);
            unsetenv("KVN_NO_PIPELINE");
        }
    });
}

// Every growth of the process is traced when the variable was set at its
// first growth, with the slot's host address and its new device address.
TEST(CudaAllocTrace, GrowthsAreTracedWhenAskedAtTheFirst) {
    inChildProcess([] {
        setenv("KVN_ALLOC_TRACE", "1", 1);
        const Bytes frame = fourHuffmanStreamsFrame(20, 3);
        CaptureStderr();
        EXPECT_EQ(cudaDecompress(frame, 20 * kHuffmanChunk).status, KVN_STATUS_SUCCESS);
        unsetenv("KVN_ALLOC_TRACE");
        EXPECT_EQ(cudaDecompress(frame, 20 * kHuffmanChunk).status, KVN_STATUS_SUCCESS);
        const std::string lines = GetCapturedStderr();
        const std::regex growth("\\[alloc-trace\\] slot@0x[0-9a-f]+ base=0x([0-9a-f]+) size=([0-9]+)\n");
        int growths = 0;
        for (auto it = std::sregex_iterator(lines.begin(), lines.end(), growth); it != std::sregex_iterator(); ++it) {
            ++growths;
            EXPECT_NE(std::stoull((*it)[1].str(), nullptr, 16), 0u);
            EXPECT_GT(std::stoull((*it)[2].str()), 0u);
        }
        EXPECT_GT(growths, 10) << lines;
        // Two handles grow the same slots: the second's, without the variable, too.
        EXPECT_EQ(growths % 2, 0) << lines;
    });
}

// A failed growth reads the variable each time and names the device's free
// and total memory; growths stay untraced when the first was.
TEST(CudaAllocTrace, AFailedGrowthNamesTheDeviceMemory) {
    inChildProcess([] {
        const Bytes frame = fourHuffmanStreamsFrame(300, 4);
        EXPECT_EQ(cudaDecompress(frame, 300 * kHuffmanChunk).status, KVN_STATUS_SUCCESS);
        setenv("KVN_ALLOC_TRACE", "1", 1);
        uint64_t free_bytes = 0, total = 0;
        ASSERT_EQ(gpuOps().memGetInfo(&free_bytes, &total), Error::None);
        const uint64_t limit = total - free_bytes + 0x100000;  // 1 MiB more than the device holds now
        standIn().setMemory(limit);
        CaptureStderr();
        EXPECT_EQ(cudaDecompress(frame, 300 * kHuffmanChunk).status, KVN_STATUS_OUT_OF_MEMORY);
        const std::string lines = GetCapturedStderr();
        unsetenv("KVN_ALLOC_TRACE");
        std::smatch refused;
        const std::regex failure("\\[alloc-trace\\] FAILED slot@0x[0-9a-f]+ size=([0-9]+) \\(free=([0-9]+) total=" +
                                 std::to_string(limit) + "\\)\n");
        ASSERT_TRUE(std::regex_search(lines, refused, failure)) << lines;
        EXPECT_GT(std::stoull(refused[1].str()), std::stoull(refused[2].str())) << "more than is free";
        EXPECT_EQ(lines.find("[alloc-trace] slot@"), std::string::npos) << lines;
    });
}

}  // namespace
}  // namespace kvn::test
