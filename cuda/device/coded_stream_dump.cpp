// KVN_TANS_GATE2_DUMP (read at each Huffman batch): the symbols of every
// coded stream, appended to the named file as one record each: "TG2R", the
// stream id (0 literal, 1 token, 2 off16 high bytes, 3 off16 low bytes), the
// u32 symbol count, the u32 coded size, then the symbols (a stride-2
// stream's bytes gathered). Nothing is written when the LZ output cannot be
// read or the file cannot be opened; the encode goes on either way.
#include <new>
#include <span>
#include <vector>

#include "core/format/chunk_records.h"
#include "core/platform/platform.h"
#include "pipeline/device/backend_hooks.h"
#include "pipeline/encode/huffman_stage.h"

namespace kvn {
namespace {

constexpr uint32_t kRecordMagic = 0x52324754;  // "TG2R"
constexpr uint8_t kOff16HighId = 2, kOff16LowId = 3;
// The largest stride-2 stream a record gathers.
constexpr uint64_t kMaxGathered = 131072;

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

void appendRecords(std::vector<uint8_t>& out, std::span<const uint8_t> area, std::span<const HuffEncodeDesc> jobs,
                   const uint32_t* sizes, uint8_t id) {
    for (size_t i = 0; i < jobs.size(); ++i) {
        const HuffEncodeDesc& j = jobs[i];
        const uint64_t span = uint64_t{j.count} * j.stride;
        if (j.count == 0 || j.stride == 0 || j.src_off + span > area.size()) continue;
        if (j.stride > 1 && j.count > kMaxGathered) continue;
        putU32(out, kRecordMagic);
        out.push_back(id);
        putU32(out, j.count);
        putU32(out, sizes[i]);
        for (uint64_t k = 0; k < j.count; ++k) out.push_back(area[j.src_off + k * j.stride]);
    }
}

}  // namespace

void dumpCodedStreams(DeviceBufferHandle lz_output, uint64_t lz_output_bytes, const HuffEncodeDesc* jobs,
                      const uint32_t* sizes, uint64_t count, uint32_t kind) {
    const char* path = envText("KVN_TANS_GATE2_DUMP");
    const GpuOpsTable& ops = gpuOps();
    if (!path || *path == '\0' || lz_output_bytes == 0 || !ops.memcpyDtoH) return;
    try {
        std::vector<uint8_t> area(lz_output_bytes);
        if (ops.memcpyDtoH(area.data(), lz_output, lz_output_bytes) != Error::None) return;
        std::vector<uint8_t> records;
        const std::span<const HuffEncodeDesc> all(jobs, count);
        if (kind == kHuffOff16Streams) {
            // The high-byte job of every sub-chunk, then the low-byte ones.
            const uint64_t half = count / 2;
            appendRecords(records, area, all.first(half), sizes, kOff16HighId);
            appendRecords(records, area, all.subspan(half), sizes + half, kOff16LowId);
        } else {
            appendRecords(records, area, all, sizes, static_cast<uint8_t>(kind));
        }
        if (!records.empty()) appendToFile(path, records.data(), records.size());
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace kvn
