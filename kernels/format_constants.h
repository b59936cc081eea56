// Constants of the byte formats inside a frame body, shared by GLSL kernels
// (glslc), CUDA kernels (nvcc) and host C++. Plain #define lines only, so
// every compiler can include this file as it is.
//
// Byte order: little-endian, except the 3-byte sub-chunk header and the
// 3-byte literal and token counts (big-endian). Huffman lanes are read most
// significant bit first from big-endian 32-bit words.
//
// Records are described as arrays of u32 words: *_WORDS is the record length,
// *_W_<FIELD> the word index of a field. The host structs in
// core/format/chunk_records.h are checked against these values.

#ifndef KVN_FORMAT_CONSTANTS_H
#define KVN_FORMAT_CONSTANTS_H

// ---- Sizes ---------------------------------------------------------------
// A chunk decodes to at most this many bytes (chunk size = fraction x this).
#define KVN_CHUNK_UNIT 262144u
// Most chunks one compressed block may hold.
#define KVN_MAX_CHUNKS_PER_BLOCK 65536u
// Decoded size of a full sub-chunk; also one decoded-stream scratch slot.
#define KVN_SUBCHUNK_SIZE 131072u
// What the descriptor kernels use when they are given a sub-chunk size of 0.
#define KVN_SUBCHUNK_SIZE_DEFAULT 65536u
// A sub-chunk is decoded in halves of this size (off32 bases, token split).
#define KVN_HALF_SIZE 65536u
// Raw bytes that open a frame's first sub-chunk, and bytes per entry of the
// chunk-prefix area.
#define KVN_FRAME_PREFIX_BYTES 8u
#define KVN_CHUNK_PREFIX_BYTES 8u

// ---- Frame-walk status (the status cell; 0 is success) ---------------------
#define KVN_WALK_OK 0u
#define KVN_WALK_BAD_MAGIC 1u
#define KVN_WALK_BAD_VERSION 2u
#define KVN_WALK_BAD_CODEC 3u
// A header field the host reader refuses too: the chunk fraction (not
// finite, not above 0, above 65536, below one byte), the block size code,
// the byte-plane stride, or a negative content size.
#define KVN_WALK_BAD_HEADER_FIELD 4u
// BLOCK_SKIP, or the long chunk size header.
#define KVN_WALK_UNSUPPORTED 5u
#define KVN_WALK_RAW_SIZE_MISSING 6u
#define KVN_WALK_BAD_CHUNK_HEADER 7u
#define KVN_WALK_BAD_CHUNK_VERSION 8u
#define KVN_WALK_SIZE_HEADER_SHORT 9u
#define KVN_WALK_BAD_CHUNK_MODE 10u
// More descriptors than the capacity, or a walk that ran out of its step budget.
#define KVN_WALK_TOO_MANY_CHUNKS 11u
#define KVN_WALK_TRUNCATED 12u
#define KVN_WALK_SECOND_BLOCK 13u
#define KVN_WALK_TABLE_MISMATCH 14u
#define KVN_WALK_TOO_LARGE 15u
// The cooperative whole-input decode only: a frame after the first that it
// does not take with the first (another dictionary, a WRT or byte-plane
// frame, a level code on the other side of 3) ...
#define KVN_WALK_MEGA_REFUSED 16u
// ... more sub-chunks than its per-sub-chunk lists hold, or than its 32-bit
// scratch offsets reach ...
#define KVN_WALK_MEGA_SUBCHUNKS 17u
// ... more tiles than its tile list holds, or a grid too small for its phases.
#define KVN_WALK_MEGA_TILES 18u
#define KVN_WALK_MEGA_GRID 19u
// Its descriptor counters: the four compacted Huffman list counts, the stored
// off16 halves, the merged count, then the LZ decode's KVN_LZ_STATUS_* bits.
#define KVN_MEGA_COUNTER_RAW 4u
#define KVN_MEGA_COUNTER_MERGED 5u
#define KVN_MEGA_COUNTER_LZ_STATUS 6u

