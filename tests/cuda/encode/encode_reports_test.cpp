// The CUDA encoder's timing lines, census report, LZ output reports, phase
// times and floor notice: printed to standard error only when their
// variables are set (the phase times never), in their exact form, and the
// frames are the same bytes as without them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "pipeline/encode/phase_clock.h"
#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/cuda_writer.h"
#include "tests/support/child_process.h"

namespace kvn::test {
namespace {

struct ReportCase {
    std::string name;
    std::vector<const char*> variables;  // set to "1" before the second compress
    int level;
    std::vector<std::string> line_patterns;  // every stderr line matches one
    size_t lines;                            // how many lines
};

size_t countMatches(const std::string& text, const std::regex& line) {
    return size_t(std::distance(std::sregex_iterator(text.begin(), text.end(), line), std::sregex_iterator()));
}

const char* const kLzTimer1 = R"(lz-timer: h2d \d+\.\d\d launch\+sync \d+\.\d\d ms \(level 1\)\n)";
const char* const kLzTimer3 = R"(lz-timer: h2d \d+\.\d\d launch\+sync \d+\.\d\d ms \(level 3\)\n)";
const char* const kLzTimer4 = R"(lz-timer: h2d \d+\.\d\d launch\+sync \d+\.\d\d ms \(level 4\)\n)";
const char* const kHuffTimer =
    R"(huff-timer n=\d+ max_src=\d+: ensure \d+\.\d\d h2d\+sync \d+\.\d\d launch \d+\.\d\d ksync \d+\.\d\d d2h \d+\.\d\d ms\n)";
const char* const kCensus = R"(\[cl-census\] absent \(PTX built without -DKVN_CL_CENSUS\)\n)";

// 40,000 bytes at the default chunk size: one frame of one sub-chunk; at
// level 3 its literal, token and off16 streams are three Huffman batches.
TEST(CudaEncodeReports, OnRequestOnlyAndBytesUnchanged) {
    const std::vector<ReportCase> cases = {
        {"nothing asked, level 3", {}, 3, {}, 0},
        {"lz timer, level 1", {"KVN_LZ_TIMER"}, 1, {kLzTimer1}, 1},
        {"lz timer, level 4", {"KVN_LZ_TIMER"}, 4, {kLzTimer4}, 1},
        {"huffman timer, level 1 (no Huffman)", {"KVN_HUFF_TIMER"}, 1, {}, 0},
        {"huffman timer, level 3", {"KVN_HUFF_TIMER"}, 3, {kHuffTimer}, 3},
        {"census, level 3", {"KVN_CL_CENSUS"}, 3, {kCensus}, 3},
        {"all three, level 3", {"KVN_LZ_TIMER", "KVN_HUFF_TIMER", "KVN_CL_CENSUS"}, 3,
         {kLzTimer3, kHuffTimer, kCensus}, 7},
    };
    const Bytes text = repetitiveText(40000, 51);
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(c.name);
        inChildProcess([&] {
            const CudaFrames plain = cudaCompress(text, optionsAt(c.level));
            ASSERT_EQ(plain.status, KVN_STATUS_SUCCESS);
            for (const char* v : c.variables) setenv(v, "1", 1);
            testing::internal::CaptureStderr();
            const CudaFrames frames = cudaCompress(text, optionsAt(c.level));
            const std::string err = testing::internal::GetCapturedStderr();
            ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(frames.bytes == plain.bytes);
            size_t matched = 0;
            for (const std::string& p : c.line_patterns) matched += countMatches(err, std::regex(p));
            EXPECT_EQ(matched, c.lines) << err;
            EXPECT_EQ(size_t(std::count(err.begin(), err.end(), '\n')), c.lines) << err;
        });
    }
}

// The reports on a frame's LZ output: the minimum-distance audit under a
// floor of 16 finds no match nearer, and the stream statistics (levels 3 and
// up) print their totals; the frames are unchanged.
TEST(CudaEncodeReports, LzOutputReports) {
    struct OutputCase {
        std::string name;
        const char* variable;
        int level;
        std::string pattern;  // the whole of stderr; empty: nothing
    };
    const std::vector<OutputCase> cases = {
        {"min-dist audit, level 1", "KVN_MIN_DIST_AUDIT", 1,
         R"(min-dist-audit: floor=16 tokens=[1-9]\d* matches=[1-9]\d* lit_bytes=\d+ recent_reuse=\d+ off32=0 )"
         R"(min_seen=(1[6-9]|[2-9]\d|\d{3,}) violations=0 walk_errors=0\n)"},
        {"min-dist audit, level 4", "KVN_MIN_DIST_AUDIT", 4,
         R"(min-dist-audit: floor=16 tokens=[1-9]\d* matches=[1-9]\d* lit_bytes=\d+ recent_reuse=\d+ off32=0 )"
         R"(min_seen=(1[6-9]|[2-9]\d|\d{3,}) violations=0 walk_errors=0\n)"},
        {"sort stats, level 3", "KVN_SORT_STATS", 3,
         R"(sort-stats: lz_total=[1-9]\d* lits=\d+ toks=(\d+) off16=\d+ rest=\d+ tokens=\1\n)"},
        {"sort stats, level 2", "KVN_SORT_STATS", 2, ""},
    };
    const Bytes text = repetitiveText(40000, 52);
    for (const OutputCase& c : cases) {
        SCOPED_TRACE(c.name);
        inChildProcess([&] {
            setenv("KVN_MIN_DIST", "16", 1);
            const CudaFrames plain = cudaCompress(text, optionsAt(c.level));
            ASSERT_EQ(plain.status, KVN_STATUS_SUCCESS);
            setenv(c.variable, "1", 1);
            testing::internal::CaptureStderr();
            const CudaFrames frames = cudaCompress(text, optionsAt(c.level));
            const std::string err = testing::internal::GetCapturedStderr();
            ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(frames.bytes == plain.bytes);
            if (c.pattern.empty()) EXPECT_EQ(err, "");
            else EXPECT_TRUE(std::regex_match(err, std::regex(c.pattern))) << err;
        });
    }
}

// A floor the parse cannot keep (a dictionary frame) is noticed once per
// process, in this library's words.
TEST(CudaEncodeReports, IgnoredFloorNoticeOncePerProcess) {
    const Bytes text = repetitiveText(40000, 53);
    inChildProcess([&] {
        setenv("KVN_MIN_DIST", "16", 1);
        testing::internal::CaptureStderr();
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(cudaCompress(text, withDictionary(optionsAt(1), 1)).status, KVN_STATUS_SUCCESS);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "korvane: KVN_MIN_DIST ignored on this encode (dictionary or serial-chain path has no floor "
                  "gates)\n");
    });
}

// KVN_PROFILE_PHASES (read once per process) keeps the body encoder's phase
// times without printing anything.
TEST(CudaEncodeReports, PhaseTimesKeptSilentlyWhenAsked) {
    const Bytes text = repetitiveText(40000, 54);
    for (const bool asked : {false, true}) {
        SCOPED_TRACE(asked ? "asked" : "not asked");
        inChildProcess([&] {
            if (asked) setenv("KVN_PROFILE_PHASES", "1", 1);
            testing::internal::CaptureStderr();
            ASSERT_EQ(cudaCompress(text, optionsAt(3)).status, KVN_STATUS_SUCCESS);
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
            for (const EncodePhase p : {EncodePhase::Lz, EncodePhase::Huffman, EncodePhase::Assembly}) {
                if (asked) EXPECT_GT(encodePhaseTotal(p), 0u);
                else EXPECT_EQ(encodePhaseTotal(p), 0u);
            }
        });
    }
}

}  // namespace
}  // namespace kvn::test
