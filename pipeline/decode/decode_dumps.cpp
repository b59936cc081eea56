#include "pipeline/decode/decode_dumps.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/format/size_math.h"
#include "core/integrity/xxh32.h"
#include "core/platform/platform.h"
#include "pipeline/device/backend_hooks.h"

namespace kvn {
namespace {

constexpr uint64_t kSegmentBytes = 1024;
constexpr uint32_t kDiagRecords = 256;

uint32_t wordAt(const uint8_t* bytes, uint64_t offset) {
    uint32_t w;
    std::memcpy(&w, bytes + offset, 4);
    return w;
}

}  // namespace

uint32_t chunkSegmentHash(const uint8_t* bytes, uint64_t len) {
    const uint64_t segments = len == 0 ? 0 : ceilDiv(len, kSegmentBytes);
    std::string hashes(segments * 4, '\0');
    for (uint64_t s = 0; s < segments; ++s) {
        const uint64_t at = s * kSegmentBytes;
        const uint32_t h = xxh32(bytes + at, len - at < kSegmentBytes ? len - at : kSegmentBytes);
        std::memcpy(hashes.data() + 4 * s, &h, 4);
    }
    return xxh32(reinterpret_cast<const uint8_t*>(hashes.data()), hashes.size());
}

DumpCopy copySlotToFile(DecoderState& decoder, StreamHandle stream, DecodeSlot slot, uint64_t offset,
                        uint64_t bytes, const char* path) {
    const GpuOpsTable& ops = gpuOps();
    if (!ops.streamSynchronize || !ops.memcpyDtoHSrcOffset) return {Error::BackendNotAvailable, Error::None};
    ops.streamSynchronize(stream);
    void* host = std::malloc(bytes);
    if (!host) return {Error::BackendNotAvailable, Error::None};
    // A small batch's slot may end before the dumped range: a failed copy,
    // never a read past the buffer.
    const DeviceSlot& source = decoder.device_slots[slot];
    const bool inside = offset <= source.capacity && bytes <= source.capacity - offset;
    const Error copied = inside ? ops.memcpyDtoHSrcOffset(host, source.handle, bytes, offset) : Error::BadRequest;
    if (copied == Error::None) writeWholeFile(path, host, bytes);
    std::free(host);
    return {Error::None, copied};
}

Error writeLzDiagnostics(DecoderState& decoder, StreamHandle stream, const char* path) {
    const GpuOpsTable& ops = gpuOps();
    if (ops.streamSynchronize) ops.streamSynchronize(stream);
    uint8_t* diag = static_cast<uint8_t*>(std::malloc(kLzDiagBytes));
    if (!diag) return Error::BackendNotAvailable;
    if (!ops.memcpyDtoH || ops.memcpyDtoH(diag, slotHandle(decoder, kLzDiag), kLzDiagBytes) != Error::None) {
        std::free(diag);
        return Error::None;
    }
    std::string text;
    char line[512];
    const uint32_t emitted = wordAt(diag, 0);
    const uint32_t records = emitted < kDiagRecords ? emitted : kDiagRecords;
    std::snprintf(line, sizeof line, "records=%u (emitted %u)\n", records, emitted);
    text += line;
    for (uint32_t i = 0; i < records; ++i) {
        uint32_t w[16];
        for (uint32_t k = 0; k < 16; ++k) w[k] = wordAt(diag, 4 + 64 * uint64_t(i) + 4 * k);
        std::snprintf(line, sizeof line,
                      "sc_off=%u sc_comp=%u src_end=%u lit=%u/%u in_scr=%u cmd=%u/%u in_scr=%u o16=%u/%u o32a=%u/%u "
                      "o32b=%u/%u len_s=%u\n",
                      w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10], w[11], w[12], w[13], w[14],
                      w[15]);
        text += line;
    }
    std::snprintf(line, sizeof line, "readLength calls=%u max_addr=%u at base=%u off=%u rem=%u\n", wordAt(diag, 4),
                  wordAt(diag, 0x8000), wordAt(diag, 0x8004), wordAt(diag, 0x8008), wordAt(diag, 0x800C));
    text += line;
    std::snprintf(line, sizeof line,
                  "walk max_chunk_src+3=%u max_chunk_src_end=%u max_sc_dst_off=%u cmd_batched_max=%u "
                  "cmd_slow_max=%u arm3split=%u arm2split=%u\n",
                  wordAt(diag, 0x8010), wordAt(diag, 0x8014), wordAt(diag, 0x8018), wordAt(diag, 0x801C),
                  wordAt(diag, 0x8020), wordAt(diag, 0x8024), wordAt(diag, 0x8028));
    text += line;
    std::free(diag);
    writeWholeFile(path, text.data(), text.size());
    return Error::None;
}