// ---- Leap walk (the whole-input walk over many warps) ---------------------
// Frames it takes: one coded block of at least this much payload and chunks.
#define KVN_LEAP_MIN_PAYLOAD 1048576u
#define KVN_LEAP_MIN_CHUNKS 256u
// Control block: header words, then result words and a candidate list of
// entries (two words each) per warp.
#define KVN_LEAP_HEADER_WORDS 32u
#define KVN_LEAP_RESULT_WORDS 8u
#define KVN_LEAP_WARP_ENTRIES 64u
#define KVN_LEAP_CTL_STATE 0u
#define KVN_LEAP_CTL_SERIAL 19u  // 1: some frame does not suit the leap walk
#define KVN_LEAP_STATE_DONE 0u
#define KVN_LEAP_STATE_FAULT 1u
#define KVN_LEAP_STATE_READY 2u

// ---- Frame container (walked on the device) -------------------------------
#define KVN_FRAME_MAGIC 0x4B564E31u
#define KVN_FRAME_VERSION 2u
// The only codec the device walks accept.
#define KVN_FRAME_DEVICE_CODEC 1u
#define KVN_FRAME_FIXED_HEADER_BYTES 14u
#define KVN_FRAME_OFF_VERSION 4u
#define KVN_FRAME_OFF_FLAGS 5u
#define KVN_FRAME_OFF_CODEC 6u
#define KVN_FRAME_OFF_LEVEL 7u
#define KVN_FRAME_OFF_BLOCK_SIZE_CODE 8u
#define KVN_FRAME_OFF_SC_GROUP_SIZE 9u
#define KVN_FRAME_OFF_BYTE_PLANE 13u
// Largest block size code (block size 1 << (16 + code)).
#define KVN_FRAME_MAX_BLOCK_SIZE_CODE 6u
// Bit s set for each byte-plane stride s below 32 (2, 3, 4, 6, 8, 12, 16,
// 24, 28); 32 is the tenth.
#define KVN_BYTE_PLANE_STRIDE_BITS 0x1101115Cu
#define KVN_BYTE_PLANE_MAX_STRIDE 32u
#define KVN_FRAME_CONTENT_SIZE 0x01u
#define KVN_FRAME_CHECKSUM 0x02u
#define KVN_FRAME_DICT_ID 0x08u
#define KVN_FRAME_MERKLE_ROOT 0x20u
#define KVN_FRAME_CHUNK_TABLE 0x40u
#define KVN_FRAME_WRT_SECTION 0x80u
#define KVN_FRAME_CONTENT_SIZE_BYTES 8u
#define KVN_FRAME_DICT_ID_BYTES 4u
#define KVN_WRT_SECTION_MIN 16u
#define KVN_WRT_SECTION_MAX 0x4000000u
// The word transform's stream: escape and case bytes, one-byte codes from
// 0x80, two-byte codes led by 0xA8..0xC7; words of 3..32 letters; segments of
// 4096 text bytes, each encoded into its own area of 0x3000 bytes.
#define KVN_WRT_ESCAPE 0x03u
#define KVN_WRT_CAPITALIZE 0x04u
#define KVN_WRT_UPPERCASE 0x06u
#define KVN_WRT_CODE_BASE 0x80u
#define KVN_WRT_PAIR_LEAD_BASE 0xA8u
#define KVN_WRT_PAIR_LEAD_LAST 0xC7u
#define KVN_WRT_ONE_BYTE_WORDS 40u
#define KVN_WRT_MIN_WORD_LENGTH 3u
#define KVN_WRT_MAX_WORD_LENGTH 32u
#define KVN_WRT_SEGMENT_SIZE 4096u
#define KVN_WRT_SEGMENT_AREA 0x3000u
#define KVN_FRAME_TRAILER_BYTES 4u
#define KVN_CHUNK_TABLE_ENTRY_BYTES 3u
// Block header: u32 word (payload length, skip, stored), then u32 raw size.
#define KVN_BLOCK_HDR_BYTES 8u
#define KVN_BLOCK_LEN_MASK 0x3FFFFFFFu
#define KVN_BLOCK_SKIP 0x40000000u
#define KVN_BLOCK_STORED 0x80000000u
#define KVN_END_MARK_BYTES 4u

