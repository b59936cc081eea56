#include "pipeline/encode/frame_writer.h"

#include "core/encode/frame_geometry.h"
#include "core/encode/level_table.h"
#include "core/format/frame_header.h"
#include "core/format/size_math.h"
#include "core/platform/platform.h"
#include "pipeline/encode/body_encode.h"
#include "pipeline/encode/dictionary_upload.h"
#include "pipeline/encode/encode_kernels.h"
#include "pipeline/encode/frame_source.h"

namespace kvn {
namespace {

// The chunk-size table needs chunks of at least 64 KiB and a compressed body.
constexpr uint64_t kMinTableChunk = 65536;

}  // namespace

WrittenBytes encodeFrameGpu(const uint8_t* src, uint64_t len, uint8_t* dst, uint64_t cap, const EncodeParams& params,
                            EncoderState& encoder, std::span<const uint8_t> wrt_section, FrameInput input) {
    if (!ensureEncodePipelines()) return {0, Error::BackendNotAvailable};
    // Each attempt at the frame starts with none of it on the device (a word-
    // transformed attempt that does not fit gives way to a plain frame).
    encoder.frame_bytes_on_device = 0;
    encoder.min_dist_floor = params.min_dist_floor;
    encoder.dict_table_ready = false;
    const float fraction = chunkFraction(params);
    if (params.use_dict) {
        if (const Error e = prepareDeviceDictionary(encoder, params.dict_id, levelParams(params.level).hash_bits);
            e != Error::None)
            return {0, e};
    }
    // The body's leaves serve the trailer only when it hashes the caller's bytes.
    encoder.merkle_leaves_wanted = len != 0 && params.merkle && input == FrameInput::Caller && wrt_section.empty() &&
                                   !envPresent("KVN_NO_DEVICE_MERKLE");
    encoder.merkle_chunk_size = static_cast<uint32_t>(frameChunkSize(fraction));
    encoder.merkle_chunk_count = encoder.merkle_chunk_size ? static_cast<uint32_t>(ceilDiv(len, encoder.merkle_chunk_size)) : 0;
    encoder.merkle_leaves_done = 0;
    encoder.merkle_leaves_valid = false;
    encoder.merkle_root_appended = false;

    const uint64_t unclamped_chunk = static_cast<uint64_t>(fraction * static_cast<float>(kMaxChunkSize));
    FrameHeaderFields fields;
    fields.level = params.level;
    fields.block_size = params.block_size;
    fields.sc_group_size = fraction;
    fields.write_content_size = params.write_content_size;
    fields.content_size = len;
    fields.use_dict = params.use_dict;
    fields.dict_id = params.dict_id;
    fields.checksum = params.checksum;
    fields.merkle = params.merkle;
    fields.chunk_table = params.chunk_table && len > kMaxStoredInput && unclamped_chunk >= kMinTableChunk;
    fields.wrt_section = wrt_section;
    const WrittenBytes header = writeFrameHeader(dst, cap, fields);
    if (header.error != Error::None) return header;
    if (len == 0) return writeEmptyBody(dst, cap, header.size);
    if (len <= kMaxStoredInput) return writeStoredSource(dst, cap, header.size, src, len, encoder);
    return encodeBodyGpu({src, len, dst, cap, params.level, fraction, header.size, fields.chunk_table}, encoder);
}

}  // namespace kvn
