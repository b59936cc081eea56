// The lint for the integer traps that the three kernel builds compile
// without complaint but evaluate differently.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvn::tools {

struct LintFinding {
    size_t line;  // 1-based
    std::string message;
};

std::vector<LintFinding> lintKernelSource(std::string_view source);

}  // namespace kvn::tools
