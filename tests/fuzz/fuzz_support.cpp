#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>

#include "core/dict/builtin_dictionary.h"
#include "core/format/byte_order.h"
#include "kernels/format_constants.h"

namespace kvn::fuzz {

void fail(std::string_view what) {
    std::fprintf(stderr, "fuzz oracle: %.*s\n", int(what.size()), what.data());
    std::abort();
}

void checkSame(std::span<const uint8_t> actual, std::span<const uint8_t> expected, std::string_view what) {
    if (actual.size() == expected.size() && std::equal(actual.begin(), actual.end(), expected.begin())) return;
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
    std::fprintf(stderr, "first difference at byte %zu of %zu / %zu: %d instead of %d\n", i, actual.size(),
                 expected.size(), i < actual.size() ? actual[i] : -1, i < expected.size() ? expected[i] : -1);
    fail(what);
}

uint8_t Input::u8() {
    const std::span<const uint8_t> b = take(1);
    return b.empty() ? 0 : b[0];
}

uint16_t Input::u16() { return uint16_t(u8() | u8() << 8); }

uint32_t Input::u32() { return uint32_t(u16()) | uint32_t(u16()) << 16; }

std::span<const uint8_t> Input::take(size_t n) {
    n = std::min(n, bytes_.size());
    const std::span<const uint8_t> out = bytes_.first(n);
    bytes_ = bytes_.subspan(n);
    return out;
}

void Guarded::checkGuard(std::string_view what) const {
    for (size_t i = size_; i < bytes_.size(); ++i)
        if (bytes_[i] != fill_) fail(what);
}

std::vector<InputFrame> inputFrames(std::span<const uint8_t> input) {
    std::vector<InputFrame> frames;
    for (uint64_t pos = 0; pos < input.size();) {
        const FrameStep step = nextFrame(input.data(), input.size(), pos);
        if (step.ends_input || step.error != Error::None) break;
        check(step.length > 0 && step.length <= input.size() - pos, "a walked frame lies outside the input");
        frames.push_back({input.subspan(pos, step.length), step.header, step.raw_total});
        pos += step.length;
    }
    return frames;
}

namespace {

void putLe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

}  // namespace

WrtInput readWrtInput(Input& in) {
    WrtInput w;
    w.threads = 1 + in.u8() % 4;
    w.section = in.take(in.u32());
    w.stream = in.rest();
    return w;
}

void writeWrtInput(std::vector<uint8_t>& out, uint8_t threads, std::span<const uint8_t> section,
                   std::span<const uint8_t> stream) {
    out.push_back(uint8_t(threads - 1));
    putLe(out, section.size(), 4);
    out.insert(out.end(), section.begin(), section.end());
    out.insert(out.end(), stream.begin(), stream.end());
}

bool readHuffRecord(Input& in, HuffRecord* record) {
    if (in.left() < 9) return false;
    record->list = in.u8() % 4;
    record->slot = in.u8() % 4;
    record->count = in.u32() % (KVN_STREAM_MAX_SYMBOLS * 2);
    record->gap = in.u8() % 8;
    record->coded = in.take(in.u16());
    return true;
}

void writeHuffRecord(std::vector<uint8_t>& out, const HuffRecord& record) {
    out.push_back(uint8_t(record.list));
    out.push_back(uint8_t(record.slot));
    putLe(out, record.count, 4);
    out.push_back(uint8_t(record.gap));
    putLe(out, record.coded.size(), 2);
    out.insert(out.end(), record.coded.begin(), record.coded.end());
}

std::vector<FrameBlock> frameBlocks(const InputFrame& frame) {
    std::vector<FrameBlock> blocks;
    const uint8_t* bytes = frame.bytes.data();
    const uint64_t size = frame.bytes.size();
    uint64_t pos = frame.header.header_length, decoded = 0;
    while (pos < size && size - pos >= kEndMarkSize && loadLe32(bytes + pos) != 0) {
        check(size - pos >= kBlockHeaderSize, "a walked frame ends inside a block header");
        const BlockHeader block = readBlockHeader(bytes + pos);
        if (endsFrame(block)) break;
        pos += kBlockHeaderSize;
        check(block.payload_length <= size - pos, "a walked frame ends inside a block");
        if (!block.skip) {
            blocks.push_back({block, frame.bytes.subspan(pos, block.payload_length), decoded});
            decoded += block.raw_size;
        }
        pos += block.payload_length;
    }
    check(decoded == frame.raw_total, "the blocks add up to another size than the walk's");
    return blocks;
}

bool walkBlock(const InputFrame& frame, const FrameBlock& block, uint64_t dst_base, WalkedBlock* out) {
    static std::vector<KvnChunkDesc> descs(KVN_MAX_CHUNKS_PER_BLOCK);
    const float sc = frame.header.sc_group_size;
    out->chunk_size = uint32_t(frameChunkSize(sc));
    if (block.header.stored || block.header.raw_size > kMaxFuzzRaw ||
        walkChunks(block.payload, block.header.raw_size, out->chunk_size, sc, dst_base, descs, &out->walk) != Error::None)
        return false;
    out->descs = std::span(descs).first(out->walk.chunk_count);
    return true;
}

std::span<const uint8_t> frameDictionary(const FrameHeader& header) {
    const BuiltinDictionary* dict = header.has_dict_id ? builtinDictionary(header.dict_id) : nullptr;
    if (!dict) return {};
    return {dict->data, size_t(dict->data_length)};
}

}  // namespace kvn::fuzz