// ---- Chunk header (2 bytes) ----------------------------------------------
#define KVN_CHUNK_HDR_BYTES 2u
#define KVN_CHUNK_HDR0_MAGIC_MASK 0x0Fu
#define KVN_CHUNK_HDR0_MAGIC 5u
// Bit 4 of chunk 0: the block payload ends in a chunk-prefix area.
#define KVN_CHUNK_HDR0_PREFIX_AREA 0x10u
#define KVN_CHUNK_HDR0_STORED 0x80u
// Byte 0 as the writers write it (prefix-area bit added separately).
#define KVN_CHUNK_HDR0_CODED_WRITTEN 0x55u
#define KVN_CHUNK_HDR0_STORED_WRITTEN 0xD5u
// Byte 1: low 7 bits 1 or 2 (writers write 1); bit 7 is the long size header.
#define KVN_CHUNK_HDR1_VERSION_MASK 0x7Fu
#define KVN_CHUNK_HDR1_VERSION_MAX 2u
#define KVN_CHUNK_HDR1_WRITTEN 1u
#define KVN_CHUNK_HDR1_LONG_SIZE 0x80u

// ---- Chunk size header (u32 after the chunk header of a non-stored chunk) -
#define KVN_SIZE_HDR_BYTES 4u
// The long form adds 3 bytes nobody interprets.
#define KVN_SIZE_HDR_LONG_BYTES 7u
#define KVN_SIZE_HDR_LEN_MASK 0x3FFFFu
#define KVN_SIZE_HDR_MODE_SHIFT 18u
#define KVN_SIZE_HDR_MODE_MASK 3u
#define KVN_CHUNK_MODE_CODED 0u
#define KVN_CHUNK_MODE_FILL 1u

// ---- KvnChunkDesc flags --------------------------------------------------
// The chunk kind is flags & KVN_CHUNK_KIND_MASK.
#define KVN_CHUNK_KIND_MASK 3u
#define KVN_CHUNK_KIND_CODED 0u
#define KVN_CHUNK_KIND_STORED 1u
#define KVN_CHUNK_KIND_FILL 2u
// Set by walks over several frames: the chunk opens a frame, so its first
// sub-chunk carries the frame's 8 raw bytes.
#define KVN_CHUNK_FLAG_FRAME_FIRST 4u

// ---- LZ decode status word (bits OR-ed by the LZ decode kernels) ----------
// A chunk's output was not written in full by its data (a damaged sub-chunk
// header, a sequence short of literals or distances, a descriptor outside the
// buffers): the frame is corrupt.
#define KVN_LZ_STATUS_UNWRITTEN 1u
// A loop ended before its own condition did (lavapipe's loop budget): the
// output is incomplete although the frame may be valid.
#define KVN_LZ_STATUS_CUT 2u

// ---- Sub-chunk header (3 bytes, big-endian) ------------------------------
#define KVN_SUBCHUNK_HDR_BYTES 3u
#define KVN_SUBCHUNK_HDR_VALID 0x800000u
#define KVN_SUBCHUNK_LITMODE_SHIFT 19u
#define KVN_SUBCHUNK_LITMODE_MASK 0xFu
#define KVN_SUBCHUNK_LEN_MASK 0x7FFFFu
// Literal modes; any other mode ends the decode of the chunk.
#define KVN_LITMODE_DELTA 0u
#define KVN_LITMODE_PLAIN 1u
// Header as the writers write it: valid bit and plain literals.
#define KVN_SUBCHUNK_HDR_WRITTEN 0x880000u

// ---- Stream headers ------------------------------------------------------
// Type in bits 4-6 of the first byte; bit 7 selects the short form.
#define KVN_STREAM_TYPE_SHIFT 4u
#define KVN_STREAM_TYPE_MASK 7u
#define KVN_STREAM_SHORT_FORM 0x80u
#define KVN_STREAM_STORED 0u
#define KVN_STREAM_HUFFMAN 4u
// Header lengths: stored long/short, Huffman long/short.
#define KVN_STREAM_STORED_HDR_BYTES 3u
#define KVN_STREAM_STORED_SHORT_HDR_BYTES 2u
#define KVN_STREAM_HUFF_HDR_BYTES 5u
#define KVN_STREAM_HUFF_SHORT_HDR_BYTES 3u
// First byte of a Huffman header as the writers write it (long form).
#define KVN_STREAM_HUFF_HDR0 0x40u
// Most symbols a stream yields: larger announced counts are capped to this,
// so no decoder writes past its scratch slot.
#define KVN_STREAM_MAX_SYMBOLS 131072u

