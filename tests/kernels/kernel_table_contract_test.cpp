// The device layer's kernel rows against the kernels' own SPIR-V: every
// binding a module reads lies within the row's binding count, and the row's
// push block is the module's, so a host word never lands in another word.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string_view>
#include <vector>

#include "kernels/embedded_modules.h"
#include "kernels/tools/spirv_interface.h"
#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/kernel_table.h"

namespace kvn::test {
namespace {

struct Row {
    const char* kernel;
    const char* module;
    uint32_t binding_count;
    uint32_t push_bytes;
};

std::vector<uint32_t> moduleWords(std::string_view name) {
    for (const EmbeddedModule& m : embeddedModules()) {
        if (name != m.name) continue;
        std::vector<uint32_t> words(m.size / 4);
        std::memcpy(words.data(), m.bytes, words.size() * 4);
        return words;
    }
    return {};
}

void expectRowMatchesItsModule(const Row& row) {
    const std::vector<uint32_t> words = moduleWords(row.module);
    if (words.empty()) return;  // a kernel not built yet has no module to hold the row to
    const tools::SpirvInterface module = tools::readSpirvInterface(words);
    ASSERT_TRUE(module.problems.empty()) << row.kernel << ": " << module.problems.front();
    for (uint32_t binding : module.bindings) EXPECT_LT(binding, row.binding_count) << row.kernel;
    const uint32_t push_bits = std::accumulate(module.push_words.begin(), module.push_words.end(), 0u);
    EXPECT_EQ(push_bits / 8, row.push_bytes) << row.kernel;
}

std::vector<Row> libraryRows() {
    std::vector<Row> rows;
    for (const KernelSpec& spec : kKernelSpecs)
        rows.push_back({spec.handle_name, spec.module_name, spec.binding_count, spec.push_bytes});
    for (const EncodeKernelSpec& spec : kEncodeKernelSpecs)
        rows.push_back({spec.kernel_name, spec.module_name, spec.binding_count, spec.push_bytes});
    return rows;
}

TEST(KernelTableContract, DecodeAndEncodeRowsMatchTheirModules) {
    size_t held = 0;
    for (const Row& row : libraryRows()) {
        expectRowMatchesItsModule(row);
        held += !moduleWords(row.module).empty();
    }
    // Most library kernels are built: a test that found none would hold nothing.
    EXPECT_GT(held, std::size(kKernelSpecs)) << "library modules missing from the test program";
}

}  // namespace
}  // namespace kvn::test
