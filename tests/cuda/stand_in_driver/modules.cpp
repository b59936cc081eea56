// Modules: a PTX text's `.entry` names map to the host builds of the kernel
// runtime (each entry's parameters checked against its host registration),
// its `.global` names to the host builds' globals. Launches run the host
// build on the stream, within the device's launch limits.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "kernels/tools/ptx_entry.h"
#include "tests/cuda/stand_in_driver/exported.h"
#include "tests/cuda/stand_in_driver/stand_in_state.h"
#include "tests/kernel_runtime/launch.h"

namespace kvn::stand_in {

namespace {

std::atomic<uint64_t> g_launches{0};

constexpr uint32_t kMaxBlockThreads = 1024;
constexpr uint32_t kMaxGridX = 0x7FFFFFFF;
constexpr uint32_t kMaxGridYZ = 65535;

// The identifiers following each `marker` in the text.
std::vector<std::string> namesAfter(std::string_view text, std::string_view marker, char terminator) {
    std::vector<std::string> names;
    for (size_t at = text.find(marker); at != std::string_view::npos; at = text.find(marker, at + 1)) {
        size_t end = at + marker.size();
        // A global's declaration carries its qualifiers before the name.
        size_t stop = text.find_first_of(std::string_view(&terminator, 1), end);
        if (stop == std::string_view::npos) continue;
        std::string_view head = text.substr(end, stop - end);
        while (!head.empty() && std::isspace(static_cast<unsigned char>(head.back()))) head.remove_suffix(1);
        const size_t space = head.find_last_of(" \t");
        names.emplace_back(space == std::string_view::npos ? head : head.substr(space + 1));
    }
    return names;
}

// Empty when the PTX parameters match the host registration's.
std::string compareParams(std::string_view ptx, const std::string& name, const host::HostKernel& kernel) {
    const auto types = tools::readPtxEntryParams(ptx, name);
    if (!types) return "no parameter list";
    const uint32_t count = host::paramCount(kernel);
    if (types->size() != count)
        return std::to_string(types->size()) + " parameters, the host build has " + std::to_string(count);
    for (uint32_t i = 0; i < count; ++i) {
        const bool wide = kernel.params[i] != host::ParamKind::Scalar;
        const std::string& type = (*types)[i];
        const bool is_wide = type.size() >= 3 && type.substr(type.size() - 2) == "64";
        if (wide != is_wide) return "parameter " + std::to_string(i) + " is " + type;
    }
    return "";
}

// Address parameters that carry a 64-bit value instead (the kernel source
// says so beside its table): no device memory behind them to check.
struct ValueParam {
    const char* kernel;
    uint32_t index;
};
constexpr ValueParam kValueParams[] = {{"kvnLzDecodeKernel", 7}, {"kvnLzDecodeGeneralPipelinedKernel", 7}};  // scratch_stride

bool carriesValue(const std::string& kernel, uint32_t index) {
    for (const ValueParam& p : kValueParams)
        if (kernel == p.kernel && index == p.index) return true;
    return false;
}

}  // namespace

uint64_t launchCount() { return g_launches.load(); }

}  // namespace kvn::stand_in

using namespace kvn::stand_in;
namespace host = kvn::host;

namespace {

Result loadModule(const char* name, void** out, const void* image) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter(name)) return r;
    if (!out || !image) return kInvalidValue;
    const std::string_view text(static_cast<const char*>(image));
    if (text.find(".version") == std::string_view::npos || text.find(".target") == std::string_view::npos)
        return kInvalidPtx;
    auto module = std::make_unique<Module>();
    for (const std::string& entry : namesAfter(text, ".entry ", '(')) {
        if (auto it = s.rejected_entries.find(entry); it != s.rejected_entries.end()) return it->second;
        const host::HostKernel* kernel = host::findKernel(entry);
        if (kernel) {
            if (const std::string fault = compareParams(text, entry, *kernel); !fault.empty()) {
                std::fprintf(stderr, "[stand-in] entry %s does not match its host build: %s\n", entry.c_str(),
                             fault.c_str());
                return kInvalidPtx;
            }
        }
        module->functions.push_back(std::make_unique<Function>(Function{entry, kernel}));
    }
    for (const std::string& global : namesAfter(text, ".global .align 4 .u32 ", ';')) {
        if (uint32_t* value = host::findGlobal(global)) module->globals[global] = registerExternal(value, sizeof *value);
    }
    *out = module.get();
    s.modules.push_back(std::move(module));
    return kSuccess;
}

Module* moduleOf(void* handle) {
    for (const auto& module : state().modules)
        if (module.get() == handle) return module.get();
    return nullptr;
}

Function* functionOf(void* handle) {
    for (const auto& module : state().modules)
        for (const auto& function : module->functions)
            if (function.get() == handle) return function.get();
    return nullptr;
}

