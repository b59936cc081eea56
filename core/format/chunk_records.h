// Records shared by host code and kernels. Kernels see them as arrays of u32
// words; the layouts are fixed in kernels/format_constants.h and checked here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/format_constants.h"

namespace kvn {

// One chunk of a compressed block, as every decode road describes it.
struct KvnChunkDesc {
    uint32_t src_off;      // payload offset (after the chunk's headers) in the block payload
    uint32_t comp_size;    // payload bytes; the decoded size for a stored chunk
    uint32_t decomp_size;  // decoded bytes
    uint32_t dst_off;      // decoded offset in the output buffer
    uint32_t flags;        // kind in bits 0-1, KVN_CHUNK_FLAG_FRAME_FIRST
    uint8_t fill_byte;
    uint8_t zero[3];
};

// Decode: one Huffman stream found by the sub-chunk scan (present = 1).
struct KvnScanHuffDesc {
    uint32_t src_off, comp_size, dst_off, decomp_size, present;
};

// Decode: one stored half of a split off16 stream (present = 1).
struct KvnScanRawDesc {
    uint32_t src_off, len, dst_off, present;
};

// Decode: a compacted Huffman stream; lut_off is its table's word offset.
struct KvnHuffDecChunkDesc {
    uint32_t src_off, comp_size, dst_off, decomp_size, lut_off;
};

// Decode: a compacted stored off16 half.
struct KvnRawOff16Desc {
    uint32_t src_off, len, dst_off;
};

// Encode: one sub-chunk of the frame input.
struct CompressChunkDesc {
    uint32_t src_off, len, out_off, out_stride, first;
};

// Encode: where a sub-chunk's LZ output keeps its streams.
struct LzStreamScan {
    uint32_t lit_off, lit_count, tok_off, tok_count, off16_off, off16_count;
};

// Encode: one stream to Huffman-code.
struct HuffEncodeDesc {
    uint32_t src_off, count, stride, out_off, out_cap;
};

// Encode: one sub-chunk for the assembly kernels.
struct AssembleRecord {
    uint32_t lz_off, lz_size;
    uint32_t lit_off, lit_size;
    uint32_t tok_off, tok_size;
    uint32_t off16_hi_off, off16_hi_size;
    uint32_t off16_lo_off, off16_lo_size;
    uint32_t raw_len, prefix_len, out_off;
};

#define KVN_CHECK_WORD(type, field, word) \
    static_assert(offsetof(type, field) == 4 * (word), #type "." #field " moved")
#define KVN_CHECK_SIZE(type, bytes, words) \
    static_assert(sizeof(type) == (bytes) && (bytes) == 4 * (words), #type " size")

KVN_CHECK_SIZE(KvnChunkDesc, KVN_CHUNK_DESC_BYTES, KVN_CHUNK_DESC_WORDS);
KVN_CHECK_WORD(KvnChunkDesc, src_off, KVN_CHUNK_DESC_W_SRC_OFF);
KVN_CHECK_WORD(KvnChunkDesc, comp_size, KVN_CHUNK_DESC_W_COMP_SIZE);
KVN_CHECK_WORD(KvnChunkDesc, decomp_size, KVN_CHUNK_DESC_W_DECOMP_SIZE);
KVN_CHECK_WORD(KvnChunkDesc, dst_off, KVN_CHUNK_DESC_W_DST_OFF);
KVN_CHECK_WORD(KvnChunkDesc, flags, KVN_CHUNK_DESC_W_FLAGS);
KVN_CHECK_WORD(KvnChunkDesc, fill_byte, KVN_CHUNK_DESC_W_FILL);

KVN_CHECK_SIZE(KvnScanHuffDesc, KVN_SCAN_HUFF_DESC_BYTES, KVN_SCAN_HUFF_DESC_WORDS);
KVN_CHECK_WORD(KvnScanHuffDesc, src_off, KVN_SCAN_HUFF_W_SRC_OFF);
KVN_CHECK_WORD(KvnScanHuffDesc, comp_size, KVN_SCAN_HUFF_W_COMP_SIZE);
KVN_CHECK_WORD(KvnScanHuffDesc, dst_off, KVN_SCAN_HUFF_W_DST_OFF);
KVN_CHECK_WORD(KvnScanHuffDesc, decomp_size, KVN_SCAN_HUFF_W_DECOMP_SIZE);
KVN_CHECK_WORD(KvnScanHuffDesc, present, KVN_SCAN_HUFF_W_PRESENT);

KVN_CHECK_SIZE(KvnScanRawDesc, KVN_SCAN_RAW_DESC_BYTES, KVN_SCAN_RAW_DESC_WORDS);
KVN_CHECK_WORD(KvnScanRawDesc, src_off, KVN_SCAN_RAW_W_SRC_OFF);
KVN_CHECK_WORD(KvnScanRawDesc, len, KVN_SCAN_RAW_W_LEN);
KVN_CHECK_WORD(KvnScanRawDesc, dst_off, KVN_SCAN_RAW_W_DST_OFF);
KVN_CHECK_WORD(KvnScanRawDesc, present, KVN_SCAN_RAW_W_PRESENT);

KVN_CHECK_SIZE(KvnHuffDecChunkDesc, KVN_HUFF_DEC_DESC_BYTES, KVN_HUFF_DEC_DESC_WORDS);
KVN_CHECK_WORD(KvnHuffDecChunkDesc, src_off, KVN_HUFF_DEC_W_SRC_OFF);
KVN_CHECK_WORD(KvnHuffDecChunkDesc, comp_size, KVN_HUFF_DEC_W_COMP_SIZE);
KVN_CHECK_WORD(KvnHuffDecChunkDesc, dst_off, KVN_HUFF_DEC_W_DST_OFF);
KVN_CHECK_WORD(KvnHuffDecChunkDesc, decomp_size, KVN_HUFF_DEC_W_DECOMP_SIZE);
KVN_CHECK_WORD(KvnHuffDecChunkDesc, lut_off, KVN_HUFF_DEC_W_LUT_OFF);

KVN_CHECK_SIZE(KvnRawOff16Desc, KVN_RAW_OFF16_DESC_BYTES, KVN_RAW_OFF16_DESC_WORDS);
KVN_CHECK_WORD(KvnRawOff16Desc, src_off, KVN_RAW_OFF16_W_SRC_OFF);
KVN_CHECK_WORD(KvnRawOff16Desc, len, KVN_RAW_OFF16_W_LEN);
KVN_CHECK_WORD(KvnRawOff16Desc, dst_off, KVN_RAW_OFF16_W_DST_OFF);

KVN_CHECK_SIZE(CompressChunkDesc, KVN_COMPRESS_DESC_BYTES, KVN_COMPRESS_DESC_WORDS);
KVN_CHECK_WORD(CompressChunkDesc, src_off, KVN_COMPRESS_W_SRC_OFF);
KVN_CHECK_WORD(CompressChunkDesc, len, KVN_COMPRESS_W_LEN);
KVN_CHECK_WORD(CompressChunkDesc, out_off, KVN_COMPRESS_W_OUT_OFF);
KVN_CHECK_WORD(CompressChunkDesc, out_stride, KVN_COMPRESS_W_OUT_STRIDE);
KVN_CHECK_WORD(CompressChunkDesc, first, KVN_COMPRESS_W_FIRST);

KVN_CHECK_SIZE(LzStreamScan, KVN_LZ_SCAN_BYTES, KVN_LZ_SCAN_WORDS);
KVN_CHECK_WORD(LzStreamScan, lit_off, KVN_LZ_SCAN_W_LIT_OFF);
KVN_CHECK_WORD(LzStreamScan, lit_count, KVN_LZ_SCAN_W_LIT_COUNT);
KVN_CHECK_WORD(LzStreamScan, tok_off, KVN_LZ_SCAN_W_TOK_OFF);
KVN_CHECK_WORD(LzStreamScan, tok_count, KVN_LZ_SCAN_W_TOK_COUNT);
KVN_CHECK_WORD(LzStreamScan, off16_off, KVN_LZ_SCAN_W_OFF16_OFF);
KVN_CHECK_WORD(LzStreamScan, off16_count, KVN_LZ_SCAN_W_OFF16_COUNT);

KVN_CHECK_SIZE(HuffEncodeDesc, KVN_HUFF_ENC_DESC_BYTES, KVN_HUFF_ENC_DESC_WORDS);
KVN_CHECK_WORD(HuffEncodeDesc, src_off, KVN_HUFF_ENC_W_SRC_OFF);
KVN_CHECK_WORD(HuffEncodeDesc, count, KVN_HUFF_ENC_W_COUNT);
KVN_CHECK_WORD(HuffEncodeDesc, stride, KVN_HUFF_ENC_W_STRIDE);
KVN_CHECK_WORD(HuffEncodeDesc, out_off, KVN_HUFF_ENC_W_OUT_OFF);
KVN_CHECK_WORD(HuffEncodeDesc, out_cap, KVN_HUFF_ENC_W_OUT_CAP);

KVN_CHECK_SIZE(AssembleRecord, KVN_ASSEMBLE_RECORD_BYTES, KVN_ASSEMBLE_RECORD_WORDS);
KVN_CHECK_WORD(AssembleRecord, lz_off, KVN_ASSEMBLE_W_LZ_OFF);
KVN_CHECK_WORD(AssembleRecord, lz_size, KVN_ASSEMBLE_W_LZ_SIZE);
KVN_CHECK_WORD(AssembleRecord, lit_off, KVN_ASSEMBLE_W_LIT_OFF);
KVN_CHECK_WORD(AssembleRecord, lit_size, KVN_ASSEMBLE_W_LIT_SIZE);
KVN_CHECK_WORD(AssembleRecord, tok_off, KVN_ASSEMBLE_W_TOK_OFF);
KVN_CHECK_WORD(AssembleRecord, tok_size, KVN_ASSEMBLE_W_TOK_SIZE);
KVN_CHECK_WORD(AssembleRecord, off16_hi_off, KVN_ASSEMBLE_W_OFF16_HI_OFF);
KVN_CHECK_WORD(AssembleRecord, off16_hi_size, KVN_ASSEMBLE_W_OFF16_HI_SIZE);
KVN_CHECK_WORD(AssembleRecord, off16_lo_off, KVN_ASSEMBLE_W_OFF16_LO_OFF);
KVN_CHECK_WORD(AssembleRecord, off16_lo_size, KVN_ASSEMBLE_W_OFF16_LO_SIZE);
KVN_CHECK_WORD(AssembleRecord, raw_len, KVN_ASSEMBLE_W_RAW_LEN);
KVN_CHECK_WORD(AssembleRecord, prefix_len, KVN_ASSEMBLE_W_PREFIX_LEN);
KVN_CHECK_WORD(AssembleRecord, out_off, KVN_ASSEMBLE_W_OUT_OFF);

#undef KVN_CHECK_WORD
#undef KVN_CHECK_SIZE

}  // namespace kvn
