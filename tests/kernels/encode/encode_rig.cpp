#include "encode_rig.h"

#include <algorithm>
#include <fstream>

#include "core/encode/lz_batch_plan.h"
#include "core/format/frame_header.h"

namespace kvn::test {

FrameGeometry planFrame(size_t len, float fraction, uint32_t slot_floor) {
    FrameGeometry f;
    f.chunk = uint32_t(frameChunkSize(fraction));
    f.sub = std::min(f.chunk, KVN_SUBCHUNK_SIZE);
    f.spc = ref::subChunksPerGroup(fraction);
    f.stride = 3 * std::max(f.sub, slot_floor);
    f.chunks = (len + f.chunk - 1) / f.chunk;
    for (uint64_t k = 0; k < f.chunks; ++k) {
        f.chunk_first_sub.push_back(uint32_t(f.descs.size()));
        const uint64_t end = std::min<uint64_t>(len, (k + 1) * f.chunk);
        for (uint64_t at = k * f.chunk; at < end; at += f.sub) {
            const uint32_t i = uint32_t(f.descs.size());
            f.descs.push_back({uint32_t(at), uint32_t(std::min<uint64_t>(f.sub, end - at)), i * f.stride, f.stride,
                               i == 0 ? 1u : 0u});
        }
    }
    f.chunk_first_sub.push_back(uint32_t(f.descs.size()));
    return f;
}

std::vector<uint8_t> fileHead(const std::string& path, size_t n) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> out(n);
    file.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(n));
    out.resize(static_cast<size_t>(file.gcount()));
    return out;
}

LzResult runLzKernel(KernelRig& rig, std::span<const uint8_t> input, const FrameGeometry& frame, const LzRun& run) {
    const uint32_t aw = uint32_t(frame.descs.size());
    const uint32_t groups = (aw + frame.spc - 1) / frame.spc;
    // The chain parse has a workspace per group and one workgroup for each.
    const bool chain = std::string_view(run.kernel) == "kvnLzEncodeChainKernel";
    const uint32_t warps = run.warps ? run.warps : chain ? groups : std::min(groups, 8u);
    const bool hash16 = std::string_view(run.kernel) == "kvnLzEncodeGreedy16Kernel";
    const uint32_t bits = run.params.hash_bits;

    std::vector<uint8_t> padded(input.begin(), input.end());
    padded.resize(input.size() + 8);
    LzResult r;
    r.input_buffer = rig.buffer(padded);
    r.lz_buffer = rig.buffer(size_t(aw) * frame.stride, 0xCC);
    const uint32_t descs = rig.bufferOf(frame.descs);
    const uint32_t sizes = rig.buffer(aw * 4);
    // Tables start dirty: the kernel clears its own region.
    const size_t table_bytes =
        chain ? size_t(warps) * chainWorkspaceEntries(bits) * 4 : size_t(warps) << (bits + (hash16 ? 1 : 2));
    const uint32_t table = rig.buffer(table_bytes, 0x5A);

    const auto& d = run.params.dictionary;
    std::vector<uint32_t> dict_table(size_t(1) << bits, 0xFFFFFFFFu);
    for (uint64_t i = 0; i + 8 <= d.size(); ++i) {
        uint64_t six = 0;
        for (int k = 0; k < 6; ++k) six |= uint64_t(d[i + k]) << (8 * k);
        dict_table[ref::lzHash(six, bits)] = uint32_t(i);
    }
    std::vector<uint8_t> dict_bytes(d.begin(), d.end());
    dict_bytes.resize(d.size() + 16);
    const uint32_t dict = rig.buffer(dict_bytes);
    const uint32_t dtable = rig.bufferOf(dict_table);

    r.fault = rig.launch(run.kernel, {warps},
                         {rigBuffer(r.input_buffer), rigBuffer(r.lz_buffer), rigBuffer(descs), rigBuffer(sizes),
                          rigU32(aw), rigU32(bits), rigU32(chain ? 1 : 0), rigU32(run.params.insert_in_matches ? 1 : 0),
                          rigAddress(table), rigAddress(dict), rigAddress(dtable), rigU32(uint32_t(d.size())),
                          rigU32(0), rigU32(frame.spc), rigU32(0), rigAddress(r.input_buffer), rigU32(0),
                          rigU32(run.params.min_distance)});
    r.lz_output = rig.read(r.lz_buffer);
    r.sizes = rig.readAs<uint32_t>(sizes);
    return r;
}

std::vector<ref::SubChunkStreams> referenceStreams(std::span<const uint8_t> input, const FrameGeometry& frame,
                                                   const ref::LzParams& params) {
    std::vector<uint32_t> lens;
    for (const CompressChunkDesc& d : frame.descs) lens.push_back(d.len);
    std::vector<ref::SubChunkStreams> out;
    uint64_t pos = 0;
    for (size_t g = 0; g < lens.size(); g += frame.spc) {
        std::span<const uint32_t> group(lens.data() + g, std::min<size_t>(frame.spc, lens.size() - g));
        for (auto& s : ref::lzEncodeGroup(input.data() + pos, group, g == 0, params)) {
            pos += s.raw_len;
            out.push_back(std::move(s));
        }
    }
    return out;
}

