// Reading frames on the device, shared by the walk kernels: byte access, the
// frame header and the chunk header checks, with the walk status words. The
// including entry declares the input `src` (u8) and its length `src_len`.

// Walk status words (the status cell); 0 is success.
KVN_CONST u32 kWalkOk = KVN_WALK_OK;
KVN_CONST u32 kWalkBadMagic = KVN_WALK_BAD_MAGIC;
KVN_CONST u32 kWalkBadVersion = KVN_WALK_BAD_VERSION;
KVN_CONST u32 kWalkBadCodec = KVN_WALK_BAD_CODEC;
KVN_CONST u32 kWalkBadHeaderField = KVN_WALK_BAD_HEADER_FIELD;
KVN_CONST u32 kWalkUnsupported = KVN_WALK_UNSUPPORTED;
KVN_CONST u32 kWalkRawSizeMissing = KVN_WALK_RAW_SIZE_MISSING;
KVN_CONST u32 kWalkBadChunkHeader = KVN_WALK_BAD_CHUNK_HEADER;
KVN_CONST u32 kWalkBadChunkVersion = KVN_WALK_BAD_CHUNK_VERSION;
KVN_CONST u32 kWalkSizeHeaderShort = KVN_WALK_SIZE_HEADER_SHORT;
KVN_CONST u32 kWalkBadChunkMode = KVN_WALK_BAD_CHUNK_MODE;
KVN_CONST u32 kWalkTooManyChunks = KVN_WALK_TOO_MANY_CHUNKS;
KVN_CONST u32 kWalkTruncated = KVN_WALK_TRUNCATED;
KVN_CONST u32 kWalkSecondBlock = KVN_WALK_SECOND_BLOCK;
KVN_CONST u32 kWalkTooLarge = KVN_WALK_TOO_LARGE;

KVN_FN u32 byteAt(u32 at) { return u32(src[at]); }
KVN_FN u32 readU32(u32 at) {
    return byteAt(at) | (byteAt(at + 1u) << 8u) | (byteAt(at + 2u) << 16u) | (byteAt(at + 3u) << 24u);
}

// min(trunc(f * 262144), 262144) for the f32 with these bits, or 0 for a
// fraction the host header reader refuses too: not finite, not above 0,
// above 65536, or below one byte. Integer arithmetic keeps every input defined.
KVN_FN u32 chunkSizeOf(u32 bits) {
    u32 exponent = (bits >> 23u) & 0xFFu;
    u32 mantissa = bits & 0x7FFFFFu;
    if ((bits & 0x80000000u) != 0u || exponent == 0u || exponent == 0xFFu) return 0u;
    if (exponent > 143u || (exponent == 143u && mantissa != 0u)) return 0u;  // above 2^16
    if (exponent >= 132u) return KVN_CHUNK_UNIT;                              // f * 2^18 >= 2^23
    return kvnMin(kvnShiftRight(mantissa | 0x800000u, 132u - exponent), KVN_CHUNK_UNIT);
}

// 0 (no transform) or one of the byte-plane strides.
KVN_FN bool strideValid(u32 stride) {
    if (stride == 0u || stride == KVN_BYTE_PLANE_MAX_STRIDE) return true;
    return stride < KVN_BYTE_PLANE_MAX_STRIDE && ((KVN_BYTE_PLANE_STRIDE_BITS >> stride) & 1u) != 0u;
}

// The frame header at pos (magic already checked, at least the fixed header
// present): header gets its length with the optional fields and the WRT
// section, flags the flags byte, chunk_size the frame's chunk size.
KVN_FN u32 frameHeaderStatus(u32 pos, KVN_OUT(u32) header, KVN_OUT(u32) flags, KVN_OUT(u32) chunk_size) {
    u32 left = src_len - pos;
    header = KVN_FRAME_FIXED_HEADER_BYTES;
    flags = byteAt(pos + KVN_FRAME_OFF_FLAGS);
    chunk_size = chunkSizeOf(readU32(pos + KVN_FRAME_OFF_SC_GROUP_SIZE));
    if (byteAt(pos + KVN_FRAME_OFF_VERSION) != KVN_FRAME_VERSION) return kWalkBadVersion;
    if (byteAt(pos + KVN_FRAME_OFF_CODEC) != KVN_FRAME_DEVICE_CODEC) return kWalkBadCodec;
    if (chunk_size == 0u || !strideValid(byteAt(pos + KVN_FRAME_OFF_BYTE_PLANE)) ||
        byteAt(pos + KVN_FRAME_OFF_BLOCK_SIZE_CODE) > KVN_FRAME_MAX_BLOCK_SIZE_CODE)
        return kWalkBadHeaderField;
    if ((flags & KVN_FRAME_CONTENT_SIZE) != 0u) {
        header += KVN_FRAME_CONTENT_SIZE_BYTES;
        if (header > left) return kWalkTruncated;
        if ((byteAt(pos + header - 1u) & 0x80u) != 0u) return kWalkBadHeaderField;  // negative as i64
    }
    if ((flags & KVN_FRAME_DICT_ID) != 0u) header += KVN_FRAME_DICT_ID_BYTES;
    if (header > left) return kWalkTruncated;
    if ((flags & KVN_FRAME_WRT_SECTION) != 0u) {
        if (left - header < 4u) return kWalkTruncated;
        u32 wrt_len = readU32(pos + header);
        header += 4u;
        if (wrt_len < KVN_WRT_SECTION_MIN || wrt_len > KVN_WRT_SECTION_MAX || wrt_len > left - header) {
            return kWalkTruncated;
        }
        header += wrt_len;
    }
    return kWalkOk;
}

// The two bytes of a chunk header: magic nibble, version, no long size header.
KVN_FN u32 chunkHeaderStatus(u32 h0, u32 h1) {
    if ((h0 & KVN_CHUNK_HDR0_MAGIC_MASK) != KVN_CHUNK_HDR0_MAGIC) return kWalkBadChunkHeader;
    u32 version = h1 & KVN_CHUNK_HDR1_VERSION_MASK;
    if (version == 0u || version > KVN_CHUNK_HDR1_VERSION_MAX) return kWalkBadChunkVersion;
    if ((h1 & KVN_CHUNK_HDR1_LONG_SIZE) != 0u) return kWalkUnsupported;
    return kWalkOk;
}

// Chunks of a block of raw decoded bytes.
KVN_FN u32 chunkCount(u32 raw, u32 chunk_size) { return raw / chunk_size + (raw % chunk_size != 0u ? 1u : 0u); }
