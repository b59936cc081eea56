// Parameter types of a PTX entry, as nvcc writes them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvn::tools {

// The type of each parameter of `.entry name(...)` (".u64", ".u32", ...);
// nullopt when the text has no such entry.
std::optional<std::vector<std::string>> readPtxEntryParams(std::string_view ptx, std::string_view name);

}  // namespace kvn::tools
