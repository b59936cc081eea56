// Level 5 through the library on lavapipe: frames restored by the reference
// decoder and the library's own, with a dictionary and at both chunk
// fractions; the distance floor of a frame; batches of forced size.
#include <cstdlib>

#include "core/format/compress_bound.h"

#include "core/dict/builtin_dictionary.h"
#include "core/encode/level_table.h"
#include "core/encode/min_distance_floor.h"
#include "encode_test_support.h"
#include "pipeline/device/backend_hooks.h"
#include "reference/reference_codec.h"
#include "support/child_process.h"
#include "vulkan/device/device_buffers.h"

namespace kvn::test {
namespace {

using Level5Test = EncodeTest;

struct Case {
    const char* what;
    Bytes input;
    float fraction = 0.0f;  // 0: the default
    bool dictionary = false;
};

std::vector<Case> cases() {
    const Bytes text = realFile("/usr/include/stdio.h", 300000);
    const Bytes header = realFile("/usr/include/vulkan/vulkan_core.h", 270000);
    Bytes distinct(4096);
    for (size_t i = 0; i < distinct.size(); ++i) distinct[i] = static_cast<uint8_t>((i * 167) ^ (i >> 8));
    return {
        {"1 byte", {42}},
        {"129 bytes of 'A'", repeated(129, 'A')},
        {"129 bytes of text", Bytes(text.begin(), text.begin() + 129)},
        {"all distinct", distinct},
        {"all the same", repeated(200000, 0), 1.0f},
        {"random", randomBytes(150000, 7)},
        {"text, fraction 0.25", text},
        {"header, fraction 1.0", header, 1.0f},
        {"dictionary", Bytes(text.begin(), text.begin() + 20000), 0.0f, true},
        {"dictionary, fraction 1.0", Bytes(text.begin(), text.begin() + 150000), 1.0f, true},
    };
}

CompressOpts level5(const Case& c) {
    CompressOpts opts = withTrailers(5);
    opts.sc_group_size = c.fraction;
    opts.dict_id = c.dictionary ? 1 : 0;
    return opts;
}

TEST_F(Level5Test, FramesRoundTripThroughBothDecoders) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.what);
        const CompressOpts opts = level5(c);
        const Bytes frame = compressOk(c.input, opts);
        ASSERT_GT(frame.size(), 7u);
        EXPECT_EQ(frame[7], levelParams(5).frame_code);
        expectDecodersRestore(handle_, frame, c.input, opts);
    }
}

// The chain parse with lazy matching finds at least what level 3's greedy
// parse finds on text and source.
TEST_F(Level5Test, TextFramesAreNoLargerThanLevel3s) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    for (const char* path : {"/usr/include/stdio.h", "/usr/include/vulkan/vulkan_core.h"}) {
        SCOPED_TRACE(path);
        const Bytes input = realFile(path, 400000);
        CompressOpts opts{};
        opts.level = 3;
        const size_t level3 = compressOk(input, opts).size();
        opts.level = 5;
        const Bytes frame = compressOk(input, opts);
        EXPECT_LT(frame.size(), level3);
        expectLibraryRestores(handle_, frame, input);
    }
}

// ---- the distance floor ---------------------------------------------------

TEST(MinDistanceFloor, OptionEnvironmentCapAndGatelessParses) {
    struct FloorCase {
        const char* what;
        uint32_t requested;
        const char* env;  // KVN_MIN_DIST, null: unset
        bool gateless;
        uint32_t floor;
    };
    const FloorCase floors[] = {
        {"nothing asked", 0, nullptr, false, 8},
        {"the option", 300, nullptr, false, 300},
        {"the option over the variable", 300, "500", false, 300},
        {"the variable when the option asks for 8 or less", 8, "500", false, 500},
        {"the variable at 8 has no effect", 0, "8", false, 8},
        {"the variable below 8 is ignored", 0, "5", false, 8},
        {"the variable not a number is ignored", 0, "abc", false, 8},
        {"the variable capped at 0xFFFF", 0, "70000", false, 0xFFFF},
        {"the option capped at 0xFFFF", 100000, nullptr, false, 0xFFFF},
        {"a dictionary or the chain parse: 8", 300, nullptr, true, 8},
        {"a dictionary or the chain parse: 8 for the variable too", 0, "500", true, 8},
    };
    for (const FloorCase& c : floors) {
        ScopedEnv env("KVN_MIN_DIST", c.env);
        EXPECT_EQ(minDistanceFloor(c.requested, c.gateless, minDistIgnoredNotice()), c.floor) << c.what;
    }
}

TEST(MinDistanceFloor, IgnoredFloorNoticeIsPrintedOncePerProcess) {
    inChildProcess(
        [] {
            EXPECT_EQ(minDistanceFloor(8, true, minDistIgnoredNotice()), 8u);  // nothing asked: no notice
            for (int i = 0; i < 3; ++i) EXPECT_EQ(minDistanceFloor(300, true, minDistIgnoredNotice()), 8u);
        },
        "^warning: korvane_vk: min-dist floor ignored on this encode \\(dictionary or serial-chain path has no floor "
        "gates\\)\n$");
}