// ---- off16 and off32 -----------------------------------------------------
// off16 count that announces two byte streams (high bytes, then low bytes).
#define KVN_OFF16_SPLIT 0xFFFFu
// The low-byte stream of a split off16 stream lands this far into the slot.
#define KVN_OFF16_LOW_OFFSET 65536u
#define KVN_OFF16_MAX_ENTRIES 65536u
#define KVN_OFF32_COUNT_BYTES 3u
#define KVN_OFF32_HALF_SHIFT 12u
#define KVN_OFF32_HALF_MASK 0xFFFu
// A half count equal to this is followed by the real count as a u16.
#define KVN_OFF32_COUNT_ESCAPE 4095u
#define KVN_OFF32_ENTRY_BYTES 3u
// Values above KVN_OFF32_SHORT_MAX take a fourth byte: the third byte is then
// at least KVN_OFF32_LONG_MARK and w = (first three bytes) + (fourth << 22).
#define KVN_OFF32_SHORT_MAX 0xBFFFFFu
#define KVN_OFF32_LONG_MARK 0xC0u
#define KVN_OFF32_LONG_SHIFT 22u

// ---- Tokens --------------------------------------------------------------
#define KVN_TOKEN_LONG_LITERALS 0u
#define KVN_TOKEN_LONG_MATCH16 1u
#define KVN_TOKEN_LONG_MATCH32 2u
// Tokens 3..23 are far matches of t + KVN_TOKEN_FAR_BIAS bytes.
#define KVN_TOKEN_FAR_MAX 23u
#define KVN_TOKEN_FAR_BIAS 5u
// Tokens from here up carry a literal run (bits 0-2) and a match (bits 3-6).
#define KVN_TOKEN_SHORT_MIN 24u
#define KVN_TOKEN_REPEAT 0x80u
#define KVN_TOKEN_LITERALS_7 0x87u
#define KVN_TOKEN_LIT_MASK 7u
#define KVN_TOKEN_MATCH_SHIFT 3u
#define KVN_TOKEN_MATCH_MASK 15u
// Base lengths of the commands that read the length stream.
#define KVN_LONG_LITERALS_BASE 64u
#define KVN_LONG_MATCH16_BASE 91u
#define KVN_LONG_MATCH32_BASE 29u
// Length-stream bytes from here up are followed by a u16.
#define KVN_LENGTH_ESCAPE 252u
#define KVN_INITIAL_REPEAT_DISTANCE 8u

// ---- Huffman streams -----------------------------------------------------
#define KVN_HUFF_LANES 32u
#define KVN_HUFF_MAX_CODE_LEN 11u
#define KVN_HUFF_LENGTHS_BYTES 128u
// Offsets inside a coded stream: B (u24), W (u8), then 4W delta bytes,
// then R (u32), the rows and the tails.
#define KVN_HUFF_MIN_LANE_OFF 128u
#define KVN_HUFF_DELTA_WIDTH_OFF 131u
#define KVN_HUFF_DELTAS_OFF 132u
#define KVN_HUFF_FIXED_BYTES 136u
#define KVN_HUFF_ROW_BYTES 128u
// Decode table: 1024 u32 entries indexed by the next 10 bits.
#define KVN_HUFF_LUT_BITS 10u
#define KVN_HUFF_LUT_ENTRIES 1024u
#define KVN_HUFF_LUT_BYTES 4096u
// Entry: byte 0 first symbol, byte 1 second symbol, byte 2 bits consumed
// (0 = invalid), byte 3 kind.
#define KVN_HUFF_LUT_ONE 1u
#define KVN_HUFF_LUT_TWO 2u
#define KVN_HUFF_LUT_LONG 3u
// Encoder output room for a stream of n symbols: (2n + 359) & ~3.
#define KVN_HUFF_CAPACITY_SLACK 359u
// The encoder codes streams of fewer symbols than this (its tree keys,
// weight << 9 | list position, then fit 31 bits); a sub-chunk's streams hold
// at most KVN_SUBCHUNK_SIZE.
#define KVN_HUFF_ENC_MAX_SYMBOLS 4194304u

