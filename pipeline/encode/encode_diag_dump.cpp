#include "pipeline/encode/encode_diag_dump.h"

#include <cstdio>
#include <cstring>

#include "core/platform/platform.h"
#include "pipeline/device/device_ops.h"
#include "pipeline/encode/encoder_buffers.h"

namespace kvn {
namespace {

constexpr uint32_t kMaxDumpedRecords = 4095;
constexpr uint64_t kRecordWords = 8;
constexpr size_t kTextBytes = 0x100000;

uint32_t wordAt(std::span<const uint8_t> bytes, uint64_t index) {
    uint32_t w;
    std::memcpy(&w, bytes.data() + 4 * index, 4);
    return w;
}

}  // namespace

std::string formatEncodeDiagRecords(std::span<const uint8_t> diag) {
    const uint32_t emitted = wordAt(diag, 0);
    const uint32_t records = emitted < kMaxDumpedRecords ? emitted : kMaxDumpedRecords;
    char line[160];
    std::snprintf(line, sizeof line, "records=%u (emitted %u)\n", records, emitted);
    std::string text = line;
    for (uint32_t r = 0; r < records; ++r) {
        uint32_t w[kRecordWords];
        for (uint64_t k = 0; k < kRecordWords; ++k) w[k] = wordAt(diag, 1 + r * kRecordWords + k);
        const int n = std::snprintf(line, sizeof line, "%02x %u %08x %u %u %u %u %d\n", w[0], w[1], w[2], w[3], w[4],
                                    w[5], w[6], static_cast<int32_t>(w[7]));
        if (text.size() + static_cast<size_t>(n) > kTextBytes) break;
        text.append(line, static_cast<size_t>(n));
    }
    return text;
}

Error writeEncodeDiagDump(EncoderState& encoder, const char* path) {
    uint8_t* host = static_cast<uint8_t*>(allocPages(kEncodeDiagBytes));
    if (!host) return Error::GpuPipelineFailed;
    const GpuOpsTable& ops = gpuOps();
    const DeviceBuffer& diag = encoderBuffer(encoder, kDiagBuffer);
    if (ops.memcpyDtoH && diag.capacity >= kEncodeDiagBytes &&
        ops.memcpyDtoH(host, diag.handle, kEncodeDiagBytes) == Error::None) {
        std::string text;
        try {
            text = formatEncodeDiagRecords({host, kEncodeDiagBytes});
        } catch (const std::bad_alloc&) {
            freePages(host, kEncodeDiagBytes);
            return Error::GpuPipelineFailed;
        }
        writeWholeFile(path, text.data(), text.size());
        const uint32_t emitted = wordAt({host, kEncodeDiagBytes}, 0);
        std::fprintf(stderr, "[ediag] wrote %u records to %s\n",
                     emitted < kMaxDumpedRecords ? emitted : kMaxDumpedRecords, path);
    }
    freePages(host, kEncodeDiagBytes);
    return Error::None;
}

}  // namespace kvn