void dumpBlockChunks(std::span<const KvnChunkDesc> descs, std::span<const uint8_t> payload) {
    const DecodeDiagnostics& form = decodeDiagnostics();
    if (form.descriptor_lines && envPresent("KVN_DUMP_MERKLE")) {
        for (size_t i = 0; i < descs.size(); ++i) {
            const KvnChunkDesc& d = descs[i];
            std::fprintf(stderr, "CHUNK[%zu] src_off=%u comp_size=%u decomp_size=%u dst_off=%u flags=%x\n", i,
                         d.src_off, d.comp_size, d.decomp_size, d.dst_off, d.flags);
        }
    }
    const char* path = envText("KVN_DUMP_CHUNK1");
    if (!path || descs.size() < 2) return;
    const KvnChunkDesc& d = descs[1];
    // A byte-fill chunk has no bytes; a record never lies outside the payload.
    const uint64_t len = uint64_t(d.src_off) + d.comp_size <= payload.size() ? d.comp_size : 0;
    if (writeWholeFile(path, payload.data() + d.src_off, len))
        std::fprintf(stderr, "KVN_DUMP_CHUNK1[%s]: wrote %" PRIu64 " bytes to %s\n", form.tag, len, path);
    else
        std::fprintf(stderr, "KVN_DUMP_CHUNK1[%s]: dump to %s FAILED: %s\n", form.tag, path,
                     errorName(Error::CopyFailed));
}

void dumpMerkleInput(const uint8_t* out, uint64_t bytes, const char* what, uint32_t value, uint32_t expected) {
    const char* path = envText("KVN_DUMP_MERKLE_INPUT");
    if (!path) return;
    const char* tag = decodeDiagnostics().tag;
    if (writeWholeFile(path, out, bytes))
        std::fprintf(stderr, "MERKLE_INPUT[%s]: wrote %" PRIu64 " bytes to %s (%s=%u expected=%08x)\n", tag, bytes,
                     path, what, value, expected);
    else
        std::fprintf(stderr, "MERKLE_INPUT[%s]: dump to %s FAILED: %s (%s=%u expected=%08x)\n", tag, path,
                     errorName(Error::CopyFailed), what, value, expected);
}

void dumpCpuMerkle(const uint8_t* out, uint64_t bytes, uint64_t chunk_size, uint32_t computed, uint32_t expected) {
    if (!envPresent("KVN_DUMP_MERKLE")) return;
    std::fprintf(stderr, "MERKLE[%s] dst_off=%" PRIu64 " eff=%" PRIu64 " computed=%08x expected=%08x\n",
                 decodeDiagnostics().tag, bytes, chunk_size, computed, expected);
    for (uint64_t at = 0, i = 0; at < bytes; at += chunk_size, ++i) {
        const uint64_t len = bytes - at < chunk_size ? bytes - at : chunk_size;
        const uint64_t segments = ceilDiv(len, kSegmentBytes);
        std::fprintf(stderr, "  CHUNK[%" PRIu64 "] len=%" PRIu64 " n_segs=%" PRIu64 " hash=%08x\n", i, len, segments,
                     chunkSegmentHash(out + at, len));
        for (uint64_t j = 0; j < segments; ++j) {
            const uint64_t s = j * kSegmentBytes;
            std::fprintf(stderr, "    seg[%" PRIu64 "] hash=%08x\n", j,
                         xxh32(out + at + s, len - s < kSegmentBytes ? len - s : kSegmentBytes));
        }
    }
}

Error compareDeviceLeaves(DecoderState& decoder, const uint8_t* out, uint64_t bytes, uint64_t chunk_size,
                          int32_t verdict, uint32_t expected) {
    if (!decodeDiagnostics().merkle_switches || !envPresent("KVN_VK_MERKLE_DEBUG")) return Error::None;
    std::fprintf(stderr, "[A-033] hdr.chunk_merkle=true device_verdict=%d expected=%08x\n", verdict, expected);
    const uint64_t chunks = ceilDiv(bytes, chunk_size);
    uint32_t* host = static_cast<uint32_t*>(std::malloc(chunks * 4 + 4));
    if (!host) return Error::OutOfMemory;
    for (uint64_t i = 0; i < chunks; ++i) {
        const uint64_t at = i * chunk_size;
        host[i] = chunkSegmentHash(out + at, bytes - at < chunk_size ? bytes - at : chunk_size);
    }
    uint32_t* device = static_cast<uint32_t*>(std::malloc(chunks * 4 + 4));
    if (!device) {
        std::free(host);
        return Error::OutOfMemory;
    }
    const GpuOpsTable& ops = gpuOps();
    const DeviceSlot& leaves = decoder.device_slots[kChunkHashes];
    if (!ops.memcpyDtoH || leaves.capacity < chunks * 4 ||
        (chunks > 0 && ops.memcpyDtoH(device, leaves.handle, chunks * 4) != Error::None)) {
        std::fputs("[A-033] D2H of d_merkle_hashes failed\n", stderr);
    } else {
        uint64_t first = chunks;
        for (uint64_t i = 0; i < chunks && first == chunks; ++i)
            if (host[i] != device[i]) first = i;
        if (first == chunks) {
            std::fprintf(stderr, "[A-033] all %" PRIu64 " chunk hashes match host\n", chunks);
        } else {
            std::fprintf(stderr, "[A-033] first divergent chunk %" PRIu64 ": host=%08x device=%08x\n", first,
                         host[first], device[first]);
            for (uint64_t j = 0; j < chunks && j < 8; ++j)
                std::fprintf(stderr, "  chunk %" PRIu64 ": host=%08x device=%08x\n", j, host[j], device[j]);
        }
    }
    std::free(host);
    std::free(device);
    return Error::None;
}

}  // namespace kvn
