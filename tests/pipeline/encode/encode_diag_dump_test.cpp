#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pipeline/encode/encode_diag_dump.h"

namespace kvn {
namespace {

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

}  // namespace
}  // namespace kvn
