// Reference Huffman coding of one stream: 256 byte symbols, canonical codes of
// at most 11 bits, 32 lanes. The encoder half builds exactly the code and the
// bytes the GPU encoder builds; the decoder half builds exactly the 1024-entry
// table the GPU decoder builds and decodes with it, so both can be compared
// entry by entry and byte by byte.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kvn::ref {

using CodeLengths = std::array<uint8_t, 256>;
using HuffLut = std::array<uint32_t, 1024>;

// Code lengths (0 = unused) for the symbols data[i * stride], i < count:
// Huffman tree joined by smallest (weight, list position), lengths capped at
// 11 and repaired by lengthening the rarest short symbols.
CodeLengths huffCodeLengths(const uint8_t* data, uint32_t count, uint32_t stride);

// Canonical codes for the lengths (length, then symbol order).
std::array<uint32_t, 256> huffCanonicalCodes(const CodeLengths& lengths);

// The coded stream (the bytes after the stream header) of count symbols
// data[i * stride]; empty for count 0.
std::vector<uint8_t> huffEncode(const uint8_t* data, uint32_t count, uint32_t stride);

// The 10-bit decode table for the 128 nibble bytes at the head of a coded
// stream. Codes that over-subscribe the code space (code >= 2^length) get no
// entry, so no slot outside the table is ever written.
HuffLut huffBuildLut(const uint8_t* nibbles);

// Decodes count symbols (already capped by the caller) of the coded stream
// coded[0 .. coded_len) into out[0 .. count). Reads never pass coded_len
// (missing bytes read as zero); a lane that meets an invalid table slot
// stops and leaves the rest of its symbols as they were.
void huffDecode(const uint8_t* coded, uint32_t coded_len, uint32_t count, uint8_t* out);

}  // namespace kvn::ref