std::vector<uint8_t> slotBytes(const LzResult& lz, const FrameGeometry& frame, size_t i) {
    const uint32_t off = frame.descs[i].out_off;
    const uint32_t size = std::min(lz.sizes[i], frame.stride);
    return {lz.lz_output.begin() + off, lz.lz_output.begin() + off + size};
}

std::vector<AssembleRecord> assembleRecords(const FrameGeometry& frame, std::span<const uint32_t> lz_sizes) {
    std::vector<AssembleRecord> records;
    for (size_t i = 0; i < frame.descs.size(); ++i) {
        const CompressChunkDesc& d = frame.descs[i];
        AssembleRecord r{};
        r.lz_off = d.out_off;
        r.lz_size = lz_sizes[i];
        r.raw_len = d.len;
        r.prefix_len = d.first ? KVN_FRAME_PREFIX_BYTES : 0;
        records.push_back(r);
    }
    return records;
}

HuffBatchResult runHuffBatch(KernelRig& rig, uint32_t lz_buffer, std::span<const HuffEncodeDesc> descs) {
    HuffBatchResult r;
    const uint32_t n = uint32_t(descs.size());
    uint64_t out_bytes = 0;
    for (const HuffEncodeDesc& d : descs) out_bytes = std::max<uint64_t>(out_bytes, uint64_t(d.out_off) + d.out_cap);
    const uint32_t lane_width = huffLaneWidth(descs);
    const uint32_t desc_buffer = rig.buffer(std::span(reinterpret_cast<const uint8_t*>(descs.data()), n * sizeof(HuffEncodeDesc)));
    // Tables, sizes and output start dirty: the kernels write all they report.
    const uint32_t lengths = rig.buffer(256 * size_t(n), 0xA5), codes = rig.buffer(1024 * size_t(n), 0xA5);
    const uint32_t scratch = rig.buffer(size_t(lane_width) * 32 * n + 16, 0x5A);
    const uint32_t sizes = rig.buffer(4 * size_t(n), 0xEE);
    r.coded_buffer = rig.buffer(size_t(out_bytes) + 16, 0xCC);
    r.fault = rig.launch("kvnHuffBuildTablesKernel", {n},
                         {rigBuffer(lz_buffer), rigBuffer(desc_buffer), rigBuffer(lengths), rigBuffer(codes), rigU32(256),
                          rigU32(n)});
    if (!r.fault.empty()) return r;
    r.fault = rig.launch("kvnHuffEncode4StreamKernel", {n},
                         {rigBuffer(lz_buffer), rigBuffer(desc_buffer), rigBuffer(lengths), rigBuffer(codes),
                          rigBuffer(scratch), rigBuffer(r.coded_buffer), rigBuffer(sizes), rigU32(lane_width),
                          rigU32(256), rigU32(n)});
    r.lengths = rig.read(lengths);
    r.codes = rig.readAs<uint32_t>(codes);
    r.sizes = rig.readAs<uint32_t>(sizes);
    r.coded = rig.read(r.coded_buffer);
    return r;
}

std::vector<LzStreamScan> runStreamScan(KernelRig& rig, const FrameGeometry& frame, const LzResult& lz,
                                        std::string& fault) {
    const uint32_t aw = uint32_t(frame.descs.size());
    const uint32_t records = rig.buffer(aw * sizeof(LzStreamScan), 0xEE);
    fault = rig.launch("kvnHuffScanStreamsKernel", {(aw + 255) / 256},
                       {rigBuffer(lz.lz_buffer), rigBuffer(rig.bufferOf(frame.descs)), rigBuffer(rig.bufferOf(lz.sizes)),
                        rigU32(aw), rigBuffer(records)});
    return rig.readAs<LzStreamScan>(records);
}

HuffmanStage runHuffmanStage(KernelRig& rig, const FrameGeometry& frame, const LzResult& lz) {
    HuffmanStage h;
    h.scans = runStreamScan(rig, frame, lz, h.fault);
    if (!h.fault.empty()) return h;
    streamJobs(h.scans, HuffKind::Literals, h.descs[0]);
    streamJobs(h.scans, HuffKind::Tokens, h.descs[1]);
    off16Jobs(h.scans, h.descs[2]);
    for (int k = 0; k < 3 && h.fault.empty(); ++k) {
        h.batches[k] = runHuffBatch(rig, lz.lz_buffer, h.descs[k]);
        h.fault = h.batches[k].fault;
    }
    return h;
}

