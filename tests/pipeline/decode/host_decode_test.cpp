// kvnDecompressHost on lavapipe: frames of stored and skip blocks, single
// and concatenated, with and without trailers, and the corrupt inputs that
// must give status 4 without writing past the destination.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/format/frame_header.h"
#include "decode_test_support.h"

namespace kvn::test {
namespace {

using ref::FrameBuilder;
using ref::FrameOptions;
using Bytes = std::vector<uint8_t>;

FrameOptions withTrailers(bool checksum, bool merkle) {
    FrameOptions o;
    o.checksum = checksum;
    o.merkle_root = merkle;
    return o;
}

TEST(HostDecode, ValidFramesDecodeToTheirContent) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(150000);
        const Bytes other = realBytes(70001, 999);
        const std::span<const uint8_t> all(text);
        FrameOptions quarter;
        quarter.sc_group_size = 0.125f;  // 32 KiB chunks: many Merkle leaves
        quarter.checksum = quarter.merkle_root = true;
        struct Case {
            const char* name;
            Bytes input;
            Bytes expected;
        };
        const Case cases[] = {
            {"one stored block", storedFrame(text), text},
            {"checksum and Merkle root", storedFrame(text, withTrailers(true, true)), text},
            {"Merkle root only", storedFrame(text, withTrailers(false, true)), text},
            {"three stored blocks, small chunks", storedFrame(text, quarter, {1, 40000, 100003}), text},
            {"two frames", concat({storedFrame(text, withTrailers(true, false)), storedFrame(other)}),
             concat({text, other})},
            {"skip block between stored blocks",
             FrameBuilder({}).storedBlock(all.first(1000)).skipBlock(all.subspan(5000, 300))
                 .storedBlock(all.subspan(1000, 2000)).finish(all.first(3000)),
             Bytes(text.begin(), text.begin() + 3000)},
            {"no content size", storedFrame(text, [] { FrameOptions o; o.content_size = false; return o; }()), text},
            {"empty frame with both trailers", FrameBuilder(withTrailers(true, true)).finish({}), {}},
            {"frame without end mark", FrameBuilder({}).storedBlock(all.first(77)).finish(all.first(77), false),
             Bytes(text.begin(), text.begin() + 77)},
            {"empty input", {}, {}},
        };
        for (const Case& c : cases) {
            const Decoded d = decodeHost(handle.get(), c.input, c.expected.size());
            EXPECT_EQ(d.status, KVN_STATUS_SUCCESS) << c.name;
            EXPECT_EQ(d.size, c.expected.size()) << c.name;
            EXPECT_TRUE(d.bytes == c.expected) << c.name;
            EXPECT_TRUE(d.guard_intact) << c.name;
        }
        // The CPU checked the root: no device verdict.
        EXPECT_EQ(kvnGetLastVerdict(handle.get()), KVN_STATUS_UNSUPPORTED);
    });
}

TEST(HostDecode, TailsAfterTheLastFrame) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes a = realBytes(5000);
        const Bytes b = realBytes(3000, 77);
        const Bytes two = concat({storedFrame(a), storedFrame(b)});
        const Bytes stray13(13, 0x4B);
        Bytes no_magic(40, 0x11);
        Bytes cut_frame = storedFrame(b, withTrailers(true, true));
        cut_frame.resize(cut_frame.size() - 4);  // the Merkle root is missing
        struct Case {
            const char* name;
            Bytes input;
            KvnStatus status;
            uint64_t size;
        };
        const Case cases[] = {
            {"13 stray bytes after two frames", concat({two, stray13}), KVN_STATUS_SUCCESS, 8000},
            {"the same stray bytes alone", stray13, KVN_STATUS_CORRUPT_FRAME, 0},
            {"14 or more bytes without the magic", concat({storedFrame(a), no_magic}), KVN_STATUS_SUCCESS, 5000},
            {"a frame cut short after its body", concat({storedFrame(a), cut_frame}), KVN_STATUS_CORRUPT_FRAME, 0},
            {"a lone frame cut short", cut_frame, KVN_STATUS_CORRUPT_FRAME, 0},
        };
        for (const Case& c : cases) {
            const Decoded d = decodeHost(handle.get(), c.input, 9000);
            EXPECT_EQ(d.status, c.status) << c.name;
            if (c.status == KVN_STATUS_SUCCESS) {
                EXPECT_EQ(d.size, c.size) << c.name;
            }
            EXPECT_TRUE(d.guard_intact) << c.name;
        }
    });
}

