// The text files of the corpus compressed with the word transform at levels
// 1 and 3 and at level 6 (level 5 with it), with both trailers: the frames of texts with repeated words carry
// a WRT section, the word list (every word once) gives a plain frame, and the
// library's decoder restores every file. Prints the ratio with and without it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "core/format/frame_header.h"
#include "encode_test_support.h"

namespace kvn::test {
namespace {

const std::string kCorpusDir = KVN_CORPUS_DIR;
// Enough text for many segments and several LZ blocks, small enough for
// lavapipe on a loaded machine.
constexpr std::streamsize kSliceBytes = std::streamsize{1} << 19;

struct TextFile {
    const char* name;
    bool transformed;
};
const TextFile kTextFiles[] = {
    {"text-dictionary.txt", true}, {"text-words.txt", false}, {"xml-mime.xml", true}, {"js-jquery.js", true}};

Bytes readSlice(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    Bytes bytes(kSliceBytes);
    file.read(reinterpret_cast<char*>(bytes.data()), kSliceBytes);
    bytes.resize(static_cast<size_t>(file.gcount()));
    return bytes;
}

using WrtCorpusTest = EncodeTest;

TEST_F(WrtCorpusTest, TextFilesRoundTripWithTheWordTransform) {
    if (kCorpusDir.empty()) GTEST_SKIP() << "configure with -DKVN_CORPUS_DIR=<folder>";
    if (!kEncodeKernels || !kDecodeKernels) GTEST_SKIP() << "this build carries no kernels yet";
    for (const TextFile& file : kTextFiles) {
        const char* name = file.name;
        const Bytes input = readSlice(kCorpusDir + "/" + name);
        ASSERT_GT(input.size(), 65536u) << name;
        for (int level : {1, 3, 6}) {
            SCOPED_TRACE(std::string(name) + " at level " + std::to_string(level));
            CompressOpts opts = withTrailers(level);
            opts.wrt = 1;
            const Bytes frame = compressOk(input, opts);
            const FrameHeader header = parseFrameHeader(frame.data(), frame.size());
            EXPECT_EQ((header.flags & kFrameWrtSection) != 0, file.transformed);
            expectLibraryRestores(handle_, frame, input);
            const Bytes plain = compressOk(input, withTrailers(level == 6 ? 5 : level));
            std::printf("[wrt-ratio] %s level %d: %.3f with wrt, %.3f without (level %d)\n", name, level,
                        double(input.size()) / double(frame.size()), double(input.size()) / double(plain.size()), level == 6 ? 5 : level);
        }
    }
}

}  // namespace
}  // namespace kvn::test
