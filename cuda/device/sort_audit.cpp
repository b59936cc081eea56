// KVN_SORT_AUDIT (read at each batch): after the sort-parse pre-passes of an
// LZ batch, each sub-chunk's sorted keys and then its two candidate tables
// are read back and checked against the sub-chunk's bytes in the input copy
// on the device; a batch that does not pass fails the frame rather than
// parse from a broken workspace.
#include <cstdio>
#include <new>
#include <vector>

#include "core/encode/chunk_descriptors.h"
#include "core/encode/sort_audit.h"
#include "core/platform/platform.h"
#include "kernels/lz_sort_layout.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

constexpr uint64_t kRegionBytes = uint64_t{KVN_SORT_REGION_WORDS} * 4;

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

// One sub-chunk's bytes and a part of its workspace region, read back.
template <typename T>
bool readBack(const SortAuditBatch& batch, uint64_t i, uint64_t word_offset, std::vector<T>& values,
              std::vector<uint8_t>& source) {
    const GpuOpsTable& ops = gpuOps();
    const CompressChunkDesc& d = batch.descs[i];
    values.resize(d.length);
    source.resize(d.length);
    return ops.memcpyDtoHSrcOffset(values.data(), batch.workspace, uint64_t{d.length} * sizeof(T),
                                   i * kRegionBytes + word_offset * 4) == Error::None &&
           ops.memcpyDtoHSrcOffset(source.data(), batch.input, d.length, d.src_offset) == Error::None;
}

bool auditSort(const SortAuditBatch& batch) {
    std::vector<uint64_t> keys;
    std::vector<uint8_t> source;
    uint64_t passed = 0;
    for (uint64_t i = 0; i < batch.count; ++i) {
        if (batch.descs[i].length != 0) {
            if (!readBack(batch, i, KVN_SORT_KEYS_WORD, keys, source)) return false;
            if (const auto failure = checkSortedKeys(keys, source)) {
                std::fprintf(stderr, "sort-audit: chunk %llu FAIL (%s at sorted index %llu)\n", ull(batch.start + i),
                             failure->reason, ull(failure->at));
                continue;
            }
        }
        ++passed;
    }
    std::fprintf(stderr, "sort-audit: batch@%llu: %llu/%llu chunks pass\n", ull(batch.start), ull(passed),
                 ull(batch.count));
    return passed == batch.count;
}

bool auditTokens(const SortAuditBatch& batch, uint64_t table_word, const char* name) {
    std::vector<uint32_t> words;
    std::vector<uint8_t> source;
    uint64_t passed = 0, records = 0, positions = 0;
    for (uint64_t i = 0; i < batch.count; ++i) {
        if (batch.descs[i].length != 0) {
            if (!readBack(batch, i, table_word, words, source)) return false;
            positions += words.size();
            if (const auto failure = checkCandidates(words, source, records)) {
                std::fprintf(stderr, "%s-audit: chunk %llu FAIL (%s at pos %llu)\n", name, ull(batch.start + i),
                             failure->reason, ull(failure->at));
                continue;
            }
        }
        ++passed;
    }
    std::fprintf(stderr, "%s-audit: batch@%llu: %llu/%llu chunks pass, %llu/%llu positions carry a record\n", name,
                 ull(batch.start), ull(passed), ull(batch.count), ull(records), ull(positions));
    return passed == batch.count;
}

}  // namespace

Error auditSortPrepass(const SortAuditBatch& batch) {
    if (!envPresent("KVN_SORT_AUDIT")) return Error::None;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.ctxSynchronize || !ops.memcpyDtoHSrcOffset || ops.ctxSynchronize() != Error::None)
        return Error::GpuPipelineFailed;
    try {
        if (!auditSort(batch)) return Error::GpuPipelineFailed;
        // Both tables are reported, whichever fails.
        const bool cand = auditTokens(batch, KVN_SORT_CAND_WORD, "cand");
        const bool cand2 = auditTokens(batch, KVN_SORT_CAND2_WORD, "cand2");
        return cand && cand2 ? Error::None : Error::GpuPipelineFailed;
    } catch (const std::bad_alloc&) {
        return Error::OutOfMemory;
    }
}

}  // namespace kvn