// The parameter values are copied at launch, as the driver does.
Result launch(const char* name, void* handle, unsigned grid_x, unsigned grid_y, unsigned grid_z, unsigned block_x,
              unsigned block_y, unsigned block_z, unsigned shared_bytes, void* stream_handle, void** params,
              bool cooperative) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter(name)) return r;
    Function* function = functionOf(handle);
    Stream* stream = streamOf(stream_handle);
    if (!function || !stream) return kInvalidHandle;
    if (!function->kernel) {
        std::fprintf(stderr, "[stand-in] %s has no host build to run\n", function->name.c_str());
        return kLaunchFailed;
    }
    const host::HostKernel& kernel = *function->kernel;
    if (grid_x == 0 || grid_y == 0 || grid_z == 0 || grid_x > kMaxGridX || grid_y > kMaxGridYZ || grid_z > kMaxGridYZ ||
        block_x == 0 || block_y == 0 || block_z == 0 || uint64_t{block_x} * block_y * block_z > kMaxBlockThreads)
        return kInvalidValue;
    // The host runtime knows two grid and block dimensions, and the block its kernel was built for.
    if (grid_z != 1 || block_z != 1 || block_x != kernel.block_x || block_y != kernel.block_y) return kInvalidValue;
    const uint64_t blocks = uint64_t{grid_x} * grid_y;
    const uint32_t per_sm = kMaxBlockThreads * 2 / (block_x * block_y);
    if (cooperative && (blocks > uint64_t(s.sm_count) * per_sm || blocks > host::kMaxCooperativeBlocks))
        return kCooperativeTooLarge;
    if (kernel.sync == host::SyncMode::Grid && !cooperative) return kInvalidValue;
    if (!params) return kInvalidValue;
    const uint32_t count = host::paramCount(kernel);
    std::vector<uint64_t> values(count);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t size = kernel.params[i] == host::ParamKind::Scalar ? 4 : 8;
        std::memcpy(&values[i], params[i], size);
    }
    // A buffer argument must point into device memory; a wild one would fault on the device.
    for (uint32_t i = 0; i < count; ++i) {
        if (kernel.params[i] == host::ParamKind::Scalar || values[i] == 0 || findRange(values[i], 1) ||
            carriesValue(function->name, i))
            continue;
        std::fprintf(stderr, "[stand-in] %s parameter %u points outside device memory\n", function->name.c_str(), i);
        return kIllegalAddress;
    }
    LaunchRecord& record = s.launch_records[function->name];
    ++record.count;
    record.grid_x = grid_x;
    record.values = values;
    const host::LaunchShape shape{.grid_x = grid_x, .grid_y = grid_y, .cooperative = cooperative,
                                  .workers = 2, .dynamic_shared_bytes = shared_bytes};
    const host::HostKernel* kernel_ptr = &kernel;
    const std::string kernel_name = function->name;
    enqueue(stream, [kernel_ptr, shape, values, kernel_name] {
        std::vector<void*> pointers(values.size());
        for (size_t i = 0; i < values.size(); ++i) pointers[i] = const_cast<uint64_t*>(&values[i]);
        ++g_launches;
        const host::LaunchResult result = host::launchKernel(*kernel_ptr, shape, pointers.data());
        if (!result.ok()) {
            std::fprintf(stderr, "[stand-in] %s failed: %s\n", kernel_name.c_str(), result.fault.c_str());
            state().sticky = kLaunchFailed;
        }
        checkGuards(kernel_name.c_str());
        if (const auto hook = state().after_kernel.find(kernel_name); hook != state().after_kernel.end())
            hook->second(values.data(), uint32_t(values.size()));
    });
    return kSuccess;
}

}  // namespace

KVN_STAND_IN_EXPORT Result cuModuleLoadData(void** out, const void* image) { return loadModule("cuModuleLoadData", out, image); }

KVN_STAND_IN_EXPORT Result cuModuleLoadDataEx(void** out, const void* image, unsigned, int*, void**) {
    return loadModule("cuModuleLoadDataEx", out, image);
}

KVN_STAND_IN_EXPORT Result cuModuleGetFunction(void** out, void* module_handle, const char* name) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuModuleGetFunction")) return r;
    Module* module = moduleOf(module_handle);
    if (!module || !out || !name) return kInvalidValue;
    if (s.dropped_kernels.count(name)) return kNotFound;
    for (const auto& function : module->functions) {
        if (function->name == name) {
            *out = function.get();
            return kSuccess;
        }
    }
    return kNotFound;
}

KVN_STAND_IN_EXPORT Result cuModuleGetGlobal_v2(uint64_t* address, size_t* bytes, void* module_handle, const char* name) {
    std::lock_guard guard(state().lock);
    if (const Result r = enter("cuModuleGetGlobal_v2")) return r;
    Module* module = moduleOf(module_handle);
    if (!module || !name) return kInvalidValue;
    auto it = module->globals.find(name);
    if (it == module->globals.end()) return kNotFound;
    if (address) *address = it->second;
    if (bytes) *bytes = sizeof(uint32_t);
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuLaunchKernel(void* function, unsigned gx, unsigned gy, unsigned gz, unsigned bx,
                                          unsigned by, unsigned bz, unsigned shared, void* stream, void** params,
                                          void** extra) {
    // Arguments come only as a parameter array.
    if (extra) return kInvalidValue;
    return launch("cuLaunchKernel", function, gx, gy, gz, bx, by, bz, shared, stream, params, false);
}

KVN_STAND_IN_EXPORT Result cuLaunchCooperativeKernel(void* function, unsigned gx, unsigned gy, unsigned gz,
                                                     unsigned bx, unsigned by, unsigned bz, unsigned shared,
                                                     void* stream, void** params) {
    return launch("cuLaunchCooperativeKernel", function, gx, gy, gz, bx, by, bz, shared, stream, params, true);
}

KVN_STAND_IN_EXPORT Result cuOccupancyMaxActiveBlocksPerMultiprocessor(int* blocks, void* function, int block_size,
                                                                       size_t) {
    std::lock_guard guard(state().lock);
    if (const Result r = enter("cuOccupancyMaxActiveBlocksPerMultiprocessor")) return r;
    if (!blocks || !functionOf(function) || block_size <= 0 || uint32_t(block_size) > kMaxBlockThreads)
        return kInvalidValue;
    *blocks = int(kMaxBlockThreads * 2 / uint32_t(block_size));
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuFuncSetAttribute(void* function, int, int) {
    std::lock_guard guard(state().lock);
    if (const Result r = enter("cuFuncSetAttribute")) return r;
    return functionOf(function) ? kSuccess : kInvalidHandle;
}
