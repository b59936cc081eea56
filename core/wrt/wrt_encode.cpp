#include "core/wrt/wrt_encode.h"

#include <cstring>

#include "core/wrt/word_count.h"
#include "core/wrt/wrt_workers.h"

namespace kvn {
namespace {

struct SegmentRange {
    const WrtDictionary* dictionary;
    const uint8_t* text;
    size_t text_size;
    WrtSegment* segments;
    uint8_t* areas;  // kWrtSegmentArea bytes per segment
    size_t first;
    size_t end;
    Error status;
};

void wrtEncodeSegments(SegmentRange* range) {
    for (size_t k = range->first; k < range->end; ++k) {
        range->status = wrtEncodeSegment(*range->dictionary, range->text, range->text_size, k,
                                         range->areas + k * kWrtSegmentArea, &range->segments[k]);
        if (range->status != Error::None) return;
    }
}

void wrtEncodeSegmentsThread(void* arg) { wrtEncodeSegments(static_cast<SegmentRange*>(arg)); }

// The segment areas: whole pages, committed only where a segment writes.
struct SegmentAreas {
    uint8_t* bytes = nullptr;
    size_t size = 0;
    explicit SegmentAreas(size_t segment_count)
        : bytes(static_cast<uint8_t*>(allocPages(segment_count * kWrtSegmentArea))),
          size(segment_count * kWrtSegmentArea) {}
    ~SegmentAreas() { freePages(bytes, size); }
    SegmentAreas(const SegmentAreas&) = delete;
    SegmentAreas& operator=(const SegmentAreas&) = delete;
};

Error notAppliedUnlessOutOfMemory(Error e) { return e == Error::OutOfMemory ? e : Error::None; }

}  // namespace

Error wrtEncodeSegment(const WrtDictionary& dictionary, const uint8_t* text, size_t n, size_t k, uint8_t* area,
                       WrtSegment* segment) {
    const size_t start = wrtSegmentStart(text, n, k);
    const size_t end = wrtSegmentStart(text, n, k + 1);
    const uint32_t one_byte_count = dictionary.selection.one_byte_count;
    size_t o = 0;
    uint8_t lower[kWrtMaxWordLength];
    for (size_t i = start; i < end;) {
        const uint8_t b = text[i];
        if (!isWrtLetter(b)) {
            if (o + 2 > kWrtSegmentArea) return Error::ShardOverflow;
            if (wrtNeedsEscape(b)) area[o++] = WRT_ESCAPE;
            area[o++] = b;
            ++i;
            continue;
        }
        // Segment ends never fall inside a letter run, so the run ends in the segment.
        const size_t run = i;
        while (i < end && isWrtLetter(text[i])) ++i;
        const size_t length = i - run;
        if (length >= kWrtMinWordLength && length <= kWrtMaxWordLength) {
            uint32_t upper = 0;
            for (size_t j = 0; j < length; ++j) {
                lower[j] = text[run + j] | 0x20;
                upper += (text[run + j] & 0x20) == 0;
            }
            const bool capitalised = upper == 1 && (text[run] & 0x20) == 0;
            const bool codable = upper == 0 || upper == length || capitalised;
            int64_t record = codable ? wordTableFind(dictionary.table, lower, uint32_t(length)) : -1;
            uint32_t code = record >= 0 ? dictionary.table.records[record].count : 0;
            if (code > 0) {
                const uint32_t v = code - 1;
                const size_t cost = (upper > 0 ? 1 : 0) + (v < one_byte_count ? 1 : 2);
                if (cost < length) {
                    if (o + 3 > kWrtSegmentArea) return Error::ShardOverflow;
                    if (upper > 0) area[o++] = capitalised ? WRT_CAPITALIZE : WRT_UPPERCASE;
                    if (v < one_byte_count) {
                        area[o++] = uint8_t(kWrtCodeBase + v);
                    } else {
                        area[o++] = uint8_t(kWrtPairLeadBase + ((v - one_byte_count) >> 7));
                        area[o++] = uint8_t(0x80 | ((v - one_byte_count) & 0x7F));
                    }
                    continue;
                }
            }
        }
        if (o + length > kWrtSegmentArea) return Error::ShardOverflow;
        std::memcpy(area + o, text + run, length);
        o += length;
    }
    if (end - start > 0xFFFF || o > 0xFFFF) return Error::ShardOverflow;
    *segment = WrtSegment{uint16_t(o), uint16_t(end - start)};
    return Error::None;
}

Error wrtEncodeCpu(const uint8_t* text, size_t n, WrtEncodeOutput* out, uint32_t processors) {
    *out = WrtEncodeOutput{};
    if (n < kWrtMinInput) return Error::None;

    WordTable counted;
    if (Error e = countTextWords(text, n, processors, &counted); e != Error::None)
        return notAppliedUnlessOutOfMemory(e);
    WrtDictionary dictionary;
    KVN_TRY(selectWrtDictionary(&counted, &dictionary));
    const WrtSelection& selection = dictionary.selection;
    if (selection.word_count == 0) return Error::None;

    const size_t segment_count = wrtSegmentCount(n);
    if (segment_count > kWrtMaxSegments) return Error::None;  // beyond what a section can record
    std::unique_ptr<WrtSegment[]> segments(new (std::nothrow) WrtSegment[segment_count]);
    SegmentAreas areas(segment_count);
    if (!segments || !areas.bytes) return Error::OutOfMemory;

    const uint32_t workers = processors < 2 ? 1 : wrtSegmentRanges(processors, segment_count);
    SegmentRange ranges[kWrtMaxWorkers];
    for (uint32_t j = 0; j < workers; ++j) {
        ranges[j] = SegmentRange{&dictionary, text, n, segments.get(), areas.bytes,
                                 segment_count * j / workers, segment_count * (j + 1) / workers, Error::None};
    }
    if (!runRanges(ranges, workers, wrtEncodeSegmentsThread, UnstartedRange::Abandon)) return Error::None;
    for (uint32_t j = 0; j < workers; ++j)
        if (ranges[j].status != Error::None) return notAppliedUnlessOutOfMemory(ranges[j].status);

    size_t encoded_size = 0;
    for (size_t k = 0; k < segment_count; ++k) encoded_size += segments[k].encoded_length;
    auto word_at = [&](uint32_t i) {
        const WordRecord& record = dictionary.table.records[selection.indices[i]];
        return WrtWordBytes{dictionary.table.word(record), record.length};
    };
    size_t words_size = 0;
    for (uint32_t i = 0; i < selection.word_count; ++i) words_size += size_t{1} + word_at(i).length;
    // Only worth it when the transformed text and its section are smaller than the text.
    if (encoded_size + 4 * segment_count + words_size + kWrtSectionFixedBytes >= n) return Error::None;

    WrtSectionBlob section;
    if (Error e = writeWrtSectionWords(n, selection.word_count, selection.one_byte_count, word_at, segments.get(),
                                       uint32_t(segment_count), &section);
        e != Error::None)
        return e;
    std::unique_ptr<uint8_t[]> transformed(new (std::nothrow) uint8_t[encoded_size > 0 ? encoded_size : 1]);
    if (!transformed) return Error::OutOfMemory;
    uint8_t* at = transformed.get();
    for (size_t k = 0; k < segment_count; ++k) {
        std::memcpy(at, areas.bytes + k * kWrtSegmentArea, segments[k].encoded_length);
        at += segments[k].encoded_length;
    }

    out->applied = true;
    out->text = std::move(transformed);
    out->text_size = encoded_size;
    out->section = std::move(section);
    return Error::None;
}

}  // namespace kvn