// ---- Merkle verdict --------------------------------------------------------
// Stripes (4 leaves) each verdict pass folds: a pass's loop stays far inside
// lavapipe's 65,535 loop iterations per invocation.
#define KVN_VERDICT_PASS_STRIPES 16384u
// Verdict cell words: the verdict, then the four XXH32 lanes between passes.
#define KVN_VERDICT_CELL_WORDS 5u

// ---- Content checksum on the device ---------------------------------------
// Stripes (16 bytes) each content-hash pass folds, as the verdict's passes:
// far inside lavapipe's 65,535 loop iterations per invocation.
#define KVN_CONTENT_HASH_PASS_STRIPES 32768u
// Its cell: the verdict (0 none yet, then the Merkle verdict's values or
// KVN_CONTENT_HASH_CUT), the four XXH32 lanes between passes, and the stripe
// each lane's loop reached.
#define KVN_CONTENT_HASH_W_VERDICT 0u
#define KVN_CONTENT_HASH_W_LANES 1u
#define KVN_CONTENT_HASH_W_REACHED 5u
#define KVN_CONTENT_HASH_CELL_WORDS 9u
// A lane that did not fold every stripe it was given: no verdict exists.
#define KVN_CONTENT_HASH_CUT 3u
// The mark of such a lane in its reached word, which no stripe index equals.
#define KVN_CONTENT_HASH_BROKEN 0xFFFFFFFFu

// ---- Decode descriptor records -------------------------------------------
// KvnChunkDesc: src_off, comp_size, decomp_size, dst_off, flags, fill byte
// (low byte of word 5; the other three bytes are zero).
#define KVN_CHUNK_DESC_BYTES 24u
#define KVN_CHUNK_DESC_WORDS 6u
#define KVN_CHUNK_DESC_W_SRC_OFF 0u
#define KVN_CHUNK_DESC_W_COMP_SIZE 1u
#define KVN_CHUNK_DESC_W_DECOMP_SIZE 2u
#define KVN_CHUNK_DESC_W_DST_OFF 3u
#define KVN_CHUNK_DESC_W_FLAGS 4u
#define KVN_CHUNK_DESC_W_FILL 5u

// KvnScanHuffDesc: one Huffman stream found by the sub-chunk scan.
#define KVN_SCAN_HUFF_DESC_BYTES 20u
#define KVN_SCAN_HUFF_DESC_WORDS 5u
#define KVN_SCAN_HUFF_W_SRC_OFF 0u
#define KVN_SCAN_HUFF_W_COMP_SIZE 1u
#define KVN_SCAN_HUFF_W_DST_OFF 2u
#define KVN_SCAN_HUFF_W_DECOMP_SIZE 3u
#define KVN_SCAN_HUFF_W_PRESENT 4u

// KvnScanRawDesc: one stored half of a split off16 stream.
#define KVN_SCAN_RAW_DESC_BYTES 16u
#define KVN_SCAN_RAW_DESC_WORDS 4u
#define KVN_SCAN_RAW_W_SRC_OFF 0u
#define KVN_SCAN_RAW_W_LEN 1u
#define KVN_SCAN_RAW_W_DST_OFF 2u
#define KVN_SCAN_RAW_W_PRESENT 3u

// KvnHuffDecChunkDesc: compacted Huffman stream with its table slot.
#define KVN_HUFF_DEC_DESC_BYTES 20u
#define KVN_HUFF_DEC_DESC_WORDS 5u
#define KVN_HUFF_DEC_W_SRC_OFF 0u
#define KVN_HUFF_DEC_W_COMP_SIZE 1u
#define KVN_HUFF_DEC_W_DST_OFF 2u
#define KVN_HUFF_DEC_W_DECOMP_SIZE 3u
#define KVN_HUFF_DEC_W_LUT_OFF 4u

