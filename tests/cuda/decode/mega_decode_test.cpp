// The CUDA library's decode of a whole multi-frame device input in one
// cooperative launch of kvnD2dMegaDecodeKernel, on the stand-in driver (the
// kernel's host build on fibers: inputs stay small). Frames come from the
// reference encoder. The launch gives the input's bytes, tiles give what one
// tile gives, and what the launch does not take (a refused frame, a header
// that understates its block, more tiles than its list holds) is a walk
// status before anything is written, after which the dispatches decide.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/handle/handle.h"
#include "cuda/decode/mega_decode.h"
#include "kernels/format_constants.h"
#include "tests/cuda/stand_in.h"
#include "tests/cuda/support/cuda_road.h"
#include "tests/support/child_process.h"
#include "tests/support/device_decode_suite.h"
#include "tests/support/scratch_folder.h"

namespace kvn::test {
namespace {

using namespace device_suite;

uint64_t megaLaunches() { return lastLaunch("kvnD2dMegaDecodeKernel").count; }

template <typename Body>
void onCudaRoad(Body body, const char* stderr_pattern = "") {
    inChildProcess(
        [&] {
            DeviceRoad road(kCudaRoad);
            body(road);
        },
        stderr_pattern);
}

Bytes hostDecode(void* handle, const Bytes& src, uint64_t cap) {
    Bytes out(cap);
    uint64_t size = 0;
    DecompressOpts opts{};
    EXPECT_EQ(kvnDecompressHost(handle, src.data(), src.size(), out.data(), cap, &size, &opts), KVN_STATUS_SUCCESS);
    out.resize(size);
    return out;
}

struct MegaCase {
    const char* name;
    std::function<Bytes()> content;
    std::vector<FrameSpec> frames;
};

// Chunks of 1 KiB, a chunk table and Merkle roots, dictionaries, stored
// chunks and checksums: each frame's own trailers are judged after the launch.
const MegaCase kMegaCases[] = {
    {"two_level3_frames", [] { return textOf(2 * 16384); }, std::vector<FrameSpec>(2, FrameSpec{.level = 3})},
    {"three_frames_checksums_merkle", [] { return textOf(3 * 8192); },
     std::vector<FrameSpec>(3, FrameSpec{.level = 3, .checksum = true, .merkle = true})},
    {"level4_small_chunks_table", [] { return textOf(2 * 20480); },
     std::vector<FrameSpec>(2, FrameSpec{.level = 4, .sc = 1.0f / 256, .merkle = true, .table = true})},
    {"dictionary", [] { return textOf(2 * 8192); }, std::vector<FrameSpec>(2, FrameSpec{.level = 3, .dict = 1})},
    {"stored_chunks", [] { return randomContent(2 * 8192); },
     std::vector<FrameSpec>(2, FrameSpec{.level = 3, .checksum = true})},
    {"records_level4", [] { return records(3 * 8192); }, std::vector<FrameSpec>(3, FrameSpec{.level = 4})},
};

TEST(CudaMegaDecode, OneLaunchGivesTheInputAndTheHostRoadsBytes) {
    onCudaRoad([](DeviceRoad& road) {
        for (const MegaCase& c : kMegaCases) {
            SCOPED_TRACE(c.name);
            const Bytes content = c.content();
            const Bytes src = framesOf(content, c.frames);
            const uint64_t before = megaLaunches();
            const DeviceDecoded d = road.decode(src, content.size(), true);
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.bytes == content);
            EXPECT_TRUE(d.guard_intact);
            EXPECT_EQ(megaLaunches(), before + 1);
            EXPECT_FALSE(road.timed("kvnMegaWalkKernel")) << "no dispatched walk";
            EXPECT_TRUE(hostDecode(road.get(), src, content.size()) == content);
        }
    });
}

// One launch where the dispatched road needs a walk, a scan, compactions,
// tables, streams and LZ launches; without the kernel (a module built
// without it) those dispatches give the same bytes.
TEST(CudaMegaDecode, WithoutTheKernelTheDispatchesDecode) {
    const Bytes content = textOf(3 * 16384);
    const Bytes src = framesOf(content, std::vector<FrameSpec>(3, FrameSpec{.level = 3}));
    for (bool dropped : {false, true}) {
        SCOPED_TRACE(dropped);
        inChildProcess([&] {
            if (dropped) standIn().dropKernel("kvnD2dMegaDecodeKernel");
            DeviceRoad road(kCudaRoad);
            const uint64_t launches = standInCounts().launches;
            const DeviceDecoded d = road.decode(src, content.size());
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.bytes == content);
            EXPECT_EQ(megaLaunches(), dropped ? 0u : 1u);
            if (!dropped) EXPECT_EQ(standInCounts().launches - launches, 1u) << "nothing but the one launch";
            if (dropped) EXPECT_GT(standInCounts().launches - launches, 4u);
        });
    }
}

