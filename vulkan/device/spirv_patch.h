// Reading SPIR-V modules before they become pipelines: patching modules that
// use 8-bit storage without declaring the Int8 capability, which some drivers
// then refuse, and finding whether a module reads its grid size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kvn {

inline constexpr uint32_t kSpirvMagic = 0x07230203;

// The module's words with "OpCapability Int8" inserted after the last
// OpCapability when it declares 8-bit storage but not Int8; empty when the
// module is fine as it is, is no SPIR-V, or its instruction stream is
// malformed (a zero word count, or an instruction running past the end).
std::vector<uint32_t> patchInt8Capability(std::span<const uint32_t> words);

// Whether the module reads the number of workgroups of its dispatch (a
// BuiltIn NumWorkgroups decoration). A dispatch split into pieces shows each
// piece only its own count, so such a kernel cannot be split.
bool readsWorkgroupCount(std::span<const uint32_t> words);

}  // namespace kvn