// Each corrupt input and the status it must give; nothing is written past
// the destination.
TEST(HostDecode, StatusOfDamagedFrames) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(20000, 5);
        const std::span<const uint8_t> all(text);
        const Bytes good = storedFrame(text, withTrailers(true, true));
        Bytes wrong_checksum = good;
        wrong_checksum[wrong_checksum.size() - 8] ^= 1;
        Bytes wrong_root = good;
        wrong_root.back() ^= 0x80;
        Bytes flipped_content = good;
        flipped_content[good.size() - 100] ^= 0x20;
        FrameOptions dict;
        dict.dict_id = 77;  // neither registered nor built in
        FrameOptions claims_more;
        claims_more.content_size_value = 20001;
        FrameOptions huge;
        huge.content_size_value = int64_t{1} << 31;
        const Bytes block_truncated = FrameBuilder({}).block(kBlockStored | 500, 500, all.first(100)).finish({}, false);
        struct Case {
            const char* name;
            Bytes input;
            uint64_t cap;
            KvnStatus status;
        };
        const Case cases[] = {
            {"wrong checksum", wrong_checksum, 20064, KVN_STATUS_CORRUPT_FRAME},
            {"wrong Merkle root", wrong_root, 20064, KVN_STATUS_CORRUPT_FRAME},
            {"a flipped content byte", flipped_content, 20064, KVN_STATUS_CORRUPT_FRAME},
            {"unknown dictionary", storedFrame(text, dict), 20064, KVN_STATUS_CORRUPT_FRAME},
            {"content size larger than the blocks", storedFrame(text, claims_more), 20065, KVN_STATUS_CORRUPT_FRAME},
            {"stored length differs from the raw size",
             FrameBuilder({}).block(kBlockStored | 100, 90, all.first(100)).finish(all.first(90)), 20064,
             KVN_STATUS_CORRUPT_FRAME},
            {"stored payload past the frame", block_truncated, 20064, KVN_STATUS_CORRUPT_FRAME},
            {"destination one byte short of the content size", good, 19999, KVN_STATUS_BUFFER_TOO_SMALL},
            {"destination smaller than the blocks", storedFrame(text, [] { FrameOptions o; o.content_size = false; return o; }()),
             19999, KVN_STATUS_BUFFER_TOO_SMALL},
            {"second frame damaged", concat({storedFrame(text), wrong_checksum}), 40128, KVN_STATUS_CORRUPT_FRAME},
            // The blocks hold 20,000 bytes: the header lies, whatever its size.
            {"content size of 2^31 over smaller blocks", storedFrame(text, huge), 20064, KVN_STATUS_CORRUPT_FRAME},
        };
        for (const Case& c : cases) {
            const Decoded d = decodeHost(handle.get(), c.input, c.cap);
            EXPECT_EQ(d.status, c.status) << c.name;
            EXPECT_TRUE(d.guard_intact) << c.name;
        }
    });
}

TEST(HostDecode, SkipMerkleAcceptsAWrongRootCheckedOnTheCpu) {
    inChildProcess([] {
        readyOps();
        ChildHandle handle;
        const Bytes text = realBytes(4000);
        Bytes frame = storedFrame(text, withTrailers(false, true));
        frame.back() ^= 1;
        setenv("KVN_SKIP_MERKLE", "", 1);
        const Decoded d = decodeHost(handle.get(), frame, 4064);
        unsetenv("KVN_SKIP_MERKLE");
        EXPECT_EQ(d.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(d.bytes == text);
        EXPECT_EQ(decodeHost(handle.get(), frame, 4064).status, KVN_STATUS_CORRUPT_FRAME);
    });
}

}  // namespace
}  // namespace kvn::test
