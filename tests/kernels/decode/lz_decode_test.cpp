// kvnLzDecodeKernel, kvnLzDecodeRawKernel and kvnLzDecodeRawPipelinedKernel
// against the reference decoder,
// on the host kernel runtime and on lavapipe, with the floor-copy switch off
// and on: equal bytes on well-formed and damaged batches, nothing written
// outside the chunks' output ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "core/integrity/merkle.h"
#include "kernels/format_constants.h"
#include "lz_runs.h"

namespace kvn::dectest {
namespace {

struct Case {
    Backend backend;
    bool floor_copy;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << backendName(c.backend) << (c.floor_copy ? " with floor copy" : "");
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return std::string(backendName(info.param.backend)) + (info.param.floor_copy ? "FloorCopy" : "");
}

class LzDecode : public ::testing::TestWithParam<Case> {
protected:
    template <typename Body>
    void run(Body body) {
        onBackend(GetParam().backend, GetParam().floor_copy, body);
    }
};

// The output with chunk c's range [dst_off, dst_off + size) zeroed.
std::vector<uint8_t> outsideChunk(const Batch& b, std::vector<uint8_t> out, size_t c) {
    const KvnChunkDesc& d = b.descs[c];
    for (uint64_t k = d.dst_off; k < std::min<uint64_t>(uint64_t(d.dst_off) + d.decomp_size, b.out_len); ++k) out[k] = 0;
    return out;
}

TEST_P(LzDecode, GeneralKernelMatchesTheReferenceOnEveryFixture) {
    run([] {
        for (const Batch& b : fixtureBatches()) {
            SCOPED_TRACE(b.name);
            const std::vector<uint8_t> expected = referenceOutput(b, kGuardBytes, kGuardFill);
            const Scratch scratch = referenceScratch(b);
            EXPECT_TRUE(sameBytes(runLz(GetParam().backend, b, {LzKernel::General, &scratch}), expected));
            if (b.independent_chunks && b.descs.size() > 1) {
                // Chunks that do not read each other decode the same however
                // many of them one work item walks.
                const uint32_t other = b.chunks_per_item == 1 ? uint32_t(b.descs.size()) : 1;
                EXPECT_TRUE(sameBytes(runLz(GetParam().backend, b, {LzKernel::General, &scratch, other}), expected));
            }
        }
    });
}

TEST_P(LzDecode, RawPipelinedAndGeneralKernelsGiveTheReferenceBytesOnStoredStreams) {
    run([] {
        for (const Batch& b : fixtureBatches()) {
            if (usesHuffmanStreams(b)) continue;
            SCOPED_TRACE(b.name);
            const std::vector<uint8_t> expected = referenceOutput(b, kGuardBytes, kGuardFill);
            EXPECT_TRUE(sameBytes(runLz(GetParam().backend, b, {LzKernel::Raw}), expected));
            EXPECT_TRUE(sameBytes(runLz(GetParam().backend, b, {LzKernel::Pipelined}), expected));
            EXPECT_TRUE(sameBytes(runLz(GetParam().backend, b, {LzKernel::General}), expected));
        }
    });
}

TEST_P(LzDecode, DamagedBatchesDecodeAsTheReferenceAndStayInTheirChunks) {
    run([] {
        for (const Batch& b : damagedBatches()) {
            SCOPED_TRACE(b.name);
            const std::vector<uint8_t> expected = referenceOutput(b, kGuardBytes, kGuardFill);
            const Scratch scratch = referenceScratch(b);
            EXPECT_TRUE(sameBytes(runLz(GetParam().backend, b, {LzKernel::General, &scratch}), expected));
            for (LzKernel k : {LzKernel::Raw, LzKernel::Pipelined}) {
                const std::vector<uint8_t> raw = runLz(GetParam().backend, b, {k});
                if (!usesHuffmanStreams(b)) {
                    EXPECT_TRUE(sameBytes(raw, expected));
                } else {
                    // Without scratch a Huffman stream yields nothing: only the
                    // damaged chunk may differ, and nothing lands outside it.
                    EXPECT_TRUE(sameBytes(outsideChunk(b, raw, b.damaged_chunk),
                                          outsideChunk(b, expected, b.damaged_chunk)));
                }
            }
        }
    });
}

// True when the reference decode leaves some output byte unwritten: two
// runs over buffers of different fill differ there.
bool referenceLeavesBytesUnwritten(const Batch& b) {
    const std::vector<uint8_t> a = referenceOutput(b, 0, 0x5A), c = referenceOutput(b, 0, 0xA5);
    return !std::equal(a.begin(), a.begin() + b.out_len, c.begin());
}

// Every form reports output its data left unwritten (KVN_LZ_STATUS_UNWRITTEN)
// exactly when the reference leaves bytes unwritten: damaged fixtures (kind 3
// chunks, matches before the buffer) and, for every fixture with a coded
// chunk, a copy whose first sub-chunk header has its valid bit (bit 23)
// clear, which ends that chunk. The host must not pass such bytes on.
TEST_P(LzDecode, ChunksLeftUnwrittenAreReported) {
    run([] {
        std::vector<Batch> cases;
        for (const Batch& b : fixtureBatches()) {
            if (usesHuffmanStreams(b)) continue;
            cases.push_back(b);
            for (size_t i = 0; i < b.descs.size(); ++i) {
                if ((b.descs[i].flags & KVN_CHUNK_KIND_MASK) != KVN_CHUNK_KIND_CODED || b.descs[i].comp_size <= 3)
                    continue;
                Batch cleared = b;
                cleared.name += ", bit 23 of a sub-chunk header clear";
                cleared.payload[cleared.descs[i].src_off] &= uint8_t(~(KVN_SUBCHUNK_HDR_VALID >> 16));
                EXPECT_TRUE(referenceLeavesBytesUnwritten(cleared)) << cleared.name;
                cases.push_back(std::move(cleared));
                break;
            }
        }
        for (const Batch& b : cases) {
            SCOPED_TRACE(b.name);
            const std::vector<uint8_t> expected = referenceOutput(b, kGuardBytes, kGuardFill);
            const uint32_t want = referenceLeavesBytesUnwritten(b) ? KVN_LZ_STATUS_UNWRITTEN : 0u;
            for (LzKernel k : {LzKernel::General, LzKernel::Raw, LzKernel::Pipelined}) {
                uint32_t status = 0xFFFFFFFFu;
                EXPECT_TRUE(sameBytes(runLz(GetParam().backend, b, {.kernel = k, .status = &status}), expected));
                EXPECT_EQ(status, want) << "kernel " << int(k);
            }
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Backends, LzDecode,
                         ::testing::Values(Case{Backend::Host, false}, Case{Backend::Host, true},
                                           Case{Backend::Lavapipe, false}, Case{Backend::Lavapipe, true}),
                         caseName);

// Descriptors that point past the payload or the output: the Vulkan forms
// clamp against both lengths (the CUDA forms, which the host runtime runs,
// take descriptors as given).
TEST(LzDecodeLavapipe, DescriptorsPastTheBuffersAreClampedAsTheReferenceDoes) {
    onBackend(Backend::Lavapipe, false, [] {
        Batch base = fixtureBatches()[2];
        std::vector<Batch> cases;
        for (int k = 0; k < 5; ++k) {
            Batch b = base;
            KvnChunkDesc& d = b.descs.back();
            switch (k) {
                case 0: d.dst_off = b.out_len + 10; break;
                case 1: d.decomp_size += 1000; break;
                case 2: d.src_off = uint32_t(b.payload.size()) + 3; break;
                case 3: d.comp_size += 5000; break;
                case 4: b.descs.front().comp_size = b.descs.front().decomp_size += 100000; break;
            }
            b.name = "descriptor case " + std::to_string(k);
            cases.push_back(b);
        }
        for (const Batch& b : cases) {
            SCOPED_TRACE(b.name);
            const std::vector<uint8_t> expected = referenceOutput(b, kGuardBytes, kGuardFill);
            EXPECT_TRUE(sameBytes(runLz(Backend::Lavapipe, b, {LzKernel::General}), expected));
            EXPECT_TRUE(sameBytes(runLz(Backend::Lavapipe, b, {LzKernel::Raw}), expected));
            EXPECT_TRUE(sameBytes(runLz(Backend::Lavapipe, b, {LzKernel::Pipelined}), expected));
        }
    });
}

// lavapipe ends an invocation's loops after 65,535 iterations in all: one
// work item walking 2,286 stored chunks of 7 bytes runs out of them partway.
// The walk must say so (KVN_LZ_STATUS_CUT) rather than leave the later
// chunks unwritten in silence (the host splits such walks into windows).
TEST(LzDecodeLavapipe, ChunkWalkCutShortByTheLoopBudgetIsReported) {
    onBackend(Backend::Lavapipe, false, [] {
        constexpr uint32_t kChunks = 2286, kChunk = 7;
        Batch b;
        b.name = "2,286 stored chunks of 7 bytes";
        b.out_len = kChunks * kChunk;
        b.chunks_per_item = kChunks;
        for (uint32_t c = 0; c < kChunks; ++c) {
            KvnChunkDesc d{};
            d.src_off = uint32_t(b.payload.size());
            d.comp_size = d.decomp_size = kChunk;
            d.dst_off = c * kChunk;
            d.flags = KVN_CHUNK_KIND_STORED;
            b.descs.push_back(d);
            for (uint32_t k = 0; k < kChunk; ++k) b.payload.push_back(uint8_t(c * 31 + k * 7 + 1));
        }
        std::vector<uint8_t> expected = b.payload;
        expected.resize(b.out_len + kGuardBytes, kGuardFill);
        for (LzKernel k : {LzKernel::General, LzKernel::Raw, LzKernel::Pipelined}) {
            uint32_t status = 0;
            const std::vector<uint8_t> out = runLz(Backend::Lavapipe, b, {.kernel = k, .status = &status});
            EXPECT_EQ(status, KVN_LZ_STATUS_CUT) << "kernel " << int(k);
            // The walk ends before the last chunks: their guard bytes remain.
            EXPECT_FALSE(out == expected) << "kernel " << int(k);
        }
    });
}

// The CUDA form of the pipelined kernel (what the host runtime runs) hashes
// each decoded chunk into its Merkle leaf when given a leaf array.
TEST(LzDecodeHost, PipelinedKernelHashesEachChunkIntoItsMerkleLeaf) {
    onBackend(Backend::Host, false, [] {
        for (const Batch& b : fixtureBatches()) {
            if (usesHuffmanStreams(b)) continue;
            SCOPED_TRACE(b.name);
            std::vector<uint32_t> leaves;
            const std::vector<uint8_t> out = runLz(Backend::Host, b, {LzKernel::Pipelined, nullptr, 0, &leaves});
            for (size_t c = 0; c < b.descs.size(); ++c) {
                const KvnChunkDesc& d = b.descs[c];
                if (d.dst_off % 4 != 0) continue;
                EXPECT_EQ(leaves[c], chunkMerkleLeaf(out.data(), d.dst_off, uint64_t(d.dst_off) + d.decomp_size))
                    << "chunk " << c;
            }
        }
    });
}

}  // namespace
}  // namespace kvn::dectest
