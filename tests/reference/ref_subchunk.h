// The streams of one sub-chunk and their two byte forms: the LZ output that
// the LZ encode kernels leave in a sub-chunk's slot, and the encoded sub-chunk
// (3-byte header and body) that the assembly kernels write into the frame.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kvn::ref {

// How one byte stream is written. Auto is the assembler's choice: the
// Huffman form when Huffman coding is on and it saves bytes, else stored.
enum class StreamForm : uint8_t {
    Auto,
    Stored,        // 3-byte big-endian count
    StoredShort,   // 2-byte header, count below 4096
    Huffman,       // 5-byte header
    HuffmanShort,  // 3-byte header, coded size below 1024
};

enum class Off16Form : uint8_t { Auto, Plain, Split };

struct SubChunkStreams {
    uint32_t raw_len = 0;        // decoded size S of the sub-chunk
    std::vector<uint8_t> raw8;   // the frame's first 8 bytes, only in its first sub-chunk
    std::vector<uint8_t> literals;
    std::vector<uint8_t> tokens;
    uint16_t first_half_tokens = 0;  // written only when raw_len > 65536
    std::vector<uint16_t> off16;
    std::vector<uint32_t> off32_first, off32_second;  // w values, one list per half
    std::vector<uint8_t> lengths;                     // length-stream bytes

    // Writer choices (the defaults are what the GPU encoder writes).
    uint32_t literal_mode = 1;
    StreamForm literal_form = StreamForm::Auto;
    StreamForm token_form = StreamForm::Auto;
    Off16Form off16_form = Off16Form::Auto;
    StreamForm off16_high_form = StreamForm::Auto;
    StreamForm off16_low_form = StreamForm::Auto;
};

// Appends a length-stream value v (1 byte below 252, else 3 bytes).
void appendLength(std::vector<uint8_t>& lengths, uint32_t v);
// Appends an off32 entry: 3 bytes up to 0xBFFFFF, else the 4-byte form.
void appendOff32(std::vector<uint8_t>& out, uint32_t w);

// The LZ output layout of the sub-chunk (8 raw bytes, literal count and
// bytes, token count and bytes, first-half token count, off16 count and
// entries, off32 counts and entries, length stream). Its size is the LZ size.
std::vector<uint8_t> lzOutput(const SubChunkStreams& s);

// The encoded sub-chunk: header (valid bit, literal mode, body length) and
// body. huffman turns on Huffman coding for the Auto forms.
std::vector<uint8_t> encodeSubChunk(const SubChunkStreams& s, bool huffman);

// A stream header and data in the given (non-Auto) form.
void appendStream(std::vector<uint8_t>& out, const uint8_t* data, uint32_t count,
                  uint32_t stride, StreamForm form);

}  // namespace kvn::ref
