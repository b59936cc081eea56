// The GPU word transform against the CPU transform on the corpus's text
// files: the same section and the same transformed bytes, byte for byte.
// Prints each road's throughput, measured in the same run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "core/handle/handle.h"
#include "core/platform/platform.h"
#include "core/wrt/wrt_encode.h"
#include "encode_test_support.h"
#include "pipeline/device/device_ops.h"
#include "pipeline/encode/wrt_encode_gpu.h"

namespace kvn::test {
namespace {

const std::string kCorpusDir = KVN_CORPUS_DIR;
constexpr std::streamsize kSliceBytes = std::streamsize{1} << 20;

Bytes readSlice(const std::string& path, std::streamsize bytes) {
    std::ifstream file(path, std::ios::binary);
    Bytes out(static_cast<size_t>(bytes));
    file.read(reinterpret_cast<char*>(out.data()), bytes);
    out.resize(static_cast<size_t>(file.gcount()));
    return out;
}

using WrtGpuTransformTest = EncodeTest;

TEST_F(WrtGpuTransformTest, GpuTransformIsTheCpuTransform) {
    if (kCorpusDir.empty()) GTEST_SKIP() << "configure with -DKVN_CORPUS_DIR=<folder>";
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    EncoderState& encoder = static_cast<KvnHandle*>(handle_)->encoder;
    struct Case {
        const char* file;
        std::streamsize bytes;
    };
    // Whole slices, and a cut just past the threshold whose last segment is short.
    const Case cases[] = {{"text-dictionary.txt", kSliceBytes}, {"xml-mime.xml", kSliceBytes},
                          {"js-jquery.js", kSliceBytes}, {"source-python.tar", kSliceBytes},
                          {"text-dictionary.txt", 65536 + 123}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Bytes text = readSlice(kCorpusDir + "/" + c.file, c.bytes);
        double t0 = hostTimeMs();
        WrtEncodeOutput cpu;
        ASSERT_EQ(wrtEncodeCpu(text.data(), text.size(), &cpu), Error::None);
        const double cpu_ms = hostTimeMs() - t0;
        t0 = hostTimeMs();
        WrtEncodeResult gpu;
        bool not_applied = false;
        const bool applied = wrtEncodeGpu(&gpu, encoder, text.data(), text.size(), &not_applied);
        const double gpu_ms = hostTimeMs() - t0;
        ASSERT_EQ(applied, cpu.applied);
        if (!applied) {
            EXPECT_TRUE(not_applied) << "the GPU road did not fail";
            continue;
        }
        ASSERT_EQ(gpu.section.size, cpu.section.size);
        size_t first = 0;
        while (first < cpu.section.size && gpu.section.bytes[first] == cpu.section.bytes[first]) ++first;
        EXPECT_EQ(first, cpu.section.size) << "the same dictionary and segment records; first difference at byte "
                                           << first << " of " << cpu.section.size;
        ASSERT_EQ(gpu.text_size, cpu.text_size);
        Bytes transformed(gpu.text_size);
        ASSERT_EQ(gpuOps().memcpyDtoH(transformed.data(), gpu.text, gpu.text_size), Error::None);
        EXPECT_EQ(std::memcmp(transformed.data(), cpu.text.get(), cpu.text_size), 0) << "the same transformed bytes";
        std::printf("[wrt-speed] %s %zu bytes: GPU %.1f MB/s, CPU %.1f MB/s (GPU/CPU %.2f)\n", c.file, text.size(),
                    double(text.size()) / 1e3 / gpu_ms, double(text.size()) / 1e3 / cpu_ms, cpu_ms / gpu_ms);
        freeWrtEncodeResult(&gpu);
    }
}

}  // namespace
}  // namespace kvn::test
