// The build-time kernel checks (lint, PTX entry reader, SPIR-V interface) and
// the probe modules they passed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "kernels/embedded_modules.h"
#include "kernels/tools/kernel_lint.h"
#include "kernels/tools/ptx_entry.h"
#include "kernels/tools/spirv_interface.h"

namespace {

using namespace kvn::tools;

TEST(KernelLint, FlagsTrapsAndPassesTheirSafeSpelling) {
    struct Case {
        const char* source;
        size_t findings;
        const char* message;  // part of the first finding
    };
    const std::string table =
        "#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) BUFFER(0, KVN_RO, u8, bytes) VIEW(0, KVN_RO, u16, halves) "
        "ADDRESS(KVN_RW, u8, far) SCALAR(i32, delta)\nKVN_SHARED(u8, stage, 64)\n";
    const Case cases[] = {
        {"u32 x = u32(bytes[i]) + u32(halves[j]) + u32(far.data[k]) + u32(stage[0]);", 0, ""},
        {"stage[t] = u8(x); far.data[i] = u8(y);", 0, ""},
        {"u32 x = bytes[i] + bytes[j];", 2, "without u32(...)"},
        {"u32 x = u32(far.data[i]) + stage[2];", 1, "`stage[2]`"},
        {"u32 x = far.data[i];", 1, "`far.data[i]`"},
        {"u8 b = 1u;", 1, "small integer variables"},
        {"KVN_FN u32 f(u16 h) { return 0u; }", 1, "small integer variables"},
        {"int n = 0;", 1, "`int`"},
        {"unsigned n = 0;", 1, "`unsigned`"},
        {"i32 s = delta >> 2u;", 1, "`delta >>`"},
        {"i32 s = 5; u32 m = u32(s % 3);", 1, "`s %`"},
        {"u32 m = u32(i32(x) >> 1u);", 1, "on a signed value"},
        {"i32 s = kvnShiftRightSigned(delta, 2u); u32 m = u32(x) >> 1u;", 0, ""},
        {"// int x = bytes[0] >> 1;\n/* u8 y; */ u32 z = 0u;", 0, ""},
    };
    for (const Case& c : cases) {
        std::vector<LintFinding> f = lintKernelSources({{"k.comp", table + c.source}});
        ASSERT_EQ(f.size(), c.findings) << c.source << (f.empty() ? "" : "\n first: " + f[0].message);
        if (!f.empty()) {
            EXPECT_NE(f[0].message.find(c.message), std::string::npos) << c.source << ": " << f[0].message;
            EXPECT_EQ(f[0].line, 3u) << c.source;
        }
    }
}

TEST(PtxEntryReader, ReadsParameterTypesOfTheNamedEntryOnly) {
    const char* ptx =
        ".visible .entry kvnFooBar(\n\t.param .u32 kvnFooBar_param_0\n)\n{\n}\n"
        ".visible .entry kvnFoo(\n\t.param .u64 .ptr .align 4 kvnFoo_param_0,\n\t.param .u64 kvnFoo_param_1,\n"
        "\t.param .u32 kvnFoo_param_2\n)\n{\n}\n"
        ".visible .entry kvnEmpty()\n{\n}\n";
    auto foo = readPtxEntryParams(ptx, "kvnFoo");
    ASSERT_TRUE(foo);
    EXPECT_EQ(*foo, (std::vector<std::string>{".u64", ".u64", ".u32"}));
    auto bar = readPtxEntryParams(ptx, "kvnFooBar");
    ASSERT_TRUE(bar);
    EXPECT_EQ(*bar, (std::vector<std::string>{".u32"}));
    auto empty = readPtxEntryParams(ptx, "kvnEmpty");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    EXPECT_FALSE(readPtxEntryParams(ptx, "kvnMissing"));
}

std::vector<uint32_t> moduleWords(std::string_view name) {
    for (const kvn::EmbeddedModule& m : kvn::embeddedModules()) {
        if (name == m.name) {
            std::vector<uint32_t> words(m.size / 4);
            std::memcpy(words.data(), m.bytes, words.size() * 4);
            return words;
        }
    }
    return {};
}

// PTX modules exist only in a build with the CUDA toolkit.
#ifdef KVN_TEST_PTX_MODULES
constexpr bool kHavePtxModules = true;
#else
constexpr bool kHavePtxModules = false;
#endif

std::string moduleText(std::string_view name) {
    for (const kvn::EmbeddedModule& m : kvn::embeddedModules()) {
        if (name == m.name) return std::string(reinterpret_cast<const char*>(m.bytes), m.size);
    }
    return {};
}

// A header included by the source is judged with the source's names.
TEST(KernelLint, JudgesIncludedHeadersWithTheSourcesNames) {
    std::vector<LintFinding> f = lintKernelSources(
        {{"k.comp", "#define KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR) BUFFER(0, KVN_RO, u8, bytes) SCALAR(i32, d)\n"},
         {"kernels/helpers.h", "KVN_FN u32 f(u32 i) {\n    return bytes[i] + u32(d >> 1u);\n}\n"}});
    ASSERT_EQ(f.size(), 2u);
    for (const LintFinding& one : f) {
        EXPECT_EQ(one.file, "kernels/helpers.h");
        EXPECT_EQ(one.line, 2u);
    }
}

// Each probe: its SPIR-V bindings and push words, and the PTX parameters that
// must line up with them (buffers first as u64, then one u32 per push word or
// one u64 per address).
TEST(ProbeModules, SpirvAndPtxInterfacesFollowTheParameterTables) {
    struct Case {
        const char* entry;
        const char* ptx_module;
        size_t bindings;
        size_t push_words;
        std::vector<uint32_t> spec_ids;
        uint32_t local_size;  // a warp kernel's module runs one warp per workgroup
        std::vector<std::string> ptx;
        const char* ptx_text;  // also in the PTX module
    };
    const Case cases[] = {
        {"kvnProbeBlockScanKernel", "probe_block_scan_kernel", 2, 2, {}, 256, {".u64", ".u64", ".u32", ".u32"},
         ".maxntid 256, 1, 1"},
        {"kvnProbeWarpCompactKernel", "probe_warp_compact_kernel", 4, 2, {}, 32,
         {".u64", ".u64", ".u64", ".u64", ".u32", ".u32"}, ".maxntid 64, 1, 1\n.minnctapersm 24"},
        {"kvnProbeAtomicAddressKernel", "probe_atomic_address_kernel", 2, 4, {7}, 128,
         {".u64", ".u64", ".u64", ".u32", ".u32"}, ".global .align 4 .u32 g_kvn_probe_switch"},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> words = moduleWords(c.entry);
        ASSERT_FALSE(words.empty()) << c.entry;
        SpirvInterface spv = readSpirvInterface(words);
        EXPECT_TRUE(spv.problems.empty()) << c.entry << ": " << spv.problems.front();
        EXPECT_EQ(spv.bindings.size(), c.bindings) << c.entry;
        EXPECT_EQ(spv.push_words, std::vector<uint32_t>(c.push_words, 32)) << c.entry;
        EXPECT_EQ(spv.spec_ids, c.spec_ids) << c.entry;
        EXPECT_EQ(spv.local_size[0], c.local_size) << c.entry;
        EXPECT_EQ(spv.local_size[1], 1u) << c.entry;

        if (!kHavePtxModules) continue;
        std::string ptx = moduleText(c.ptx_module);
        EXPECT_NE(ptx.find(".target sm_80"), std::string::npos) << c.ptx_module;
        EXPECT_NE(ptx.find(c.ptx_text), std::string::npos) << c.ptx_module;
        auto params = readPtxEntryParams(ptx, c.entry);
        ASSERT_TRUE(params) << c.entry;
        EXPECT_EQ(*params, c.ptx) << c.entry;
    }
}

// A CUDA-only entry keeps its table's order, addresses among 32-bit values,
// and has no SPIR-V module.
TEST(ProbeModules, CudaOnlyEntryKeepsItsParameterOrder) {
    if (!kHavePtxModules) GTEST_SKIP() << "built without the CUDA toolkit";
    auto params = readPtxEntryParams(moduleText("probe_cooperative_kernel"), "kvnProbeCooperativeKernel");
    ASSERT_TRUE(params);
    EXPECT_EQ(*params, (std::vector<std::string>{".u64", ".u32", ".u64"}));
    EXPECT_TRUE(moduleWords("kvnProbeCooperativeKernel").empty());
}

// A hand-assembled module: compute entry "main" that declares a subgroup
// capability and reads the subgroup-size built-in.
TEST(SpirvInterfaceReader, FlagsSubgroupUseAndBrokenModules) {
    auto op = [](uint32_t count, uint32_t code) { return (count << 16) | code; };
    uint32_t main_name;
    std::memcpy(&main_name, "main", 4);
    std::vector<uint32_t> words = {0x07230203u, 0x00010500u, 0, 10, 0,
                                   op(2, 17), 1,                     // OpCapability Shader
                                   op(2, 17), 61,                    // OpCapability GroupNonUniform
                                   op(5, 15), 5, 1, main_name, 0,    // OpEntryPoint GLCompute %1 "main"
                                   op(4, 71), 2, 11, 36};            // OpDecorate %2 BuiltIn SubgroupSize
    SpirvInterface spv = readSpirvInterface(words);
    ASSERT_EQ(spv.problems.size(), 2u);
    EXPECT_NE(spv.problems[0].find("subgroup capability"), std::string::npos);
    EXPECT_NE(spv.problems[1].find("subgroup built-in"), std::string::npos);

    words.resize(words.size() - 1);  // cut the last instruction short
    EXPECT_NE(readSpirvInterface(words).problems.back().find("truncated"), std::string::npos);
    EXPECT_NE(readSpirvInterface({1, 2, 3}).problems.front().find("not a SPIR-V module"), std::string::npos);
}

}  // namespace
