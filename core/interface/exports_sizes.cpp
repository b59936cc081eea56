// Common family: the compress bound and the decoded sizes read from frame
// headers. None of them needs the device.
#include "core/format/byte_order.h"
#include "core/format/compress_bound.h"
#include "core/format/frame_header.h"
#include "core/format/frame_walk.h"
#include "core/interface/interface_support.h"

using namespace kvn;

namespace {

// kvnGetDecompressedSize reads a header as if this many bytes were there.
constexpr uint64_t kAssumedHeaderBytes = 64;
constexpr uint64_t kWrtDecodedSizeBytes = 8;  // the section starts with the untransformed size
constexpr uint64_t kLargestReportedSize = uint64_t{1} << 32;

// What a good header says the frame decodes to: the untransformed size at the
// start of a WRT section (which must lie within `available`), else the
// content size. Nothing when the frame does not say.
bool frameDecodedSize(const uint8_t* frame, const FrameHeader& header, uint64_t available, uint64_t* size) {
    if (header.flags & kFrameWrtSection) {
        if (header.wrt_section_offset > available || available - header.wrt_section_offset < kWrtDecodedSizeBytes)
            return false;
        *size = loadLe64(frame + header.wrt_section_offset);
        return true;
    }
    if (!header.has_content_size) return false;
    *size = header.content_size;
    return true;
}

}  // namespace

extern "C" {

KVN_API KvnStatus kvnCompressBound(void* handle, uint64_t n, uint64_t, uint64_t* out) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (!out) return KVN_STATUS_INVALID_ARGUMENT;
    *out = compressBound(n);
    return KVN_STATUS_SUCCESS;
}

KVN_API KvnStatus kvnGetDecompressedSize(void* handle, const uint8_t* frame, uint64_t* out) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (!frame || !out) return KVN_STATUS_INVALID_ARGUMENT;
    const FrameHeader header = parseFrameHeader(frame, kAssumedHeaderBytes);
    uint64_t size = 0;
    if (header.error != Error::None || !frameDecodedSize(frame, header, kAssumedHeaderBytes, &size) ||
        size > kLargestReportedSize)
        return KVN_STATUS_CORRUPT_FRAME;
    *out = size;
    return KVN_STATUS_SUCCESS;
}

KVN_API KvnStatus kvnGetTotalDecompressedSize(void* handle, const uint8_t* data, uint64_t len, uint64_t* out) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (!data || !out) return KVN_STATUS_INVALID_ARGUMENT;
    if (len == 0) {
        *out = 0;
        return KVN_STATUS_SUCCESS;
    }
    uint64_t total = 0;
    for (uint64_t pos = 0; pos < len;) {
        const FrameStep step = nextFrame(data, len, pos);
        if (step.ends_input) break;
        if (step.error != Error::None) return KVN_STATUS_CORRUPT_FRAME;
        const uint8_t* frame = data + pos;
        uint64_t size = 0;
        if (!frameDecodedSize(frame, step.header, step.length, &size)) return KVN_STATUS_CORRUPT_FRAME;
        if (__builtin_add_overflow(total, size, &total)) return KVN_STATUS_CORRUPT_FRAME;
        pos += step.length;
    }
    if (total == 0) return KVN_STATUS_CORRUPT_FRAME;
    *out = total;
    return KVN_STATUS_SUCCESS;
}

}  // extern "C"
