// Reading frames on the device, shared by the walk kernels: byte access, the
// frame header and the chunk header checks, with the walk status words. The
// including entry declares the input `src` (u8) and its length `src_len`.

// Walk status words (the status cell); 0 is success.
KVN_CONST u32 kWalkOk = 0u;
KVN_CONST u32 kWalkBadMagic = 1u;
KVN_CONST u32 kWalkBadVersion = 2u;
KVN_CONST u32 kWalkBadCodec = 3u;
KVN_CONST u32 kWalkUnsupported = 5u;     // BLOCK_SKIP, or the long chunk size header
KVN_CONST u32 kWalkRawSizeMissing = 6u;
KVN_CONST u32 kWalkBadChunkHeader = 7u;
KVN_CONST u32 kWalkBadChunkVersion = 8u;
KVN_CONST u32 kWalkSizeHeaderShort = 9u;
KVN_CONST u32 kWalkBadChunkMode = 10u;
KVN_CONST u32 kWalkTooManyChunks = 11u;
KVN_CONST u32 kWalkTruncated = 12u;
KVN_CONST u32 kWalkSecondBlock = 13u;
KVN_CONST u32 kWalkTooLarge = 15u;

KVN_FN u32 byteAt(u32 at) { return u32(src[at]); }
KVN_FN u32 readU32(u32 at) {
    return byteAt(at) | (byteAt(at + 1u) << 8u) | (byteAt(at + 2u) << 16u) | (byteAt(at + 3u) << 24u);
}

// min(trunc(f * 262144), 262144) for the f32 with these bits, 0 taken as
// 65536; integer arithmetic keeps every input (negative, NaN) defined.
KVN_FN u32 chunkSizeOf(u32 bits) {
    u32 exponent = (bits >> 23u) & 0xFFu;
    u32 mantissa = bits & 0x7FFFFFu;
    u32 size = 0u;
    if ((bits & 0x80000000u) != 0u || exponent == 0u) {
        size = 0u;  // negative, zero or subnormal: below one byte
    } else if (exponent == 0xFFu) {
        size = mantissa == 0u ? KVN_CHUNK_UNIT : 0u;
    } else if (exponent >= 132u) {
        size = KVN_CHUNK_UNIT;  // f * 2^18 >= 2^23
    } else {
        size = kvnMin(kvnShiftRight(mantissa | 0x800000u, 132u - exponent), KVN_CHUNK_UNIT);
    }
    return size == 0u ? KVN_SUBCHUNK_SIZE_DEFAULT : size;
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
    if ((flags & KVN_FRAME_CONTENT_SIZE) != 0u) header += KVN_FRAME_CONTENT_SIZE_BYTES;
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
