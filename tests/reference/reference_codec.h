// Reference codec for the formats inside a frame body: the oracle for the
// decode kernels and for the GPU encoder. Link the `kvn_reference` library.
//
// Decoding (ref_decoder.h) - a sequential CPU decoder with the kernels' rules:
//   decodeFrame(frame, dict)      whole frame -> bytes; checks content size,
//                                 XXH32 checksum and Merkle root
//   decodeBlock(payload, raw, chunk_size, sc, out, out_off, dict)
//                                 host chunk walk + decodeChunks + chunk prefixes
//   decodeChunks(payload, descs, subchunk_size, out, dict)
//                                 what the LZ kernels do with a KvnChunkDesc array
//   parseSubChunk(body, len, raw_len, frame_first)
//                                 stream location + Huffman decode: the contents
//                                 the decoded-stream scratch must hold
//   decodeSequence(parsed, literal_mode, raw_len, out, base, dict)
//                                 the LZ sequence of one sub-chunk
//   huffBuildLut(nibbles), huffDecode(coded, len, count, out)   (ref_huffman.h)
//                                 the 1024-entry table, entry for entry, and
//                                 the 32-lane decode
//
// Encoding - what the GPU encoder must produce, byte for byte:
//   lzEncodeGroup(group, lens, frame_first, LzParams)   (ref_lz_encode.h)
//                                 greedy parse of one group into SubChunkStreams
//   lzOutput(streams)             the LZ output layout of a sub-chunk's slot
//   encodeSubChunk(streams, huffman)   (ref_subchunk.h)
//                                 the assembled sub-chunk (header + body);
//                                 every form can be forced for tests
//   huffCodeLengths / huffCanonicalCodes / huffEncode   (ref_huffman.h)
//   encodeOptionsForLevel(level, sc)   the GPU encoder's settings, levels 1-4
//   encodeBlock(input, EncodeOptions)   (ref_encoder.h)
//                                 chunk records + chunk-prefix area + table sizes
//   FrameBuilder, compressFrame   (frame_builder.h) frames, well-formed or not
//
// Rules the oracle fixes where the formats leave room (kernels follow them):
//   - The frame's first sub-chunk (8 raw bytes) is the first sub-chunk of the
//     chunk whose dst_off is 0 or whose flags carry KVN_CHUNK_FLAG_FRAME_FIRST;
//     the chunk kind is flags & KVN_CHUNK_KIND_MASK.
//   - A Huffman stream yields min(N, 131072) symbols; each half of a split
//     off16 stream at most 65536; split entries = min of the two halves.
//   - A decode table gets no entry for a code >= 2^length (over-subscribed
//     lengths), so table writes stay inside the 1024 entries.
//   - A sub-chunk whose literal mode is neither 0 nor 1 ends its chunk's
//     decode, like a header with bit 23 clear.
//   - off32 entries whose third byte is 0xC0 or more take a fourth byte
//     (w = low 24 bits + byte3 << 22); the decoders accept that form, but the
//     encoder never writes it: no match source lies more than 0xBFFFFF bytes
//     before the start of its half.
//   - With a dictionary, a match source q before the sub-chunk's base reads
//     dictionary byte len - (base - q), or 0 further back; the encoder keeps
//     every other match source inside the current sub-chunk. Without a
//     dictionary, sources before the output start skip the match.
//   - The 8 raw bytes are copied only up to the sub-chunk's size and payload.
//   - Chunk prefixes are applied only when chunk 0 announces the area.
#pragma once

#include "frame_builder.h"
#include "ref_decoder.h"
#include "ref_encoder.h"
#include "ref_huffman.h"
#include "ref_lz_encode.h"
#include "ref_subchunk.h"
