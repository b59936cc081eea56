// The size checks of one frame against its header fields and the device's
// bindings, at and around each limit.
#include <gtest/gtest.h>

#include <vector>

#include "core/encode/body_layout.h"
#include "core/encode/chunk_descriptors.h"
#include "core/encode/frame_header_writer.h"
#include "core/encode/frame_limits.h"

namespace kvn {
namespace {

constexpr uint64_t kLengthField = (uint64_t{1} << 30) - 1;  // bits 0 to 29 of the block header

TEST(FrameLimits, BlockLengthFitsItsThirtyBitField) {
    const struct {
        uint64_t payload;
        bool fits;
    } cases[] = {{0, true},
                 {kLengthField - 1, true},
                 {kLengthField, true},
                 {kLengthField + 1, false},
                 {uint64_t{1} << 31, false},
                 {(uint64_t{1} << 32) + 5, false}};
    for (const auto& c : cases) EXPECT_EQ(blockLengthFits(c.payload), c.fits) << c.payload;
}

// A stored block as long as the field can say is written; one byte more
// would set the skip flag, and is refused before a byte is touched.
TEST(FrameLimits, StoredBlockLengthIsCheckedBeforeWriting) {
    uint8_t dst[16] = {};
    const struct {
        uint64_t len;
        Error error;
    } cases[] = {{kLengthField, Error::DestinationTooSmall},
                 {kLengthField + 1, Error::ContentSizeTooLarge},
                 {uint64_t{1} << 31, Error::ContentSizeTooLarge}};
    for (const auto& c : cases)
        EXPECT_EQ(writeStoredBody(dst, sizeof dst, 0, nullptr, c.len).error, c.error) << c.len;
}

// Raw chunks of an incompressible input near 1 GiB: the payload is the
// input, 2 header bytes per chunk and 8 prefix bytes per later chunk.
TEST(FrameLimits, LaidOutBlockPayloadMustFitTheLengthField) {
    const uint64_t at_limit = kLengthField - (2 * 4096 + 8 * 4095);
    const struct {
        uint64_t len;
        Error error;
    } cases[] = {{at_limit - 1, Error::None}, {at_limit, Error::None}, {at_limit + 1, Error::ContentSizeTooLarge}};
    for (const auto& c : cases) {
        const FrameGeometry g = frameGeometry(c.len, 1.0f);
        ASSERT_EQ(g.chunks, 4096u);
        const std::vector<CompressChunkDesc> descs = buildChunkDescriptors(g, c.len);
        const std::vector<uint32_t> zeros(descs.size(), 0);  // no LZ output: every chunk raw
        BodyLayout layout;
        EXPECT_EQ(layoutBody(descs, zeros, zeros, zeros, g.chunk, c.len, 22, &layout), c.error) << c.len;
        if (c.error == Error::None) {
            EXPECT_EQ(layout.block_payload, c.len + 2 * 4096 + 8 * 4095);
        }
    }
}

// Before any device work: the largest binding (the LZ slots, three bytes per
// input byte in whole sub-chunks) against the device's range, and the most a
// compressed block can hold against the length field.
TEST(FrameLimits, CompressedFrameFitsTheDeviceAndTheHeader) {
    const uint64_t lavapipe_range = uint64_t{128} << 20;
    const uint64_t slots_fit = 682 * 65536;  // 682 slots of 192 KiB: just under 128 MiB
    const uint64_t payload_fits = kLengthField - (6 * 4096 + 8 * 4095);
    const struct {
        uint64_t len;
        float fraction;
        uint64_t max_binding;
        Error error;
    } cases[] = {
        {slots_fit, 0.25f, lavapipe_range, Error::None},
        {slots_fit + 1, 0.25f, lavapipe_range, Error::ContentSizeTooLarge},
        {uint64_t{43} << 20, 0.25f, lavapipe_range, Error::ContentSizeTooLarge},
        {payload_fits, 1.0f, UINT64_MAX, Error::None},
        {payload_fits + 1, 1.0f, UINT64_MAX, Error::ContentSizeTooLarge},
        // LZ slots past 4 GiB would wrap their 32-bit offsets.
        {uint64_t{3} << 30, 1.0f, UINT64_MAX, Error::ContentSizeTooLarge},
    };
    for (const auto& c : cases) {
        const FrameGeometry g = frameGeometry(c.len, c.fraction);
        EXPECT_EQ(checkCompressedFrameFits(g, c.len, c.max_binding), c.error) << c.len;
    }
    EXPECT_EQ(lzOutputBytes(frameGeometry(slots_fit, 0.25f)), 682u * 3 * 65536);
    EXPECT_EQ(lzOutputBytes(frameGeometry(slots_fit + 1, 0.25f)), 683u * 3 * 65536);
    EXPECT_GT(lzOutputBytes(frameGeometry(uint64_t{3} << 30, 1.0f)), uint64_t{1} << 32);
}

}  // namespace
}  // namespace kvn
