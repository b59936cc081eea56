// Real files (the folder KVN_CORPUS_DIR names, built by scripts/test.sh from
// Debian packages) compressed on lavapipe at levels 1 to 4: each frame is
// the reference encoder's frame byte for byte, and both decoders restore the
// file from it; at level 5 both decoders restore it; the numeric files also
// with the automatic byte-plane stride.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "encode_test_support.h"

namespace kvn::test {
namespace {

const std::string kCorpusDir = KVN_CORPUS_DIR;

// The files the folder's MANIFEST lists, in its order.
std::vector<std::string> corpusFiles() {
    std::vector<std::string> files;
    std::ifstream manifest(kCorpusDir + "/MANIFEST");
    std::string name, size, hash;
    while (manifest >> name >> size >> hash) files.push_back(name);
    return files;
}

// The first 2 MiB of each file: a frame's LZ stage is one dispatch, and on a
// loaded two-core machine lavapipe parses about 0.25 MB/s, so a whole 8 MiB
// file would come near the 60-second fence wait.
constexpr std::streamsize kSliceBytes = std::streamsize{2} << 20;

Bytes readSlice(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    Bytes bytes(kSliceBytes);
    file.read(reinterpret_cast<char*>(bytes.data()), kSliceBytes);
    bytes.resize(static_cast<size_t>(file.gcount()));
    return bytes;
}

struct Setting {
    const char* what;
    int level;
    float fraction;  // 0: the default
    bool trailers;
};

// Half chunks with trailers rather than whole ones: lavapipe's loop budget
// cannot decode every 256 KiB chunk of dense binary data in one work item.
constexpr Setting kSettings[] = {
    {"level 1", 1, 0.0f, false},
    {"level 2", 2, 0.0f, false},
    {"level 2, half chunks, checksum and Merkle root", 2, 0.5f, true},
    {"level 3, checksum and Merkle root", 3, 0.0f, true},
    {"level 4, half chunks, checksum and Merkle root", 4, 0.5f, true},
};

class CorpusRoundTrip : public EncodeTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(CorpusRoundTrip, FramesAreTheReferenceFramesAndRoundTrip) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes input = readSlice(kCorpusDir + "/" + GetParam());
    ASSERT_FALSE(input.empty()) << GetParam();
    for (const Setting& s : kSettings) {
        SCOPED_TRACE(s.what);
        CompressOpts opts{};
        opts.level = s.level;
        opts.sc_group_size = s.fraction;
        opts.content_checksum = s.trailers;
        opts.merkle_root = s.trailers;
        const Bytes frame = compressOk(input, opts);
        EXPECT_TRUE(frame == referenceFrame(input, opts)) << "the GPU frame is the reference encoder's";
        expectDecodersRestore(handle_, frame, input, opts);
        RecordProperty(std::string("ratio ") + s.what, std::to_string(double(input.size()) / frame.size()));
    }
}

// Level 5 has no reference encoder: its frames are held to both decoders,
// on 512 KiB slices (its chain parse costs lavapipe more per byte).
constexpr size_t kLevel5SliceBytes = size_t{1} << 19;

TEST_P(CorpusRoundTrip, Level5FramesRoundTrip) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    Bytes input = readSlice(kCorpusDir + "/" + GetParam());
    ASSERT_FALSE(input.empty()) << GetParam();
    input.resize(std::min(input.size(), kLevel5SliceBytes));
    for (float fraction : {0.0f, 0.5f}) {
        SCOPED_TRACE(fraction);
        CompressOpts opts = withTrailers(5);
        opts.sc_group_size = fraction;
        const Bytes frame = compressOk(input, opts);
        expectDecodersRestore(handle_, frame, input, opts);
        RecordProperty("ratio level 5, fraction " + std::to_string(fraction),
                       std::to_string(double(input.size()) / frame.size()));
    }
}

// Numeric files compressed with the automatic byte-plane stride: the call
// keeps the smaller of its two passes, and the library's decoder undoes the
// planes.
using NumericCorpusRoundTrip = CorpusRoundTrip;

std::vector<std::string> numericFiles() {
    std::vector<std::string> files = corpusFiles();
    std::erase_if(files, [](const std::string& name) {
        return !name.starts_with("audio-") && !name.starts_with("image-") && !name.starts_with("elevation-");
    });
    return files;
}

TEST_P(NumericCorpusRoundTrip, AutomaticStrideRoundTrips) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const Bytes input = readSlice(kCorpusDir + "/" + GetParam());
    CompressOpts opts = withTrailers(2);
    opts.sc_group_size = 0.5f;
    opts.byte_plane_stride = -1;
    const Bytes frame = compressOk(input, opts);
    ASSERT_GT(frame.size(), 13u);
    expectLibraryRestores(handle_, frame, input);
    RecordProperty("stride", std::to_string(frame[13]));
    RecordProperty("ratio", std::to_string(double(input.size()) / frame.size()));
}

std::string testName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name;
    for (char c : info.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Files, CorpusRoundTrip, ::testing::ValuesIn(corpusFiles()), testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusRoundTrip);
INSTANTIATE_TEST_SUITE_P(Files, NumericCorpusRoundTrip, ::testing::ValuesIn(numericFiles()), testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(NumericCorpusRoundTrip);

// A configured folder must hold files: a corpus that failed to build is not
// a pass.
TEST(Corpus, FolderListsFiles) {
    if (kCorpusDir.empty()) GTEST_SKIP() << "configure with -DKVN_CORPUS_DIR=<folder> to round-trip a corpus";
    EXPECT_TRUE(std::filesystem::is_directory(kCorpusDir)) << kCorpusDir;
    EXPECT_FALSE(corpusFiles().empty()) << kCorpusDir << "/MANIFEST lists no file";
}

}  // namespace
}  // namespace kvn::test