AssembledFrame assembleFrame(KernelRig& rig, std::span<const uint8_t> input, const FrameGeometry& frame,
                             const LzResult& lz, std::span<const uint8_t> head, const HuffmanStage* huffman) {
    AssembledFrame out;
    const uint32_t aw = uint32_t(frame.descs.size());
    std::vector<AssembleRecord> records = assembleRecords(frame, lz.sizes);
    uint32_t coded[3] = {lz.lz_buffer, lz.lz_buffer, lz.lz_buffer};
    if (huffman) {
        for (int k = 0; k < 3; ++k) coded[k] = huffman->batches[k].coded_buffer;
        for (uint32_t i = 0; i < aw; ++i) {
            AssembleRecord& r = records[i];
            auto take = [&](int k, uint32_t job, uint32_t& off, uint32_t& size) {
                off = huffman->descs[k][job].out_off;
                size = huffman->batches[k].sizes[job];
            };
            take(0, i, r.lit_off, r.lit_size);
            take(1, i, r.tok_off, r.tok_size);
            take(2, i, r.off16_hi_off, r.off16_hi_size);
            take(2, aw + i, r.off16_lo_off, r.off16_lo_size);
        }
    }
    const uint32_t record_buffer = rig.bufferOf(records);
    const uint32_t sizes = rig.buffer(aw * 4);
    out.fault = rig.launch("kvnAssembleMeasureKernel", {aw},
                           {rigBuffer(lz.lz_buffer), rigBuffer(coded[0]), rigBuffer(coded[1]), rigBuffer(coded[2]),
                            rigBuffer(record_buffer), rigBuffer(sizes), rigU32(aw)});
    if (!out.fault.empty()) return out;
    out.measured = rig.readAs<uint32_t>(sizes);
    uint32_t total = 0;
    for (uint32_t i = 0; i < aw; ++i) {
        if (out.measured[i] == 0) {
            out.fault = "measured size 0";
            return out;
        }
        records[i].out_off = total;
        total += out.measured[i] + KVN_SUBCHUNK_HDR_BYTES;
    }
    rig.write(record_buffer, std::span(reinterpret_cast<const uint8_t*>(records.data()), records.size() * sizeof(AssembleRecord)));
    const uint32_t assembled = rig.buffer(total);
    out.fault = rig.launch("kvnAssembleWriteKernel", {aw},
                           {rigBuffer(lz.lz_buffer), rigBuffer(coded[0]), rigBuffer(coded[1]), rigBuffer(coded[2]),
                            rigBuffer(record_buffer), rigBuffer(assembled), rigU32(aw)});
    if (!out.fault.empty()) return out;

    // A chunk is compressed when its encoded sub-chunks are smaller than it
    // and none of its LZ outputs reached its own length.
    const uint32_t n = uint32_t(frame.chunks);
    std::vector<uint32_t> body_offsets(n), lengths(n), record_offsets(n);
    uint32_t at = uint32_t(head.size());
    for (uint32_t c = 0; c < n; ++c) {
        const uint32_t first = frame.chunk_first_sub[c], last = frame.chunk_first_sub[c + 1];
        const uint32_t len = uint32_t(std::min<uint64_t>(frame.chunk, input.size() - uint64_t(c) * frame.chunk));
        uint32_t sum = 0;
        bool wide = false;
        for (uint32_t i = first; i < last; ++i) {
            sum += out.measured[i] + KVN_SUBCHUNK_HDR_BYTES;
            wide |= lz.sizes[i] >= frame.descs[i].len;
        }
        const bool compressed = sum < len && !wide;
        body_offsets[c] = compressed ? records[first].out_off : 0xFFFFFFFFu;
        lengths[c] = compressed ? sum : len;
        record_offsets[c] = at;
        const uint32_t record = lengths[c] + (compressed ? KVN_CHUNK_HDR_BYTES + KVN_SIZE_HDR_BYTES : KVN_CHUNK_HDR_BYTES);
        out.record_sizes.push_back(record);
        at += record;
    }
    const uint32_t prefix_at = at, end_at = at + KVN_CHUNK_PREFIX_BYTES * (n - 1);
    const uint32_t frame_buffer = rig.buffer(end_at + 4, 0xEE);
    out.fault = rig.launch("kvnFrameAssembleKernel", {n + 1},
                           {rigBuffer(lz.input_buffer), rigBuffer(assembled), rigBuffer(rig.bufferOf(body_offsets)),
                            rigBuffer(rig.bufferOf(lengths)), rigBuffer(rig.bufferOf(record_offsets)),
                            rigBuffer(rig.buffer(head)), rigBuffer(frame_buffer), rigU32(uint32_t(head.size())),
                            rigU32(KVN_CHUNK_HDR0_CODED_WRITTEN), rigU32(KVN_CHUNK_HDR1_WRITTEN), rigU32(n),
                            rigU32(frame.chunk), rigU32(uint32_t(input.size())), rigU32(prefix_at), rigU32(end_at)});
    out.frame = rig.read(frame_buffer);
    return out;
}

}  // namespace kvn::test
