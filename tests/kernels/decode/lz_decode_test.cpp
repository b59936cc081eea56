// kvnLzDecodeKernel, kvnLzDecodeRawKernel and kvnLzDecodeRawPipelinedKernel
// against the reference decoder,
// on the host kernel runtime and on lavapipe, with the floor-copy switch off
// and on: equal bytes on well-formed and damaged batches, nothing written
// outside the chunks' output ranges.
#include <gtest/gtest.h>

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