// Eight sub-chunks: one tile by default, four of two slots each with
// KVN_MEGA_TILE_SLOTS=2; the profile tells which ran.
TEST(CudaMegaDecode, ManyTilesGiveWhatOneTileGives) {
    const Bytes content = textOf(8 * 65536);
    const Bytes src = framesOf(content, std::vector<FrameSpec>(2, FrameSpec{.level = 3}));
    onCudaRoad(
        [&](DeviceRoad& road) {
            setenv("KVN_MEGA_PROFILE", "", 1);
            const DeviceDecoded d = road.decode(src, content.size());
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.bytes == content);
        },
        R"(\[mega-phase\] 5 huff_build: [0-9]+ cycles)");
    onCudaRoad(
        [&](DeviceRoad& road) {
            setenv("KVN_MEGA_PROFILE", "", 1);
            setenv("KVN_MEGA_TILE_SLOTS", "2", 1);
            const DeviceDecoded d = road.decode(src, content.size());
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.bytes == content);
            EXPECT_TRUE(d.guard_intact);
        },
        R"(\[mega-phase\] 5-8 lump \(tiled\): [0-9]+ cycles.*\[mega-phase\] total: [0-9]+ cycles)");
}

// 512 chunks of 256 bytes in tiles of two slots: more tiles than the list
// holds. The launch refuses, says so, and the dispatches decode the input.
TEST(CudaMegaDecode, MoreTilesThanTheListHoldsLeaveTheInputToTheDispatches) {
    onCudaRoad(
        [](DeviceRoad& road) {
            setenv("KVN_MEGA_TILE_SLOTS", "2", 1);
            const Bytes content = textOf(2 * 65536);
            const Bytes src = framesOf(content, std::vector<FrameSpec>(2, FrameSpec{.level = 3, .sc = 1.0f / 1024}));
            const uint64_t before = megaLaunches();
            const DeviceDecoded d = road.decode(src, content.size(), true);
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(d.bytes == content);
            EXPECT_EQ(megaLaunches(), before + 1);
            EXPECT_TRUE(road.timed("kvnMegaWalkKernel") || road.timed("kvnMegaLeapKernel"));
        },
        R"(\[walk-status\] non-zero walk status: 18, frame_size=[0-9]+, decomp_size=131072)");
}

Bytes fileBytes(const std::string& path) {
    Bytes out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.insert(out.end(), buf, buf + n);
        std::fclose(f);
    }
    return out;
}

// Frames the leap walk takes: its warps' descriptors and first-sub-chunk
// indices (the KVN_WALK_DUMP file) equal those of KVN_WALK_SERIAL's walk.
TEST(CudaMegaDecode, LeapWalkGivesTheSerialWalksDescriptors) {
    const Bytes content = leapContent(2 * kLeapFrameBytes);
    const Bytes src = framesOf(content, std::vector<FrameSpec>(2, FrameSpec{.level = 3, .sc = kLeapChunk}));
    onCudaRoad(
        [&](DeviceRoad& road) {
            const std::string folder = scratchFolder();
            const std::string leap_path = folder + "/mega_leap_dump.bin";
            const std::string serial_path = folder + "/mega_serial_dump.bin";
            setenv("KVN_MEGA_PROFILE", "", 1);
            for (bool serial : {false, true}) {
                setenv("KVN_WALK_DUMP", (serial ? serial_path : leap_path).c_str(), 1);
                if (serial) setenv("KVN_WALK_SERIAL", "", 1);
                const DeviceDecoded d = road.decode(src, content.size());
                EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
                EXPECT_TRUE(d.bytes == content);
            }
            const Bytes leap = fileBytes(leap_path);
            EXPECT_EQ(leap.size(), sizeof(MegaMeta) + 28 * 512) << "256 chunks a frame";
            EXPECT_TRUE(leap == fileBytes(serial_path));
        },
        R"(\[mega-walk\] leap B scan=[0-9]+ C reconcile=[0-9]+ D emit=[0-9]+ cycles)");
}

// The kernel itself, through the host driver: the walk's statuses.
struct Launched {
    MegaDecode result;
    bool untouched;  // the destination and its guard hold what they held
    bool guard_intact;
    Bytes bytes;     // the decoded bytes
};

