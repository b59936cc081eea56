// The byte-plane inverse on its own, and byte-plane frames decoded end to
// end with trailers over the element-major bytes.
#include <gtest/gtest.h>

#include <numeric>

#include "core/format/frame_header.h"
#include "decode_test_support.h"
#include "pipeline/decode/byte_plane_inverse.h"
#include "reference/ref_byte_plane.h"

namespace kvn::test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(BytePlaneInverse, Layouts) {
    Bytes planes = {0x00, 0x10, 0x20, 0x01, 0x11, 0x21, 0x02, 0x12, 0x22, 0x03, 0x13, 0x23};
    ASSERT_EQ(bytePlaneInverseCpu(planes.data(), planes.size(), 4, 0), Error::None);
    EXPECT_EQ(planes, (Bytes{0x00, 0x01, 0x02, 0x03, 0x10, 0x11, 0x12, 0x13, 0x20, 0x21, 0x22, 0x23}));

    Bytes ten(10);
    std::iota(ten.begin(), ten.end(), 0);
    Bytes same = ten;
    ASSERT_EQ(bytePlaneInverseCpu(same.data(), same.size(), 4, 0), Error::None);
    EXPECT_EQ(same, ten) << "a block that is not a multiple of the stride stays";

    EXPECT_EQ(bytePlaneBlockSize(65536, 4), 65536u);
    EXPECT_EQ(bytePlaneBlockSize(65536, 3), 0u) << "the whole frame is one block";

    const Bytes text = realBytes(200000);
    for (uint8_t w : byte_plane_strides) {
        for (uint64_t block : {uint64_t{0}, bytePlaneBlockSize(65536, w)}) {
            const uint64_t n = text.size() - text.size() % w;
            Bytes input(text.begin(), text.begin() + n);
            Bytes round = ref::bytePlanes(input, w, block);
            ASSERT_EQ(bytePlaneInverseCpu(round.data(), round.size(), w, block), Error::None);
            EXPECT_TRUE(round == input) << "stride " << int(w) << " block " << block;
        }
    }
}

TEST(BytePlaneFrames, DecodeToTheElementMajorInput) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(98304);  // a multiple of every stride but 28
        for (uint8_t w : {uint8_t(3), uint8_t(4), uint8_t(28)}) {
            const uint64_t n = text.size() - text.size() % w;
            const Bytes input(text.begin(), text.begin() + n);
            ref::FrameOptions o;
            o.byte_plane_stride = w;
            o.sc_group_size = 0.25f;  // 65536-byte blocks for stride 4; one block for 3 and 28
            o.checksum = o.merkle_root = true;
            const Bytes planes = ref::bytePlanes(input, w, bytePlaneBlockSize(65536, w));
            // Trailers over the input, as the encoder writes them.
            const Bytes frame = ref::FrameBuilder(o).storedBlock(planes).finish(input);
            const Decoded d = decodeHost(handle.get(), frame, n);
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS) << int(w);
            EXPECT_TRUE(d.bytes == input) << int(w);

            const Bytes over_planes = ref::FrameBuilder(o).storedBlock(planes).finish(planes);
            EXPECT_EQ(decodeHost(handle.get(), over_planes, n).status, KVN_STATUS_CORRUPT_FRAME)
                << "trailers over the planes do not match the decoded bytes, stride " << int(w);
        }
    });
}

}  // namespace
}  // namespace kvn::test
