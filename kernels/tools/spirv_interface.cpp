#include "kernels/tools/spirv_interface.h"

#include <algorithm>
#include <map>
#include <set>

namespace kvn::tools {

namespace {

// Opcodes, decorations, storage classes, capabilities and built-ins, as
// SPIR-V numbers them.
enum : uint32_t {
    kOpEntryPoint = 15,
    kOpExecutionMode = 16,
    kOpCapability = 17,
    kOpTypeInt = 21,
    kOpTypeFloat = 22,
    kOpTypeStruct = 30,
    kOpTypePointer = 32,
    kOpVariable = 59,
    kOpDecorate = 71,
    kOpMemberDecorate = 72,
    kDecorationSpecId = 1,
    kDecorationBuiltIn = 11,
    kDecorationBinding = 33,
    kDecorationDescriptorSet = 34,
    kDecorationOffset = 35,
    kStorageUniform = 2,
    kStoragePushConstant = 9,
    kStorageStorageBuffer = 12,
    kExecutionModelGLCompute = 5,
    kExecutionModeLocalSize = 17,
};

bool isSubgroupCapability(uint32_t c) {
    return (c >= 61 && c <= 68) || c == 4423 || c == 4431 || c == 5297;  // GroupNonUniform*, ballot/vote KHR
}

bool isSubgroupOpcode(uint32_t op) { return (op >= 333 && op <= 366) || (op >= 4421 && op <= 4432); }

bool isSubgroupBuiltIn(uint32_t b) { return (b >= 36 && b <= 41) || (b >= 4416 && b <= 4420); }

}  // namespace

SpirvInterface readSpirvInterface(const std::vector<uint32_t>& words) {
    SpirvInterface out;
    if (words.size() < 5 || words[0] != 0x07230203u) {
        out.problems.push_back("not a SPIR-V module");
        return out;
    }
    std::map<uint32_t, uint32_t> binding, set, int_width;
    std::map<uint32_t, std::vector<uint32_t>> struct_members;
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> member_offset;
    std::map<uint32_t, uint32_t> pointee;  // pointer type -> pointee type
    std::vector<std::pair<uint32_t, uint32_t>> variables;  // {pointer type, storage class} by id order
    std::vector<uint32_t> variable_ids;
    bool compute_main = false;

    for (size_t i = 5; i < words.size();) {
        uint32_t count = words[i] >> 16, op = words[i] & 0xFFFFu;
        if (count == 0 || i + count > words.size()) {
            out.problems.push_back("truncated instruction stream");
            return out;
        }
        const uint32_t* w = &words[i];
        if (op == kOpCapability && isSubgroupCapability(w[1])) {
            out.problems.push_back("declares subgroup capability " + std::to_string(w[1]));
        } else if (isSubgroupOpcode(op)) {
            out.problems.push_back("uses subgroup instruction (opcode " + std::to_string(op) + ")");
        } else if (op == kOpEntryPoint && count >= 4 && w[1] == kExecutionModelGLCompute) {
            compute_main = std::string(reinterpret_cast<const char*>(&w[3])) == "main";
        } else if (op == kOpExecutionMode && count >= 6 && w[2] == kExecutionModeLocalSize) {
            std::copy(w + 3, w + 6, out.local_size);
        } else if (op == kOpDecorate && count >= 4) {
            if (w[2] == kDecorationBinding) binding[w[1]] = w[3];
            if (w[2] == kDecorationDescriptorSet) set[w[1]] = w[3];
            if (w[2] == kDecorationSpecId) out.spec_ids.push_back(w[3]);
            if (w[2] == kDecorationBuiltIn && isSubgroupBuiltIn(w[3])) {
                out.problems.push_back("reads subgroup built-in " + std::to_string(w[3]));
            }
        } else if (op == kOpMemberDecorate && count >= 5 && w[3] == kDecorationOffset) {
            member_offset[{w[1], w[2]}] = w[4];
        } else if (op == kOpTypeInt && count >= 3) {
            int_width[w[1]] = w[2];
        } else if (op == kOpTypeFloat && count >= 3) {
            int_width[w[1]] = w[2];
        } else if (op == kOpTypeStruct) {
            struct_members[w[1]].assign(w + 2, w + count);
        } else if (op == kOpTypePointer && count >= 4) {
            pointee[w[1]] = w[3];
        } else if (op == kOpVariable && count >= 4) {
            variables.push_back({w[1], w[3]});
            variable_ids.push_back(w[2]);
        }
        i += count;
    }
    if (!compute_main) out.problems.push_back("no GLCompute entry point named main");

    std::set<uint32_t> bindings;
    bool push_seen = false;
    for (size_t v = 0; v < variables.size(); ++v) {
        auto [type, storage] = variables[v];
        uint32_t id = variable_ids[v];
        if (storage == kStorageStorageBuffer || (storage == kStorageUniform && binding.count(id))) {
            if (storage == kStorageUniform) out.problems.push_back("uniform buffer in place of a storage buffer");
            if (set.count(id) == 0 || set[id] != 0) out.problems.push_back("storage buffer outside descriptor set 0");
            if (binding.count(id)) bindings.insert(binding[id]);
        } else if (storage == kStoragePushConstant) {
            if (push_seen) out.problems.push_back("more than one push-constant block");
            push_seen = true;
            uint32_t block = pointee[type];
            const std::vector<uint32_t>& members = struct_members[block];
            for (uint32_t m = 0; m < members.size(); ++m) {
                uint32_t width = int_width.count(members[m]) ? int_width[members[m]] : 0;
                if (width != 32) out.problems.push_back("push member " + std::to_string(m) + " is not a 32-bit scalar");
                auto offset = member_offset.find({block, m});
                if (offset == member_offset.end() || offset->second != 4 * m) {
                    out.problems.push_back("push member " + std::to_string(m) + " is not at byte " +
                                           std::to_string(4 * m));
                }
                out.push_words.push_back(width);
            }
        }
    }
    out.bindings.assign(bindings.begin(), bindings.end());
    return out;
}

}  // namespace kvn::tools