Launched launchMega(DeviceRoad& road, const Bytes& src, uint32_t cap) {
    const uint64_t in = road.upload(src);
    const uint64_t out = road.guardedDestination(cap);
    DecoderState& decoder = static_cast<KvnHandle*>(road.get())->decoder;
    Launched l{decodeMega(in, uint32_t(src.size()), out, &decoder, cap), true, true, {}};
    Bytes after(cap + kRoadGuardBytes);
    EXPECT_EQ(gpuOps().memcpyDtoH(after.data(), out, after.size()), Error::None);
    for (size_t i = 0; i < after.size(); ++i) {
        l.untouched &= after[i] == kRoadGuard;
        if (i >= cap) l.guard_intact &= after[i] == kRoadGuard;
    }
    l.bytes.assign(after.begin(), after.begin() + std::min<size_t>(cap, l.result.bytes));
    return l;
}

// Frames below level code 3 take the launch's stored-stream road (the
// device road sends them frame by frame).
TEST(CudaMegaDecode, StoredStreamRoadBelowLevelCode3) {
    onCudaRoad([](DeviceRoad& road) {
        const Bytes content = textOf(3 * 8192);
        for (int level : {1, 2}) {
            SCOPED_TRACE(level);
            const Bytes src = framesOf(content, std::vector<FrameSpec>(3, FrameSpec{.level = level, .sc = 1.0f / 64}));
            const Launched l = launchMega(road, src, uint32_t(content.size()));
            EXPECT_EQ(l.result.error, Error::None);
            EXPECT_TRUE(l.bytes == content);
            EXPECT_TRUE(l.guard_intact);
        }
    });
}

Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

struct RefusedCase {
    const char* name;
    FrameSpec later;
    std::function<Bytes()> content;
};

// A later frame the launch cannot give with the first: its bytes would need
// an inverse transform, another dictionary or the other road.
const RefusedCase kRefusedCases[] = {
    {"byte_planes", {.level = 3, .stride = 4}, [] { return records(8192); }},
    {"word_transform", {.level = 3, .wrt = true}, [] { return textOf(70000); }},
    {"a_dictionary", {.level = 3, .dict = 1}, [] { return textOf(8192); }},
    {"level_1", {.level = 1}, [] { return textOf(8192); }},
};

TEST(CudaMegaDecode, LaterFramesItCannotShareAreRefusedBeforeAnyWrite) {
    onCudaRoad([](DeviceRoad& road) {
        const Bytes first_content = textOf(8192);
        const Bytes first = framesOf(first_content, {{.level = 3}});
        for (const RefusedCase& c : kRefusedCases) {
            SCOPED_TRACE(c.name);
            const Bytes content = c.content();
            const Launched l = launchMega(road, concat(first, framesOf(content, {c.later})), 0x20000);
            EXPECT_EQ(l.result.error, Error::BadMode);
            EXPECT_EQ(l.result.meta.status, KVN_WALK_MEGA_REFUSED);
            EXPECT_TRUE(l.untouched);
        }
    });
}

// A header whose content size understates its block: the walk stops at the
// capacity instead of decoding past it, and the dispatches fail the input.
TEST(CudaMegaDecode, BlocksBeyondTheCapacityAreNeverWritten) {
    onCudaRoad([](DeviceRoad& road) {
        const Bytes content = textOf(2 * 16384);
        const Bytes src = framesOf(content, std::vector<FrameSpec>(2, FrameSpec{.level = 3}));
        const Launched l = launchMega(road, src, uint32_t(content.size() - 16));
        EXPECT_EQ(l.result.meta.status, KVN_WALK_TOO_LARGE);
        EXPECT_TRUE(l.untouched);
        Bytes lying = src;
        const FrameHeader first = parseFrameHeader(src.data(), src.size());
        ASSERT_EQ(first.error, Error::None);
        ASSERT_TRUE(first.has_content_size);
        // The first frame claims 16 bytes fewer than its block holds.
        storeLe64(lying.data() + kFrameFixedHeaderSize, first.content_size - 16);
        const DeviceDecoded d = road.decode(lying, content.size() - 16);
        EXPECT_NE(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.guard_intact);
    });
}

// A sub-chunk header whose valid bit is clear leaves its chunk unwritten:
// the call fails within the capacity rather than return the stale bytes.
TEST(CudaMegaDecode, DamagedSubChunkFailsWithinTheCapacity) {
    onCudaRoad([](DeviceRoad& road) {
        const Bytes content = textOf(2 * 16384);
        Bytes src = framesOf(content, std::vector<FrameSpec>(2, FrameSpec{.level = 3}));
        const FrameHeader first = parseFrameHeader(src.data(), src.size());
        ASSERT_EQ(first.error, Error::None);
        // Block header, chunk header, size header, then the first sub-chunk header.
        const size_t at = first.header_length + 8 + KVN_CHUNK_HDR_BYTES + KVN_SIZE_HDR_BYTES;
        ASSERT_NE(src[at] & 0x80, 0) << "a coded chunk's first sub-chunk header";
        src[at] &= 0x7F;
        const uint64_t before = megaLaunches();
        const DeviceDecoded d = road.decode(src, content.size());
        EXPECT_EQ(d.status, KVN_STATUS_CORRUPT_FRAME);
        EXPECT_TRUE(d.guard_intact);
        EXPECT_EQ(megaLaunches(), before + 1);
    });
}

