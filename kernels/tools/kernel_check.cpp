// Build-time checks of every kernel module:
//   kvn_kernel_check lint <source> <root> <stamp>       integer traps the compilers accept, in the
//                                                       source and the kernel headers it includes;
//                                                       writes <stamp> and its depfile <stamp>.d
//   kvn_kernel_check spirv <module.spv>                 kernel convention, no subgroup operations
//   kvn_kernel_check interface <module.ptx> <entry> <entry.spv>
//                                                       PTX parameters match the SPIR-V interface
//   kvn_kernel_check ptx <module.ptx> <entry>           a CUDA-only entry is in the module
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kernels/tools/kernel_lint.h"
#include "kernels/tools/ptx_entry.h"
#include "kernels/tools/spirv_interface.h"

namespace {

using namespace kvn::tools;

bool readText(const char* path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool readWords(const char* path, std::vector<uint32_t>& out) {
    std::string bytes;
    if (!readText(path, bytes) || bytes.size() % 4 != 0) return false;
    out.resize(bytes.size() / 4);
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(out.data()));
    return true;
}

int fail(const std::string& where, const std::string& message) {
    std::fprintf(stderr, "%s: error: %s\n", where.c_str(), message.c_str());
    return 1;
}

namespace fs = std::filesystem;

// The dialect's own files, which kernel code is not written in.
bool isDialectFile(const fs::path& file, const fs::path& root) {
    fs::path relative = file.lexically_normal().lexically_relative(root.lexically_normal());
    std::string name = relative.generic_string();
    return name == "kernels/dialect.h" || name.rfind("kernels/dialect/", 0) == 0 ||
           name == "kernels/kernel_begin.h" || name == "kernels/kernel_end.h";
}

// Reads `path` and, depth first, every file it includes with quotes (found
// under `root` or beside the including file), skipping the dialect's files.
bool gatherSources(const fs::path& path, const fs::path& root, std::set<fs::path>& seen,
                   std::vector<KernelText>& out) {
    if (!seen.insert(fs::absolute(path).lexically_normal()).second) return true;
    std::string text;
    if (!readText(path.c_str(), text)) return fail(path.string(), "cannot read the kernel source") == 0;
    out.push_back({path.string(), text});
    static const std::regex include(R"re(^\s*#\s*include\s*"([^"]+)")re");
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, include)) continue;
        fs::path beside = path.parent_path() / m[1].str();
        fs::path file = fs::exists(root / m[1].str()) ? root / m[1].str() : beside;
        if (isDialectFile(fs::absolute(file), fs::absolute(root))) continue;
        if (!gatherSources(file, root, seen, out)) return false;
    }
    return true;
}

int lint(const char* path, const char* root, const char* stamp) {
    std::set<fs::path> seen;
    std::vector<KernelText> sources;
    if (!gatherSources(path, root, seen, sources)) return 1;
    std::vector<LintFinding> findings = lintKernelSources(sources);
    for (const LintFinding& f : findings) {
        std::fprintf(stderr, "%s:%zu: error: %s\n", f.file.c_str(), f.line, f.message.c_str());
    }
    if (!findings.empty()) return 1;
    std::ofstream(stamp) << "linted\n";
    std::ofstream depfile(std::string(stamp) + ".d");
    depfile << stamp << ":";
    for (const KernelText& s : sources) depfile << " " << fs::absolute(s.file).lexically_normal().string();
    depfile << "\n";
    return 0;
}

int spirv(const char* path) {
    std::vector<uint32_t> words;
    if (!readWords(path, words)) return fail(path, "cannot read the SPIR-V module");
    SpirvInterface module = readSpirvInterface(words);
    for (const std::string& p : module.problems) std::fprintf(stderr, "%s: error: %s\n", path, p.c_str());
    return module.problems.empty() ? 0 : 1;
}

std::string describe(const std::vector<std::string>& ptx, const SpirvInterface& spv) {
    std::ostringstream s;
    s << "PTX parameters (";
    for (size_t i = 0; i < ptx.size(); ++i) s << (i ? " " : "") << ptx[i];
    s << "), SPIR-V " << spv.bindings.size() << " bindings and " << spv.push_words.size() << " push words";
    return s.str();
}

// Buffers are the first PTX parameters (u64 each) and bindings 0..n-1; each
// later parameter is one push word (32-bit value) or two (u64 address).
int interface(const char* ptx_path, const char* entry, const char* spv_path) {
    std::string ptx;
    std::vector<uint32_t> words;
    if (!readText(ptx_path, ptx)) return fail(ptx_path, "cannot read the PTX module");
    if (!readWords(spv_path, words)) return fail(spv_path, "cannot read the SPIR-V module");
    auto params = readPtxEntryParams(ptx, entry);
    if (!params) return fail(ptx_path, std::string("no entry ") + entry);
    SpirvInterface spv = readSpirvInterface(words);
    const std::string where = std::string(entry);
    auto mismatch = [&](const std::string& what) { return fail(where, what + "; " + describe(*params, spv)); };

    const size_t buffers = spv.bindings.size();
    for (size_t b = 0; b < buffers; ++b) {
        if (spv.bindings[b] != b) return mismatch("bindings are not 0.." + std::to_string(buffers - 1));
    }
    if (params->size() < buffers) return mismatch("fewer PTX parameters than bindings");
    for (size_t b = 0; b < buffers; ++b) {
        if ((*params)[b] != ".u64" && (*params)[b] != ".b64") {
            return mismatch("PTX parameter " + std::to_string(b) + " is not a buffer address");
        }
    }
    size_t word = 0;
    for (size_t i = buffers; i < params->size(); ++i) {
        const std::string& t = (*params)[i];
        size_t take = (t == ".u64" || t == ".b64" || t == ".s64") ? 2
                      : (t == ".u32" || t == ".b32" || t == ".s32" || t == ".f32") ? 1
                                                                                      : 0;
        if (take == 0) return mismatch("PTX parameter " + std::to_string(i) + " has type " + t);
        word += take;
    }
    if (word != spv.push_words.size()) return mismatch("push words differ");
    return 0;
}

int ptxEntry(const char* ptx_path, const char* entry) {
    std::string ptx;
    if (!readText(ptx_path, ptx)) return fail(ptx_path, "cannot read the PTX module");
    return readPtxEntryParams(ptx, entry) ? 0 : fail(ptx_path, std::string("no entry ") + entry);
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "lint" && argc == 5) return lint(argv[2], argv[3], argv[4]);
    if (command == "spirv" && argc == 3) return spirv(argv[2]);
    if (command == "interface" && argc == 5) return interface(argv[2], argv[3], argv[4]);
    if (command == "ptx" && argc == 4) return ptxEntry(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: kvn_kernel_check lint <source> <root> <stamp> | spirv <module.spv> | interface <module.ptx> <entry> "
                 "<entry.spv> | ptx <module.ptx> <entry>\n");
    return 2;
}
