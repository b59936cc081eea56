// KVN_TANS_GATE2_DUMP: every coded Huffman stream of a level-3 frame is
// appended to the named file as one record, and the records hold exactly
// the streams the reference encoder parses out of the same input (literals,
// tokens, the off16 entries' high and low bytes), with the reference coder's
// coded sizes; a second compress appends the same records again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/cuda/decode/vulkan_frames.h"
#include "tests/cuda/support/cuda_writer.h"
#include "tests/reference/ref_encoder.h"
#include "tests/reference/ref_huffman.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch_folder.h"

namespace kvn::test {
namespace {

struct Record {
    uint8_t id = 0;
    uint32_t coded_size = 0;
    Bytes symbols;
    bool operator==(const Record&) const = default;
};

uint32_t le32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// The file's records; a test failure when it does not parse whole.
std::vector<Record> readRecords(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Record> records;
    size_t at = 0;
    while (at < b.size()) {
        if (b.size() - at < 13 || le32(b, at) != 0x52324754) {
            ADD_FAILURE() << "no record at byte " << at;
            break;
        }
        Record r;
        r.id = b[at + 4];
        const uint32_t count = le32(b, at + 5);
        r.coded_size = le32(b, at + 9);
        at += 13;
        if (b.size() - at < count) {
            ADD_FAILURE() << "a record cut short at byte " << at;
            break;
        }
        r.symbols.assign(b.begin() + long(at), b.begin() + long(at + count));
        at += count;
        records.push_back(std::move(r));
    }
    return records;
}

Record referenceRecord(uint8_t id, const Bytes& symbols) {
    return {id, uint32_t(ref::huffEncode(symbols.data(), uint32_t(symbols.size()), 1).size()), symbols};
}

// The records the frame's streams give, from the reference parse of each
// sub-chunk (chunks of one sub-chunk each): literal streams, token streams,
// then the high bytes and the low bytes of off16 streams of 32 entries or
// more; empty streams give none.
std::vector<Record> referenceRecords(const Bytes& input, float fraction, int level) {
    const uint32_t sub = uint32_t(fraction * 262144);
    const ref::LzParams params = ref::encodeOptionsForLevel(level, fraction).lz;
    std::vector<ref::SubChunkStreams> streams;
    for (size_t at = 0; at < input.size(); at += sub) {
        const uint32_t len = uint32_t(std::min<size_t>(sub, input.size() - at));
        const std::vector<uint32_t> lens = {len};
        streams.push_back(ref::lzEncodeGroup(input.data() + at, lens, at == 0, params).at(0));
    }
    std::vector<Record> records;
    for (const auto& s : streams)
        if (!s.literals.empty()) records.push_back(referenceRecord(0, s.literals));
    for (const auto& s : streams)
        if (!s.tokens.empty()) records.push_back(referenceRecord(1, s.tokens));
    for (int half = 0; half < 2; ++half) {
        for (const auto& s : streams) {
            if (s.off16.size() < 32) continue;
            Bytes bytes;
            for (uint16_t d : s.off16) bytes.push_back(uint8_t(half == 0 ? d >> 8 : d));
            records.push_back(referenceRecord(uint8_t(2 + half), bytes));
        }
    }
    return records;
}

TEST(CudaCodedStreamDump, RecordsAreTheFramesStreamsAppended) {
    constexpr float kFraction = 0.0625f;  // chunks of 16,384 bytes, one sub-chunk each
    const Bytes text = repetitiveText(40000, 71);
    const std::vector<Record> expected = referenceRecords(text, kFraction, 3);
    ASSERT_GE(expected.size(), 8u);  // literals, tokens and off16 halves of several sub-chunks
    const std::string path = scratchFolder() + "/kvn_tans_gate2.bin";
    std::remove(path.c_str());
    inChildProcess([&] {
        const CompressOpts opts = withChunkSize(optionsAt(3), kFraction);
        const CudaFrames plain = cudaCompress(text, opts);
        ASSERT_EQ(plain.status, KVN_STATUS_SUCCESS);
        setenv("KVN_TANS_GATE2_DUMP", path.c_str(), 1);
        for (int run = 1; run <= 2; ++run) {
            SCOPED_TRACE("compress " + std::to_string(run));
            const CudaFrames frames = cudaCompress(text, opts);
            ASSERT_EQ(frames.status, KVN_STATUS_SUCCESS);
            EXPECT_TRUE(frames.bytes == plain.bytes);
            std::vector<Record> all = expected;
            if (run == 2) all.insert(all.end(), expected.begin(), expected.end());
            EXPECT_TRUE(readRecords(path) == all);
        }
    });
    std::remove(path.c_str());
}

// Level 1 codes nothing; an unopenable path writes nothing and fails nothing.
TEST(CudaCodedStreamDump, NothingWithoutHuffmanOrWithoutAFile) {
    const Bytes text = repetitiveText(40000, 72);
    const std::string path = scratchFolder() + "/kvn_tans_gate2_level1.bin";
    std::remove(path.c_str());
    inChildProcess([&] {
        const CudaFrames plain = cudaCompress(text, optionsAt(3));
        ASSERT_EQ(plain.status, KVN_STATUS_SUCCESS);
        setenv("KVN_TANS_GATE2_DUMP", path.c_str(), 1);
        ASSERT_EQ(cudaCompress(text, optionsAt(1)).status, KVN_STATUS_SUCCESS);
        EXPECT_FALSE(std::ifstream(path).good());
        setenv("KVN_TANS_GATE2_DUMP", (testing::TempDir() + "no-such-folder/dump.bin").c_str(), 1);
        const CudaFrames frames = cudaCompress(text, optionsAt(3));
        EXPECT_EQ(frames.status, KVN_STATUS_SUCCESS);
        EXPECT_TRUE(frames.bytes == plain.bytes);
    });
}

}  // namespace
}  // namespace kvn::test
