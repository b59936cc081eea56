// KVN_SORT_AUDIT on the sort-parse road (level 5, one sub-chunk per chunk):
// the pre-passes' workspace passes the audit on real data, batch by batch,
// and the frames are the ones written without it; a workspace the device
// got wrong (damaged by the stand-in after the candidate pass) fails the
// compress with a device failure and names what it found.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/cuda_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

// 40,000 bytes in chunks of 16,384: three sub-chunks of one chunk each.
constexpr size_t kBytes = 40000;
const CompressOpts kOpts = withChunkSize(optionsAt(5), 0.0625f);

// The sort pre-pass kernels' workspace argument and the parts of the first
// sub-chunk's region.
constexpr uint32_t kWorkspaceArgument = 4;
constexpr uint64_t kCandBytes = 0, kKeysBytes = 0x40000, kCand2Bytes = 0x100000;

template <typename T>
T* regionPart(const uint64_t* arguments, uint64_t offset) {
    return reinterpret_cast<T*>(arguments[kWorkspaceArgument] + offset);
}

void duplicateKey(const uint64_t* a, uint32_t) {
    uint64_t* keys = regionPart<uint64_t>(a, kKeysBytes);
    keys[1] = keys[0];
}
void nearCandidate(const uint64_t* a, uint32_t) { regionPart<uint32_t>(a, kCandBytes)[40] = 4u << 16 | 3; }
void longCandidate2(const uint64_t* a, uint32_t) { regionPart<uint32_t>(a, kCand2Bytes)[41] = 65u << 16 | 9; }

TEST(CudaSortAudit, PassesOnRealDataBatchByBatch) {
    struct PassCase {
        std::string name;
        const char* forced_batch;
        std::vector<std::pair<int, int>> batches;  // start, sub-chunks
    };
    const std::vector<PassCase> cases = {
        {"one batch", nullptr, {{0, 3}}},
        {"batches of two", "2", {{0, 2}, {2, 1}}},
    };
    const Bytes text = repetitiveText(kBytes, 61);
    for (const PassCase& c : cases) {
        SCOPED_TRACE(c.name);
        inChildProcess([&] {
            if (c.forced_batch) setenv("KVN_FORCE_BATCH", c.forced_batch, 1);
            const CudaFrames plain = cudaCompress(text, kOpts);
            ASSERT_EQ(plain.status, KVN_STATUS_SUCCESS);
            setenv("KVN_SORT_AUDIT", "1", 1);
            testing::internal::CaptureStderr();
            const CudaFrames frames = cudaCompress(text, kOpts);
            const std::string err = testing::internal::GetCapturedStderr();
            ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
            EXPECT_GE(lastLaunch("kvnLzEncodeSortParseKernel").count, 1u);
            EXPECT_TRUE(frames.bytes == plain.bytes);
            std::string expected;
            for (const auto& [start, n] : c.batches) {
                const std::string at = std::to_string(start), all = std::to_string(n) + "/" + std::to_string(n);
                expected += "sort-audit: batch@" + at + ": " + all + " chunks pass\n";
                for (const char* table : {"cand", "cand2"})
                    expected += std::string(table) + "-audit: batch@" + at + ": " + all +
                                R"( chunks pass, [1-9]\d*/\d+ positions carry a record\n)";
            }
            EXPECT_TRUE(std::regex_match(err, std::regex(expected))) << err;
        });
    }
}

TEST(CudaSortAudit, DamagedWorkspaceFailsTheCompress) {
    struct FailCase {
        std::string name;
        StandInKernelHook damage;
        std::string expected;  // the whole of stderr, a pattern
    };
    const char* const kCandPass = R"(cand-audit: batch@0: 3/3 chunks pass, \d+/40000 positions carry a record\n)";
    const std::vector<FailCase> cases = {
        {"a sorted position twice", duplicateKey,
         "sort-audit: chunk 0 FAIL \\(pos duplicated at sorted index 1\\)\n"
         "sort-audit: batch@0: 2/3 chunks pass\n"},
        {"a candidate nearer than 8", nearCandidate,
         "sort-audit: batch@0: 3/3 chunks pass\n"
         "cand-audit: chunk 0 FAIL \\(off out of range at pos 40\\)\n"
         R"(cand-audit: batch@0: 2/3 chunks pass, \d+/40000 positions carry a record\n)"
         R"(cand2-audit: batch@0: 3/3 chunks pass, \d+/40000 positions carry a record\n)"},
        {"a second candidate longer than 64", longCandidate2,
         std::string("sort-audit: batch@0: 3/3 chunks pass\n") + kCandPass +
             "cand2-audit: chunk 0 FAIL \\(len out of range at pos 41\\)\n"
             R"(cand2-audit: batch@0: 2/3 chunks pass, \d+/40000 positions carry a record\n)"},
    };
    const Bytes text = repetitiveText(kBytes, 62);
    for (const FailCase& c : cases) {
        SCOPED_TRACE(c.name);
        inChildProcess([&] {
            standIn().afterKernel("kvnLzSortDiscoverKernel", c.damage);
            setenv("KVN_SORT_AUDIT", "1", 1);
            testing::internal::CaptureStderr();
            const CudaFrames frames = cudaCompress(text, kOpts);
            const std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ(frames.status, KVN_STATUS_DEVICE_CALL_FAILED);
            EXPECT_EQ(lastLaunch("kvnLzEncodeSortParseKernel").count, 0u);
            EXPECT_TRUE(std::regex_match(err, std::regex(c.expected))) << err;
        });
    }
}

}  // namespace
}  // namespace kvn::test
