#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "core/platform/platform.h"

namespace kvn {
namespace {

TEST(EnvInteger, ParserForms) {
    const struct {
        const char* text;
        uint64_t max;
        std::optional<uint64_t> want;
    } cases[] = {
        {"0", 100, 0},
        {"42", 100, 42},
        {"+42", 100, 42},
        {"1_000", 5000, 1000},
        {"1_0_0", 5000, 100},
        {"-0", 100, 0},
        {"-000", 100, 0},
        {"100", 100, 100},
        {"101", 100, std::nullopt},
        {"18446744073709551615", UINT64_MAX, UINT64_MAX},
        {"18446744073709551616", UINT64_MAX, std::nullopt},
        {"4294967296", UINT32_MAX, std::nullopt},
        {"", 100, std::nullopt},
        {"+", 100, std::nullopt},
        {"-", 100, std::nullopt},
        {"-1", 100, std::nullopt},
        {"-0_0", 100, std::nullopt},
        {"1__0", 100, std::nullopt},
        {"_1", 100, std::nullopt},
        {"1_", 100, std::nullopt},
        {"+_1", 100, std::nullopt},
        {"++1", 100, std::nullopt},
        {" 1", 100, std::nullopt},
        {"1 ", 100, std::nullopt},
        {"0x10", 100, std::nullopt},
        {"1e3", 5000, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseEnvInteger(c.text, c.max), c.want) << '"' << c.text << '"';
}

TEST(EnvInteger, ReadsTheEnvironment) {
    setenv("KVN_TEST_INTEGER", "+1_024", 1);
    EXPECT_EQ(envInteger("KVN_TEST_INTEGER", UINT32_MAX), 1024u);
    setenv("KVN_TEST_INTEGER", "", 1);
    EXPECT_TRUE(envPresent("KVN_TEST_INTEGER"));
    EXPECT_EQ(envInteger("KVN_TEST_INTEGER", UINT32_MAX), std::nullopt);
    unsetenv("KVN_TEST_INTEGER");
    EXPECT_FALSE(envPresent("KVN_TEST_INTEGER"));
}

TEST(Threads, StartJoinAndInjectedFailure) {
    std::atomic<int> ran{0};
    auto body = [](void* arg) { static_cast<std::atomic<int>*>(arg)->fetch_add(1); };
    Thread threads[3];
    injectThreadStartFailure(1);  // first start succeeds, second fails, third succeeds
    EXPECT_EQ(startThread(&threads[0], body, &ran, kStack16MiB), Error::None);
    EXPECT_EQ(startThread(&threads[1], body, &ran, kStack16MiB), Error::Unexpected);
    EXPECT_FALSE(threads[1].started);
    EXPECT_EQ(startThread(&threads[2], body, &ran, kStack16MiB), Error::None);
    for (auto& t : threads) joinThread(&t);
    EXPECT_EQ(ran.load(), 2);
}

TEST(Pages, ZeroedAndWritable) {
    auto* p = static_cast<uint8_t*>(allocPages(10000));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[9999], 0);
    p[9999] = 7;
    freePages(p, 10000);
}

TEST(Pages, HugePagesAreAlignedZeroedAndWritable) {
    const size_t bytes = (size_t{32} << 20) + 12345;
    auto* p = static_cast<uint8_t*>(allocHugePages(bytes));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % (size_t{2} << 20), 0u);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[bytes - 1], 0);
    p[bytes - 1] = 7;
    freePages(p, bytes);
}

// A file replaced whole, then added to at its end; a missing folder fails.
TEST(Files, WriteWholeThenAppend) {
    const std::string path = testing::TempDir() + "kvn_platform_file.bin";
    const auto contents = [&] {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    std::remove(path.c_str());
    EXPECT_TRUE(appendToFile(path.c_str(), "ab", 2));
    EXPECT_EQ(contents(), "ab");
    EXPECT_TRUE(appendToFile(path.c_str(), "cd", 2));
    EXPECT_EQ(contents(), "abcd");
    EXPECT_TRUE(writeWholeFile(path.c_str(), "x", 1));
    EXPECT_EQ(contents(), "x");
    EXPECT_TRUE(appendToFile(path.c_str(), "", 0));
    EXPECT_EQ(contents(), "x");
    std::remove(path.c_str());
    EXPECT_FALSE(appendToFile((testing::TempDir() + "no-such-folder/f").c_str(), "a", 1));
}

}  // namespace
}  // namespace kvn
