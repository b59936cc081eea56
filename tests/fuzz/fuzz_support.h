// What the fuzz targets share: the failure every oracle ends in, a reader
// over the fuzzer's bytes, guard-filled destinations, host kernel launches
// and the frames of an input as the decoders walk them.
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/format/chunk_records.h"
#include "core/format/chunk_walk.h"
#include "core/format/frame_header.h"
#include "core/format/frame_walk.h"
#include "tests/kernel_runtime/launch.h"

namespace kvn::fuzz {

// Prints what broke and aborts, so that libFuzzer keeps the input as a crash.
[[noreturn]] void fail(std::string_view what);
inline void check(bool ok, std::string_view what) {
    if (!ok) fail(what);
}

// Fails when the bytes differ, naming the first difference.
void checkSame(std::span<const uint8_t> actual, std::span<const uint8_t> expected, std::string_view what);

// Takes fields from the front of the fuzzer's bytes; past the end every
// field reads as zero and every byte run as empty.
class Input {
public:
    explicit Input(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    std::span<const uint8_t> take(size_t n);  // at most n bytes
    std::span<const uint8_t> rest() { return take(bytes_.size()); }
    size_t left() const { return bytes_.size(); }

private:
    std::span<const uint8_t> bytes_;
};

// A destination of `size` bytes filled with `fill`, followed by a guard
// filled with `guard_fill`.
class Guarded {
public:
    static constexpr size_t kGuard = 64;
    Guarded(size_t size, uint8_t fill) : Guarded(size, fill, fill) {}
    Guarded(size_t size, uint8_t fill, uint8_t guard_fill)
        : bytes_(size + kGuard, guard_fill), size_(size), fill_(guard_fill) {
        std::fill_n(bytes_.begin(), size, fill);
    }
    uint8_t* data() { return bytes_.data(); }
    const std::vector<uint8_t>& all() const { return bytes_; }
    std::span<const uint8_t> used() const { return std::span(bytes_).first(size_); }
    // Fails when a byte past the destination's capacity changed.
    void checkGuard(std::string_view what) const;

private:
    std::vector<uint8_t> bytes_;
    size_t size_;
    uint8_t fill_;
};

// Runs a kernel's host build on one OS thread; a launch fault (deadlock,
// divergent collective) is a finding.
template <class... Args>
void runKernel(std::string_view name, uint32_t grid_x, const Args&... args) {
    const host::LaunchResult r = host::runKernel(name, {.grid_x = grid_x, .workers = 1}, args...);
    if (!r.ok()) fail(r.fault);
}

// One good frame of an input, found by the host walk.
struct InputFrame {
    std::span<const uint8_t> bytes;  // the whole frame, trailers included
    FrameHeader header;
    uint64_t raw_total;
};

// The frames of input up to the first refused one (or its end).
std::vector<InputFrame> inputFrames(std::span<const uint8_t> input);

// One block of a good frame: its header and payload, and where its bytes
// start among the frame's decoded bytes.
struct FrameBlock {
    BlockHeader header;
    std::span<const uint8_t> payload;
    uint64_t dst_base;
};
std::vector<FrameBlock> frameBlocks(const InputFrame& frame);

// A compressed block as the host chunk walk sees it, its chunks placed from
// dst_base. The descriptors stay valid until the next walk.
struct WalkedBlock {
    ChunkWalk walk;
    std::span<const KvnChunkDesc> descs;
    uint32_t chunk_size;
};
// False for a stored block, one above kMaxFuzzRaw, or one the walk refuses.
bool walkBlock(const InputFrame& frame, const FrameBlock& block, uint64_t dst_base, WalkedBlock* out);

// The frame's dictionary bytes (a built-in id), or none.
std::span<const uint8_t> frameDictionary(const FrameHeader& header);

// Input layouts the targets read and the seed writer writes.
//
// wrt: threads byte, u32 section length, section, transformed stream.
struct WrtInput {
    uint32_t threads;  // 1 to 4
    std::span<const uint8_t> section, stream;
};
WrtInput readWrtInput(Input& in);
void writeWrtInput(std::vector<uint8_t>& out, uint8_t threads, std::span<const uint8_t> section,
                   std::span<const uint8_t> stream);

// huffman_decode: records of list, slot, u32 symbol count, gap, u16 coded
// length and the coded bytes.
struct HuffRecord {
    uint32_t list, slot, count, gap;
    std::span<const uint8_t> coded;
};
bool readHuffRecord(Input& in, HuffRecord* record);
void writeHuffRecord(std::vector<uint8_t>& out, const HuffRecord& record);

// Fuzz inputs decode to at most this much per frame, so that one run stays fast.
inline constexpr uint64_t kMaxFuzzRaw = uint64_t{1} << 20;

}  // namespace kvn::fuzz
