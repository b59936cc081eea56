#include "pipeline/decode/wrt_merkle.h"

#include <algorithm>
#include <cstdio>

#include "core/platform/platform.h"
#include "pipeline/decode/decode_batch.h"
#include "pipeline/decode/device_merkle.h"
#include "pipeline/decode/host_frame_decode.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

// The line shows the first leaves only: a frame may have millions.
constexpr uint32_t kLineHashes = 16;

}  // namespace

Error reportWrtMerkle(DecoderState& decoder, const MerkleTrailer& trailer, uint64_t out, int32_t verdict) {
    const uint32_t leaves = uint32_t((out + trailer.leaf_size - 1) / trailer.leaf_size);
    uint32_t hashes[kLineHashes] = {};
    const uint32_t shown = std::min(leaves, kLineHashes);
    KVN_TRY(checkCopy(gpuOps().memcpyDtoH(hashes, slotHandle(decoder, kChunkHashes), 4 * uint64_t(shown))));
    printWrtMerkle({out, trailer.leaf_size, leaves, trailer.stored_root, uint32_t(verdict), hashes, shown});
    return Error::None;
}

bool wrtMerkleLineWanted() { return decodeDiagnostics().wrt_merkle_line && envPresent("KVN_WRT_DEBUG"); }

void printWrtMerkle(const WrtMerkleRecord& record) {
    std::fprintf(stderr, "[wrt-merkle] raw_len=%llu eff=%llu n_chunks=%u expected=%08x verdict=%u hashes={ ",
                 static_cast<unsigned long long>(record.raw_len), static_cast<unsigned long long>(record.eff),
                 record.n_chunks, record.expected, record.verdict);
    for (uint32_t i = 0; i < record.hash_count; ++i) std::fprintf(stderr, i ? ", %u" : "%u", record.hashes[i]);
    std::fprintf(stderr, " }\n");
}

Error judgeWrtText(DecoderState& decoder, const MerkleTrailer& trailer, DeviceBufferHandle text, uint64_t out,
                   int32_t* verdict) {
    *verdict = kVerdictNone;
    const GpuOpsTable& ops = gpuOps();
    if (merkleSwitch("KVN_NO_DEVICE_MERKLE") || !trailer.present || out == 0 || !ops.ctxSynchronize ||
        !ops.memcpyDtoH || !wholeOutputMerkleRuns(out, trailer.leaf_size))
        return Error::None;
    int32_t* cell = resetVerdictCell(decoder);
    if (!cell) return Error::OutOfMemory;
    // The inverse ran on the default stream and was waited for: the leaves
    // hash its finished text. The pass and its verdict copy go there too.
    KVN_TRY(launchWholeOutputMerkle(decoder, 0, text, 0, out, trailer.leaf_size, trailer.stored_root, cell));
    KVN_TRY(checkSync(ops.ctxSynchronize()));
    if (wrtMerkleLineWanted()) KVN_TRY(reportWrtMerkle(decoder, trailer, out, *cell));
    *verdict = *cell;
    return Error::None;
}

}  // namespace kvn
