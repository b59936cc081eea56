// Build-time checks of every kernel module:
//   kvn_kernel_check lint <source>                      integer traps the compilers accept
//   kvn_kernel_check spirv <module.spv>                 kernel convention, no subgroup operations
//   kvn_kernel_check interface <module.ptx> <entry> <entry.spv>
//                                                       PTX parameters match the SPIR-V interface
//   kvn_kernel_check ptx <module.ptx> <entry>           a CUDA-only entry is in the module
#include <cstdio>
#include <fstream>
#include <iterator>
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

int lint(const char* path) {
    std::string source;
    if (!readText(path, source)) return fail(path, "cannot read the kernel source");
    std::vector<LintFinding> findings = lintKernelSource(source);
    for (const LintFinding& f : findings) {
        std::fprintf(stderr, "%s:%zu: error: %s\n", path, f.line, f.message.c_str());
    }
    return findings.empty() ? 0 : 1;
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
    if (command == "lint" && argc == 3) return lint(argv[2]);
    if (command == "spirv" && argc == 3) return spirv(argv[2]);
    if (command == "interface" && argc == 5) return interface(argv[2], argv[3], argv[4]);
    if (command == "ptx" && argc == 4) return ptxEntry(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: kvn_kernel_check lint <source> | spirv <module.spv> | interface <module.ptx> <entry> "
                 "<entry.spv> | ptx <module.ptx> <entry>\n");
    return 2;
}
