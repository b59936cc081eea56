// The word-count kernel on both backends against the CPU word table: every
// word of real text is counted exactly as often as the CPU counts it, in
// exactly one record, however the threads race for the slots.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/wrt/word_count.h"
#include "core/wrt/word_table.h"
#include "tests/kernels/decode/decode_kernel_test.h"
#include "tests/kernels/encode/encode_rig.h"

namespace kvn::test {
namespace {

class WrtCountKernel : public DecodeKernelTest {};

TEST_P(WrtCountKernel, CountsAreTheCpuCounts) {
    const std::vector<uint8_t> text = fileHead(std::string(KVN_CORPUS_DIR) + "/text-dictionary.txt", 1 << 18);
    if (text.empty()) GTEST_SKIP() << "no corpus folder configured (KVN_CORPUS_DIR)";
    constexpr uint32_t kBits = 18;
    constexpr uint32_t kRecords = 1u << (kBits - 1);
    const uint32_t n = uint32_t(text.size());
    const uint32_t in = rig_.buffer(text);
    const uint32_t slots = rig_.buffer(size_t{4} << kBits, 0);
    const uint32_t lengths = rig_.buffer(size_t{4} * kRecords, 0);
    const uint32_t words = rig_.buffer(size_t{32} * kRecords, 0);
    const uint32_t counts = rig_.buffer(size_t{4} * kRecords, 0);
    const uint32_t counters = rig_.buffer(1024, 0);
    launch("kvnWrtCountKernel", {(n + 255) / 256},
           {rigBuffer(in), rigBuffer(slots), rigBuffer(lengths), rigBuffer(words), rigBuffer(counts),
            rigBuffer(counters), rigU32(n), rigU32(kBits)});
    const std::vector<uint32_t> slot_values = rig_.readAs<uint32_t>(slots);
    const std::vector<uint32_t> length_values = rig_.readAs<uint32_t>(lengths);
    const std::vector<uint8_t> word_bytes = rig_.read(words);
    const std::vector<uint32_t> count_values = rig_.readAs<uint32_t>(counts);
    EXPECT_EQ(rig_.readAs<uint32_t>(counters)[0], 0u) << "no word dropped";
    EXPECT_EQ(rig_.readAs<uint32_t>(counters)[2], n) << "every position walked";

    std::map<std::string, uint32_t> gpu;
    for (uint32_t v : slot_values) {
        if (v == 0) continue;
        const std::string word(reinterpret_cast<const char*>(&word_bytes[size_t{32} * (v - 1)]), length_values[v - 1]);
        EXPECT_EQ(gpu.count(word), 0u) << word << " has one record";
        gpu[word] += count_values[v - 1];
    }
    WordTable table;
    ASSERT_EQ(countTextWords(text.data(), text.size(), 1, &table), Error::None);
    std::map<std::string, uint32_t> cpu;
    for (uint32_t r = 0; r < table.record_count; ++r)
        cpu[std::string(reinterpret_cast<const char*>(table.word(table.records[r])), table.records[r].length)] =
            table.records[r].count;
    EXPECT_EQ(gpu.size(), cpu.size());
    int shown = 0;
    for (const auto& [word, count] : cpu) {
        const uint32_t got = gpu.count(word) ? gpu[word] : 0;
        if (got != count && shown++ < 10) ADD_FAILURE() << word << ": GPU " << got << ", CPU " << count;
    }
}

KVN_ON_BOTH_BACKENDS(WrtCountKernel);

}  // namespace
}  // namespace kvn::test
