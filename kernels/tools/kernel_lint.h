// The lint for the integer traps that the three kernel builds compile
// without complaint but evaluate differently.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvn::tools {

struct KernelText {
    std::string file;
    std::string text;
};

struct LintFinding {
    std::string file;
    size_t line;  // 1-based
    std::string message;
};

// Lints a kernel source together with the kernel headers it includes: names
// declared in one (parameter tables, shared arrays, signed variables) count
// in all.
std::vector<LintFinding> lintKernelSources(const std::vector<KernelText>& sources);

}  // namespace kvn::tools
