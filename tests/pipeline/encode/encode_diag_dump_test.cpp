#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "encode_test_support.h"
#include "pipeline/encode/encode_diag_dump.h"
#include "tests/support/scratch_folder.h"

namespace kvn {
namespace {

using test::Bytes;
using test::ScopedEnv;
using test::realFile;
using test::withTrailers;
using test::expectLibraryRestores;
using test::kEncodeKernels;
using EncodeDiagDumpTest = test::EncodeTest;

std::vector<uint8_t> diagBuffer(uint32_t count, const std::vector<uint32_t>& first_record) {
    std::vector<uint8_t> diag(kEncodeDiagBytes, 0);
    std::memcpy(diag.data(), &count, 4);
    std::memcpy(diag.data() + 4, first_record.data(), 4 * first_record.size());
    return diag;
}

TEST(EncodeDiagDump, EmptyBufferIsTheHeaderLineAlone) {
    EXPECT_EQ(formatEncodeDiagRecords(diagBuffer(0, {})), "records=0 (emitted 0)\n");
}

TEST(EncodeDiagDump, RecordWordsInTheirBasesAndTheCountCappedAt4095) {
    const std::string text = formatEncodeDiagRecords(diagBuffer(5000, {0xA, 7, 0xBEEF, 1, 2, 3, 4, 0xFFFFFFFE}));
    EXPECT_EQ(text.rfind("records=4095 (emitted 5000)\n0a 7 0000beef 1 2 3 4 -2\n00 0 00000000 0 0 0 0 0\n", 0), 0u);
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    EXPECT_EQ(lines, 1u + 4095u);
}

// With the variable set, every LZ launch rewrites the file: the carried
// kernels write no records, so each batch leaves the header line alone.
TEST_F(EncodeDiagDumpTest, EveryBatchRewritesTheFileAndSaysSo) {
    if (!kEncodeKernels) GTEST_SKIP() << "this build carries no encode kernels yet";
    const std::string path = test::scratchFolder() + "/kvn_ediag.txt";
    const ScopedEnv dump("KVN_DIAG_DUMP", path.c_str());
    const Bytes input = realFile("/usr/include/stdio.h", 150000);
    testing::internal::CaptureStderr();
    const Bytes stream = compressOk(input, withTrailers(1));
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, "[ediag] wrote 0 records to " + path + "\n");
    std::ifstream file(path);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "records=0 (emitted 0)\n");
    expectLibraryRestores(handle_, stream, input);
}

}  // namespace
}  // namespace kvn