// A single frame goes through the frame loop; its walk's status is said
// unasked, with the frame's size and the bytes it announces.
TEST(CudaMegaDecode, FrameLoopWalkStatusIsSaid) {
    const Bytes content = textOf(16384);
    Bytes src = framesOf(content, {FrameSpec{.level = 1}});
    const FrameHeader header = parseFrameHeader(src.data(), src.size());
    ASSERT_EQ(header.error, Error::None);
    src[header.header_length + 8] ^= 0x0F;  // the first chunk header's magic
    const std::string line = "\\[walk-status\\] non-zero walk status: [0-9]+, frame_size=" +
                             std::to_string(src.size()) + ", decomp_size=" + std::to_string(content.size());
    onCudaRoad(
        [&](DeviceRoad& road) {
            const DeviceDecoded d = road.decode(src, content.size());
            EXPECT_EQ(d.status, KVN_STATUS_CORRUPT_FRAME);
            EXPECT_TRUE(d.guard_intact);
        },
        line.c_str());
}

// KVN_WALK_DUMP: MegaMeta, the descriptors, the first-sub-chunk indices;
// KVN_MEGA_DEBUG and KVN_MEGA_HOST_PROFILE print their lines.
TEST(CudaMegaDecode, DiagnosticsLinesAndTheWalkDump) {
    const std::string path = scratchFolder() + "/mega_walk_dump.bin";
    onCudaRoad(
        [&](DeviceRoad& road) {
            setenv("KVN_MEGA_DEBUG", "", 1);
            setenv("KVN_MEGA_HOST_PROFILE", "", 1);
            setenv("KVN_WALK_DUMP", path.c_str(), 1);
            const Bytes content = textOf(3 * 8192);
            const Bytes src = framesOf(content, std::vector<FrameSpec>(3, FrameSpec{.level = 3, .sc = 1.0f / 64}));
            ASSERT_EQ(road.decode(src, content.size()).status, KVN_STATUS_SUCCESS);
            FILE* f = std::fopen(path.c_str(), "rb");
            ASSERT_NE(f, nullptr);
            Bytes dump(1 << 16);
            dump.resize(std::fread(dump.data(), 1, dump.size(), f));
            std::fclose(f);
            ASSERT_GE(dump.size(), sizeof(MegaMeta));
            MegaMeta meta{};
            std::memcpy(&meta, dump.data(), sizeof meta);
            EXPECT_EQ(meta.status, 0u);
            EXPECT_EQ(meta.count, 6u) << "two 4 KiB chunks per frame";
            EXPECT_EQ(meta.decoded, content.size());
            EXPECT_EQ(meta.subchunk_size, KVN_SUBCHUNK_SIZE);
            ASSERT_EQ(dump.size(), sizeof meta + 28 * meta.count);
            for (uint32_t i = 0; i < meta.count; ++i) {
                const uint32_t flags = loadLe32(dump.data() + sizeof meta + 24 * i + 4 * KVN_CHUNK_DESC_W_FLAGS);
                EXPECT_EQ((flags & KVN_CHUNK_FLAG_FRAME_FIRST) != 0, i % 2 == 0) << i;
                EXPECT_EQ(loadLe32(dump.data() + sizeof meta + 24 * meta.count + 4 * i), i) << "one sub-chunk each";
            }
        },
        R"(\[mega-launch\] launched grid=[0-9]+ sync ok, reading meta.*\[mega-host\] workspace=[0-9.]+us memsets=[0-9.]+us prealloc=[0-9.]+us launch=[0-9.]+us sync=[0-9.]+us d2h=[0-9.]+us free=[0-9.]+us TOTAL=[0-9.]+us)");
    std::remove(path.c_str());
}

// A walk fault with KVN_MEGA_DEBUG: the status line, then the dispatches.
TEST(CudaMegaDecode, WalkFaultPrintsItsStatusLine) {
    onCudaRoad(
        [](DeviceRoad& road) {
            setenv("KVN_MEGA_DEBUG", "", 1);
            setenv("KVN_MEGA_TILE_SLOTS", "2", 1);
            const Bytes content = textOf(2 * 65536);
            const Bytes src = framesOf(content, std::vector<FrameSpec>(2, FrameSpec{.level = 3, .sc = 1.0f / 1024}));
            EXPECT_EQ(road.decode(src, content.size()).status, KVN_STATUS_SUCCESS);
        },
        R"(\[mega-walk\] status=18 n_chunks=512 decomp=131072 block_start=30 block_size=[0-9]+ total_sub=512)");
}

}  // namespace
}  // namespace kvn::test
