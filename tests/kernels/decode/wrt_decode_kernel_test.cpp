// The GPU inverse word transform against the CPU decoder and against the
// meaning of the tokens, on both backends: a table of segment byte patterns
// (escapes, case bytes, one- and two-byte codes, pairs and case bytes across
// 32-byte windows, a long random token stream) decodes to the same bytes; the
// malformed patterns the CPU decoder reports make their segment report a
// fault; a segment that produces more than its decoded length writes nothing
// outside its own range.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/wrt/wrt_decode.h"
#include "core/wrt/wrt_format.h"
#include "pipeline/decode/wrt_decode_fused.h"
#include "tests/kernels/decode/decode_kernel_test.h"

namespace kvn::test {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kFault = 0xFFFFFFFFu;

// 4136 distinct lower-case words of 3 to 8 letters: word i spells i in base 26.
std::vector<std::string> dictionaryWords() {
    std::vector<std::string> words;
    for (uint32_t i = 0; i < kWrtMaxWords; ++i) {
        std::string w;
        uint32_t v = i;
        do {
            w.push_back(char('a' + v % 26));
            v /= 26;
        } while (v);
        while (w.size() < 3 + i % 6) w.push_back('q');
        words.push_back(w);
    }
    return words;
}

struct Segment {
    Bytes encoded;
    Bytes decoded;  // what the tokens mean; for malformed ones, just its length counts
};

// A frame's section over the dictionary and the segments.
WrtSectionBlob sectionOf(const std::vector<std::string>& words, const std::vector<Segment>& segments) {
    std::vector<WrtSegment> records;
    uint64_t decoded = 0;
    for (const Segment& s : segments) {
        records.push_back({uint16_t(s.encoded.size()), uint16_t(s.decoded.size())});
        decoded += s.decoded.size();
    }
    WrtSectionBlob blob;
    auto word_at = [&](uint32_t i) { return WrtWordBytes{reinterpret_cast<const uint8_t*>(words[i].data()), uint32_t(words[i].size())}; };
    EXPECT_EQ(writeWrtSectionWords(decoded, uint32_t(words.size()), std::min<uint32_t>(uint32_t(words.size()), 40),
                                   word_at, records.data(), uint32_t(records.size()), &blob),
              Error::None);
    return blob;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Tokens and their meaning side by side: an independent account of the stream.
class TokenWriter {
public:
    explicit TokenWriter(const std::vector<std::string>& words) : words_(words) {}
    TokenWriter& literal(uint8_t b) {
        if (wrtNeedsEscape(b)) seg_.encoded.push_back(WRT_ESCAPE);
        seg_.encoded.push_back(b);
        seg_.decoded.push_back(b);
        return *this;
    }
    TokenWriter& literals(const std::string& s) {
        for (char c : s) literal(uint8_t(c));
        return *this;
    }
    // Case 0 lower, 1 capitalised, 2 upper.
    TokenWriter& code(uint32_t index, int kase = 0) {
        if (kase == 1) seg_.encoded.push_back(WRT_CAPITALIZE);
        if (kase == 2) seg_.encoded.push_back(WRT_UPPERCASE);
        if (index < kWrtOneByteWords) {
            seg_.encoded.push_back(uint8_t(0x80 + index));
        } else {
            seg_.encoded.push_back(uint8_t(0xA8 + ((index - 40) >> 7)));
            seg_.encoded.push_back(uint8_t(0x80 | ((index - 40) & 0x7F)));
        }
        std::string w = words_[index];
        for (size_t i = 0; i < w.size(); ++i)
            if (kase == 2 || (kase == 1 && i == 0)) w[i] = char(w[i] - 32);
        seg_.decoded.insert(seg_.decoded.end(), w.begin(), w.end());
        return *this;
    }
    TokenWriter& raw(std::initializer_list<uint8_t> bytes) {
        seg_.encoded.insert(seg_.encoded.end(), bytes);
        return *this;
    }
    size_t encodedSize() const { return seg_.encoded.size(); }
    Segment done() { return std::move(seg_); }

private:
    const std::vector<std::string>& words_;
    Segment seg_;
};

// Random well-formed tokens of every kind until the segment holds at least
// `min_encoded` bytes.
Segment randomTokens(const std::vector<std::string>& words, uint32_t seed, size_t min_encoded) {
    std::mt19937 r(seed);
    TokenWriter t(words);
    while (t.encodedSize() < min_encoded) {
        switch (r() % 6) {
            case 0: t.literal(uint8_t(r())); break;
            case 1: t.literals(" ,."); break;
            case 2: t.code(r() % 40, int(r() % 3)); break;
            case 3: t.code(40 + r() % 4096, int(r() % 3)); break;
            case 4: t.raw({WRT_CAPITALIZE}).literal('x'); break;  // a case byte a literal consumes
            default: t.literal(uint8_t(0x03 + r() % 4)); break;
        }
    }
    return t.done();
}

class WrtDecodeKernel : public DecodeKernelTest {
protected:
    const std::vector<std::string> words_ = dictionaryWords();

    // Runs the kernel over the segments of one frame; returns the output
    // (guard bytes checked) and each segment's produced length.
    Bytes run(const std::vector<Segment>& segments, std::vector<uint32_t>* produced) {
        const WrtSectionBlob section = sectionOf(words_, segments);
        WrtDecodeState state;
        EXPECT_EQ(parseSection(section.bytes.get(), section.size, &state), Error::None);
        Bytes transformed;
        for (const Segment& s : segments) transformed.insert(transformed.end(), s.encoded.begin(), s.encoded.end());
        WrtFusedTables tables;
        EXPECT_EQ(buildWrtFusedTables(state, transformed.size(), &tables), Error::None);
        EXPECT_TRUE(tables.fits);
        const uint64_t out = state.decoded_size;
        const uint32_t k = uint32_t(segments.size());
        if (transformed.empty()) transformed.push_back(0);
        const uint32_t in = rig_.buffer(transformed);
        const uint32_t meta = rig_.buffer(Bytes(tables.blob.get(), tables.blob.get() + tables.size));
        const uint32_t output = guarded(out);
        launch("kvnWrtDecodeFusedKernel", {k},
               {rigBuffer(in), rigBuffer(meta, 0), rigBuffer(meta, tables.region), rigBuffer(meta, 2 * tables.region),
                rigBuffer(meta, 3 * tables.region), rigBuffer(meta, tables.words_at), rigBuffer(output),
                rigBuffer(meta, tables.produced_at), rigU32(uint32_t(state.word_count)), rigU32(k),
                rigU32(uint32_t(out))});
        expectGuardFrom(output, out);
        const Bytes all = rig_.read(meta);
        produced->resize(k);
        std::memcpy(produced->data(), all.data() + tables.produced_at, 4 * size_t{k});
        freeWrtDecodeState(&state);
        return readWords<uint8_t>(output, out);
    }

    // The CPU decoder's verdict and output for the same frame.
    Error cpu(const std::vector<Segment>& segments, Bytes* out) {
        const WrtSectionBlob section = sectionOf(words_, segments);
        WrtDecodeState state;
        EXPECT_EQ(parseSection(section.bytes.get(), section.size, &state), Error::None);
        Bytes transformed;
        for (const Segment& s : segments) transformed.insert(transformed.end(), s.encoded.begin(), s.encoded.end());
        out->assign(state.decoded_size, 0);
        const Error e = wrtDecodeCpu(state, transformed.data(), transformed.size(), out->data(), out->size(), 1);
        freeWrtDecodeState(&state);
        return e;
    }
};

TEST_P(WrtDecodeKernel, WellFormedSegmentsDecodeAsTheCpuDecoderDoes) {
    std::vector<Segment> segments;
    auto tw = [&] { return TokenWriter(words_); };
    segments.push_back(tw().literals("plain text, digits 0123 and punctuation;\n").done());
    // An escaped 0xB0 (itself a pair lead) before the two-byte code of word 41.
    segments.push_back(tw().literal(0xB0).code(41).done());
    segments.push_back(tw().code(5, 1).literal(' ').code(5, 2).raw({WRT_UPPERCASE}).code(5, 2).literal(' ')
                           .raw({WRT_CAPITALIZE}).literal('x').code(0).done());
    segments.push_back(tw().code(40).code(4135).code(4135, 1).code(39, 2).done());
    segments.push_back(Segment{});  // an empty segment
    // A case byte as the last byte of the first window applies in the next.
    segments.push_back(tw().literals(std::string(31, 'a')).code(7, 1).literals("tail").done());
    // A run of escapes across the window boundary: parity carries over.
    segments.push_back(tw().literals(std::string(29, 'b')).literal(0x03).literal(0x03).literal(0xA8).code(100)
                           .literal(0xFF).done());
    // A two-byte code split by the window boundary.
    segments.push_back(tw().literals(std::string(31, 'c')).code(3000).code(2, 2).done());
    segments.push_back(randomTokens(words_, 7, 3000));
    segments.push_back(randomTokens(words_, 8, 12000));

    Bytes expected;
    for (const Segment& s : segments) expected.insert(expected.end(), s.decoded.begin(), s.decoded.end());
    Bytes cpu_out;
    ASSERT_EQ(cpu(segments, &cpu_out), Error::None);
    EXPECT_TRUE(cpu_out == expected) << "the CPU decoder gives the tokens' meaning";
    std::vector<uint32_t> produced;
    const Bytes gpu_out = run(segments, &produced);
    EXPECT_TRUE(gpu_out == expected) << "the kernel gives the same bytes";
    for (size_t s = 0; s < segments.size(); ++s) EXPECT_EQ(produced[s], segments[s].decoded.size()) << "segment " << s;
}

TEST_P(WrtDecodeKernel, MalformedSegmentsReportAFault) {
    struct Case {
        const char* what;
        Bytes encoded;
        size_t decoded;
    };
    Bytes letters_then_escape(32, 'z');
    letters_then_escape.push_back(WRT_ESCAPE);
    const Case cases[] = {
        {"escape as the last byte", {'a', 0x03}, 2},
        {"escape as the last byte, in the second window", letters_then_escape, 33},
        {"pair lead as the last byte", {'a', 0xA8}, 4},
        {"pair trail without its high bit", {0xA8, 0x41}, 4},
        {"lead byte beyond the last code", {0xC8, 0x80}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<Segment> segments = {Segment{c.encoded, Bytes(c.decoded, 'x')}};
        Bytes cpu_out;
        EXPECT_EQ(cpu(segments, &cpu_out), Error::Corrupt);
        std::vector<uint32_t> produced;
        run(segments, &produced);
        EXPECT_EQ(produced[0], kFault);
    }
}

TEST_P(WrtDecodeKernel, ASegmentLongerThanItsRecordStaysInItsRange) {
    // "hello" declared as 2 bytes, then "xyz" as 5: the first segment's extra
    // bytes must not land in the second's range, and both report a mismatch.
    const std::vector<Segment> segments = {Segment{text("hello"), text("he")}, Segment{text("xyz"), text("xyzQQ")}};
    Bytes cpu_out;
    EXPECT_EQ(cpu(segments, &cpu_out), Error::Corrupt);
    std::vector<uint32_t> produced;
    const Bytes out = run(segments, &produced);
    EXPECT_EQ(produced[0], 5u);
    EXPECT_EQ(produced[1], 3u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), text("hexyz"));
}

KVN_ON_BOTH_BACKENDS(WrtDecodeKernel);

}  // namespace
}  // namespace kvn::test