// KvnRawOff16Desc: compacted stored off16 half.
#define KVN_RAW_OFF16_DESC_BYTES 12u
#define KVN_RAW_OFF16_DESC_WORDS 3u
#define KVN_RAW_OFF16_W_SRC_OFF 0u
#define KVN_RAW_OFF16_W_LEN 1u
#define KVN_RAW_OFF16_W_DST_OFF 2u

// Scan lists and the counter buffer: each count in its own 256-byte cell on
// Vulkan (bindable at an aligned offset), consecutive words on CUDA.
#define KVN_SCAN_LIST_LITERALS 0u
#define KVN_SCAN_LIST_TOKENS 1u
#define KVN_SCAN_LIST_OFF16_HIGH 2u
#define KVN_SCAN_LIST_OFF16_LOW 3u
#define KVN_DESC_COUNTER_CELL_BYTES 256u
#define KVN_DESC_COUNTER_RAW 4u
#define KVN_DESC_COUNTER_MERGED 5u
#define KVN_DESC_COUNTER_BYTES 1536u

// ---- Encode descriptor records -------------------------------------------
// CompressChunkDesc: one sub-chunk to encode.
#define KVN_COMPRESS_DESC_BYTES 20u
#define KVN_COMPRESS_DESC_WORDS 5u
#define KVN_COMPRESS_W_SRC_OFF 0u
#define KVN_COMPRESS_W_LEN 1u
#define KVN_COMPRESS_W_OUT_OFF 2u
#define KVN_COMPRESS_W_OUT_STRIDE 3u
#define KVN_COMPRESS_W_FIRST 4u

// LzStreamScan: where a sub-chunk's LZ output keeps its streams.
#define KVN_LZ_SCAN_BYTES 24u
#define KVN_LZ_SCAN_WORDS 6u
#define KVN_LZ_SCAN_W_LIT_OFF 0u
#define KVN_LZ_SCAN_W_LIT_COUNT 1u
#define KVN_LZ_SCAN_W_TOK_OFF 2u
#define KVN_LZ_SCAN_W_TOK_COUNT 3u
#define KVN_LZ_SCAN_W_OFF16_OFF 4u
#define KVN_LZ_SCAN_W_OFF16_COUNT 5u

// HuffEncodeDesc: one stream to Huffman-code.
#define KVN_HUFF_ENC_DESC_BYTES 20u
#define KVN_HUFF_ENC_DESC_WORDS 5u
#define KVN_HUFF_ENC_W_SRC_OFF 0u
#define KVN_HUFF_ENC_W_COUNT 1u
#define KVN_HUFF_ENC_W_STRIDE 2u
#define KVN_HUFF_ENC_W_OUT_OFF 3u
#define KVN_HUFF_ENC_W_OUT_CAP 4u

// AssembleRecord: one sub-chunk for the assembly kernels.
#define KVN_ASSEMBLE_RECORD_BYTES 52u
#define KVN_ASSEMBLE_RECORD_WORDS 13u
#define KVN_ASSEMBLE_W_LZ_OFF 0u
#define KVN_ASSEMBLE_W_LZ_SIZE 1u
#define KVN_ASSEMBLE_W_LIT_OFF 2u
#define KVN_ASSEMBLE_W_LIT_SIZE 3u
#define KVN_ASSEMBLE_W_TOK_OFF 4u
#define KVN_ASSEMBLE_W_TOK_SIZE 5u
#define KVN_ASSEMBLE_W_OFF16_HI_OFF 6u
#define KVN_ASSEMBLE_W_OFF16_HI_SIZE 7u
#define KVN_ASSEMBLE_W_OFF16_LO_OFF 8u
#define KVN_ASSEMBLE_W_OFF16_LO_SIZE 9u
#define KVN_ASSEMBLE_W_RAW_LEN 10u
#define KVN_ASSEMBLE_W_PREFIX_LEN 11u
#define KVN_ASSEMBLE_W_OUT_OFF 12u

#endif