// The reference encoder's frame at level 4 with a floor: the floor reaches
// the parse, whether from the option or from KVN_MIN_DIST.
Bytes referenceFrameWithFloor(const Bytes& input, uint32_t floor) {
    ref::EncodeOptions enc = ref::encodeOptionsForLevel(4, 0.25f);
    enc.lz.min_distance = floor;
    ref::FrameOptions fo;
    fo.level_code = levelParams(4).frame_code;
    fo.checksum = true;
    fo.merkle_root = true;
    fo.chunk_table = true;
    return ref::compressFrame(input, enc, fo);
}

TEST_F(Level5Test, FloorReachesTheGreedyParseAndLevel5KeepsDistance8) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes input = realFile("/usr/include/stdio.h", 100000);
    CompressOpts opts = withTrailers(4);
    opts.min_match_distance = 300;
    EXPECT_TRUE(compressOk(input, opts) == referenceFrameWithFloor(input, 300)) << "the option";
    {
        ScopedEnv env("KVN_MIN_DIST", "1000");
        EXPECT_TRUE(compressOk(input, withTrailers(4)) == referenceFrameWithFloor(input, 1000)) << "the variable";
        // Level 5's chain parse has no floor: its frame still round-trips.
        const Bytes frame = compressOk(input, withTrailers(5));
        expectDecodersRestore(handle_, frame, input, withTrailers(5));
    }
}

// ---- batches ----------------------------------------------------------------

// KVN_VK_FORCE_BATCH is read once per process: a child sets it first. One
// sub-chunk per launch gives level 4 the reference frame at quarter chunks,
// and frames both decoders restore at both levels and fractions (whole
// chunks have two sub-chunks; a batch of 1 is not rounded up to them, so
// each sub-chunk is parsed on its own).
TEST_F(Level5Test, ForcedBatchesOfOneSubChunk) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    inChildProcess([this] {
        ::setenv("KVN_VK_FORCE_BATCH", "1", 1);
        const Bytes input = realFile("/usr/include/vulkan/vulkan_core.h", 300000);
        for (float fraction : {0.25f, 1.0f}) {
            SCOPED_TRACE(fraction);
            CompressOpts opts = withTrailers(4);
            opts.sc_group_size = fraction;
            const Bytes frame4 = compressOk(input, opts);
            if (fraction < 1.0f) EXPECT_TRUE(frame4 == referenceFrame(input, opts)) << "level 4 is the reference frame";
            expectDecodersRestore(handle_, frame4, input, opts);
            opts.level = 5;
            expectDecodersRestore(handle_, compressOk(input, opts), input, opts);
        }
    });
}

// Level 5 gives every sub-chunk of a launch a workspace of its own; when the
// device refuses them all at once, the batch is halved and the frame is the
// same (quarter chunks parse each sub-chunk alone). Refusing each of a fresh
// handle's first allocations in turn: exactly one refusal (the workspaces')
// still gives the frame while the allocation after it cannot be refused
// without failing the call. Refusals elsewhere fail the call or leave a
// stage out (another frame, which must still decode).
TEST_F(Level5Test, RefusedWorkspacesHalveTheBatch) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes input = realFile("/usr/include/stdio.h", 5 * 65536);
    CompressOpts opts{};
    opts.level = 5;
    const Bytes frame = compressOk(input, opts);
    constexpr int kAllocations = 16;
    bool same[kAllocations] = {};
    bool failed[kAllocations] = {};
    for (int after = 0; after < kAllocations; ++after) {
        void* handle = nullptr;
        ASSERT_EQ(kvnCreate(&handle), KVN_STATUS_SUCCESS);
        Bytes out(compressBound(input.size()));
        uint64_t size = 0;
        injectDeviceAllocFailure(after);
        const KvnStatus status =
            kvnCompressHost(handle, input.data(), input.size(), out.data(), out.size(), &size, &opts);
        injectDeviceAllocFailure(-1);
        failed[after] = status != KVN_STATUS_SUCCESS;
        if (failed[after]) {
            EXPECT_EQ(status, KVN_STATUS_OUT_OF_MEMORY) << "allocation " << after;
        } else {
            out.resize(size);
            same[after] = out == frame;
            if (!same[after]) expectLibraryRestores(handle, out, input);
        }
        EXPECT_EQ(kvnDestroy(handle), KVN_STATUS_SUCCESS);
    }
    // Refusals past the call's last allocation change nothing either; a
    // survived one is followed by refusals that did.
    int survived = 0;
    bool changed_later = false;
    for (int after = kAllocations - 1; after >= 0; --after) {
        survived += same[after] && changed_later;
        changed_later = changed_later || !same[after];
    }
    EXPECT_EQ(survived, 1);
}

}  // namespace
}  // namespace kvn::test
