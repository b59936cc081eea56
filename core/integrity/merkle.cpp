#include "core/integrity/merkle.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "core/format/byte_order.h"
#include "core/format/size_math.h"
#include "core/integrity/xxh32.h"
#include "core/platform/platform.h"

namespace kvn {
namespace {

constexpr uint32_t kMaxLanes = 16;
constexpr uint64_t kMinChunksForLanes = 8;
// Above this the leaf array's byte size would not fit in 64 bits.
constexpr uint64_t kMaxLeafCount = uint64_t{1} << 62;

// Eight words per step: one 256-bit multiply-add with the x86-64-v3 build.
typedef uint32_t Words8 __attribute__((vector_size(32)));

struct LeafJob {
    const uint8_t* data;
    uint64_t n;
    uint64_t leaf_size;
    uint64_t count;
    uint32_t* leaves;
};

// Leaves lane, lane + lanes, lane + 2 * lanes, ...: lanes write disjoint leaves.
void computeLane(const LeafJob& job, uint32_t lane, uint32_t lanes) {
    for (uint64_t i = lane; i < job.count; i += lanes) {
        const uint64_t begin = i * job.leaf_size;
        job.leaves[i] = chunkMerkleLeaf(job.data, begin, begin + std::min(job.leaf_size, job.n - begin));
    }
}

struct Lane {
    const LeafJob* job;
    uint32_t index;
    uint32_t lanes;
    Thread thread;
};

void chunkMerkleLane(void* arg) {
    const Lane& lane = *static_cast<const Lane*>(arg);
    computeLane(*lane.job, lane.index, lane.lanes);
}

// Starts one thread per lane. A lane that fails to start costs parallelism
// only: the calling thread computes it and every lane after it.
void computeLeavesOnLanes(const LeafJob& job, uint32_t lanes) {
    Lane records[kMaxLanes];
    uint32_t started = 0;
    for (; started < lanes; ++started) {
        Lane& lane = records[started];
        lane = Lane{&job, started, lanes, Thread{}};
        const Error error = startThread(&lane.thread, chunkMerkleLane, &lane, kStack16MiB);
        if (error != Error::None) {
            // One call, so the line is written under the stream's lock.
            std::fprintf(stderr,
                         "warning: chunkMerkleRoot: thread spawn failed at lane %u/%u (%s); "
                         "running remaining lanes inline\n",
                         started, lanes, errorName(error == Error::OutOfMemory ? error : Error::Unexpected));
            break;
        }
    }
    for (uint32_t k = started; k < lanes; ++k) computeLane(job, k, lanes);
    for (uint32_t k = 0; k < started; ++k) joinThread(&records[k].thread);
}

}  // namespace

uint32_t chunkMerkleLeaf(const uint8_t* data, uint64_t begin, uint64_t end) {
    const uint64_t words = end > begin ? (end - begin) / 4 : 0;
    const uint8_t* p = data + begin;

    // Multipliers wrap at 32 bits like the sum; word j of the chunk gets
    // begin + 4j + bias.
    const uint32_t first = static_cast<uint32_t>(begin) + kMerkleOffsetBias;
    Words8 multiplier = Words8{0, 4, 8, 12, 16, 20, 24, 28} + first;
    Words8 sum{};
    uint64_t j = 0;
    for (; j + 8 <= words; j += 8, p += 32) {
        Words8 w;
        std::memcpy(&w, p, sizeof w);
        sum += multiplier * w;
        multiplier += 32;
    }
    uint32_t leaf = 0;
    for (int k = 0; k < 8; ++k) leaf += sum[k];
    uint32_t next = multiplier[0];
    for (; j < words; ++j, p += 4, next += 4) leaf += next * loadLe32(p);
    return leaf;
}

MerkleRoot chunkMerkleRoot(const uint8_t* data, uint64_t n, uint64_t leaf_size, uint32_t processors) {
    if (n == 0) return {kEmptyMerkleRoot, Error::None};
    // A zero leaf size can only come from an unchecked chunk fraction.
    if (leaf_size == 0) return {0, Error::BadScGroupSize};

    const uint64_t count = ceilDiv(n, leaf_size);
    if (count >= kMaxLeafCount) return {0, Error::OutOfMemory};
    std::unique_ptr<uint32_t[]> leaves(new (std::nothrow) uint32_t[count]);
    if (!leaves) return {0, Error::OutOfMemory};

    const LeafJob job{data, n, leaf_size, count, leaves.get()};
    if (count < kMinChunksForLanes || processors < 2) {
        computeLane(job, 0, 1);
    } else {
        computeLeavesOnLanes(job, static_cast<uint32_t>(std::min<uint64_t>({processors, kMaxLanes, count})));
    }
    // Leaves are stored as consecutive little-endian words, the host's order.
    return {xxh32(reinterpret_cast<const uint8_t*>(leaves.get()), count * sizeof(uint32_t)), Error::None};
}

MerkleRoot chunkMerkleRoot(const uint8_t* data, uint64_t n, uint64_t leaf_size) {
    return chunkMerkleRoot(data, n, leaf_size, processorCount());
}

}  // namespace kvn
