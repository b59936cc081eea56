#include <gtest/gtest.h>

#include <cstring>

#include "core/errors.h"
#include "korvane.h"

namespace kvn {
namespace {

TEST(StatusString, TextsForEveryCode) {
    const struct {
        uint32_t code;
        const char* text;
    } cases[] = {
        {0, "success"},
        {1, "invalid handle"},
        {2, "invalid argument"},
        {3, "output or temp buffer too small"},
        {4, "corrupt or unrecognized frame"},
        {5, "unsupported level or option"},
        {6, "underlying CUDA call failed"},
        {7, "out of memory"},
        {8, "device lost"},
        {9, "required Vulkan feature missing"},
        {10, "unknown status"},
        {UINT32_MAX, "unknown status"},
    };
    for (const auto& c : cases) EXPECT_STREQ(kvnStatusString(c.code), c.text) << c.code;
}

TEST(DefaultOpts, ZeroWholeRecordAndReturnPointer) {
    CompressOpts c;
    std::memset(&c, 0xAB, sizeof c);
    EXPECT_EQ(kvnCompressDefaultOpts(&c), &c);
    DecompressOpts d;
    std::memset(&d, 0xAB, sizeof d);
    EXPECT_EQ(kvnDecompressDefaultOpts(&d), &d);
    const CompressOpts zc{};
    const DecompressOpts zd{};
    EXPECT_EQ(std::memcmp(&c, &zc, sizeof c), 0);
    EXPECT_EQ(std::memcmp(&d, &zd, sizeof d), 0);
}

// Host decode, device decode (with fallback flag) and compress maps, one row per error.
TEST(ErrorMaps, ThreeColumns) {
    constexpr int F = 100;  // device map: fallback flag set, -6 stored
    const struct {
        Error error;
        int32_t host, device, compress;
    } rows[] = {
        {Error::OutOfMemory, -7, -7, -7},
        {Error::OutOfDeviceMemory, -7, -7, -7},
        {Error::Unexpected, -6, -6, -6},
        {Error::ThreadQuotaExceeded, -6, -6, -6},
        {Error::SystemResources, -6, -6, -6},
        {Error::LockedMemoryLimitExceeded, -6, -6, -6},
        {Error::BadFrame, -4, -4, -6},
        {Error::Truncated, -4, -4, -6},
        {Error::SizeMismatch, -4, -4, -6},
        {Error::InvalidBlockHeader, -4, -4, -6},
        {Error::InvalidInternalHeader, -4, -4, -6},
        {Error::BadChunkHeader, -4, -4, -6},
        {Error::BlockDataTruncated, -4, -4, -6},
        {Error::OutputTooSmall, -3, -3, -6},
        {Error::ChecksumMismatch, -4, -4, -6},
        {Error::ChunkSizeMismatch, -4, -4, -6},
        {Error::UnknownDictionary, -4, -4, -5},
        // An input too large for a 32-bit result is the caller's to change.
        {Error::ContentSizeTooLarge, -4, -4, -5},
        {Error::BackendNotAvailable, -6, F, -6},
        {Error::KernelLaunchFailed, -6, -6, -6},
        {Error::SyncFailed, -6, -6, -6},
        {Error::CopyFailed, -6, -6, -6},
        {Error::KernelMissing, -6, F, -6},
        {Error::BadMode, -5, F, -5},  // an option the encoder does not offer
        {Error::NotImplementedL2, -5, F, -6},
        {Error::NotYetPorted, -6, F, -6},
        {Error::BadMagic, -6, -6, -6},
        {Error::UnsupportedVersion, -6, -6, -6},
        {Error::BadCodec, -6, -6, -6},
        {Error::BadBlockSize, -6, -6, -5},
        {Error::BadScGroupSize, -6, -6, -5},
        {Error::BadContentSize, -6, -6, -6},
        {Error::CorruptSection, -6, -6, -6},
        {Error::Corrupt, -6, -6, -6},
        {Error::BadLevel, -6, -6, -5},
        {Error::DestinationTooSmall, -6, -6, -3},
        {Error::GpuPipelineFailed, -6, -6, -6},
        {Error::DictFull, -6, -6, -6},
        {Error::ShardOverflow, -6, -6, -6},
        {Error::AllocatorCreateFailed, -6, -6, -6},
        {Error::BufferTooSmall, -6, -6, -6},
        {Error::TooShort, -6, -6, -6},
        {Error::BadDecoderType, -6, -6, -6},
        {Error::BadChunkType, -6, -6, -6},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(errorName(r.error));
        EXPECT_EQ(statusFromError(r.error), r.host);
        uint8_t fallback = 0;
        int32_t device = deviceStatusFromError(r.error, &fallback);
        if (r.device == F) {
            EXPECT_EQ(device, -6);
            EXPECT_EQ(fallback, 1);
        } else {
            EXPECT_EQ(device, r.device);
            EXPECT_EQ(fallback, 0);
        }
        EXPECT_EQ(compressStatusFromError(r.error), r.compress);
    }
}

}  // namespace
}  // namespace kvn
