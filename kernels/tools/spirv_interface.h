// The parts of a SPIR-V module the kernel build checks: its resource
// interface and whether it uses subgroup operations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvn::tools {

struct SpirvInterface {
    std::vector<uint32_t> bindings;    // distinct storage-buffer bindings of set 0, ascending
    std::vector<uint32_t> push_words;  // bit width of each push-constant member, in order
    std::vector<uint32_t> spec_ids;    // specialization constant ids, in declaration order
    uint32_t local_size[3] = {0, 0, 0};  // the workgroup size the module declares
    std::vector<std::string> problems; // anything outside the kernel convention
};

// Reads a module; problems also cover a malformed module.
SpirvInterface readSpirvInterface(const std::vector<uint32_t>& words);

}  // namespace kvn::tools
