#include "tests/kernels/rig/kernel_rig.h"

#include <map>
#include <mutex>
#include <optional>
#include <string_view>

#include "kernels/embedded_modules.h"
#include "tests/kernel_runtime/launch.h"
#include "vulkan/device/device_buffers.h"
#include "vulkan/device/encode_pipelines.h"
#include "vulkan/device/gpu_ops.h"
#include "vulkan/device/kernel_table.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn::test {
namespace {

constexpr const char* kStandInModule = "kvnRigStandInKernel";
constexpr uint32_t kLavapipeWarp = 32;

// This program's own modules (the bring-up table below replaces what the
// device layer's lookup sees).
const EmbeddedModule* embeddedModule(std::string_view name) {
    for (const EmbeddedModule& m : embeddedModules())
        if (name == m.name) return &m;
    return nullptr;
}

// Bring-up builds the decode kernels this program embeds and a do-nothing
// stand-in for the others, so that any subset of real kernels brings the
// device up.
bool bringUpOnce() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        static std::vector<EmbeddedModule> modules;
        const EmbeddedModule* stand_in = embeddedModule(kStandInModule);
        for (const KernelSpec& spec : kKernelSpecs) {
            const EmbeddedModule* real = embeddedModule(spec.module_name);
            if (real) modules.push_back(*real);
            else if (stand_in) modules.push_back({spec.module_name, stand_in->bytes, stand_in->size});
        }
        useKernelModules(modules);
        ready = ensureVulkanContext();
    });
    return ready;
}

// The library's layout of a kernel: its row of the decode or encode table.
struct TableLayout {
    uint32_t binding_count;
    uint32_t push_bytes;
};

const KernelSpec* decodeSpec(std::string_view kernel) {
    for (const KernelSpec& spec : kKernelSpecs)
        if (kernel == spec.module_name) return &spec;
    return nullptr;
}

const EncodeKernelSpec* encodeSpec(std::string_view kernel) {
    for (const EncodeKernelSpec& spec : kEncodeKernelSpecs)
        if (kernel == spec.kernel_name) return &spec;
    return nullptr;
}

// Pipelines built by the rig: encode kernels as the encode table builds them
// (module, layout, specialisation), other kernels with the layout their
// argument list asks for.
KernelHandle ownPipeline(const EncodeKernelSpec& spec) {
    static std::mutex lock;
    static std::map<std::string, KernelHandle> built;
    std::lock_guard guard(lock);
    const std::string key = std::string(spec.kernel_name) + "/" + std::to_string(spec.binding_count) + "/" +
                            std::to_string(spec.push_bytes);
    if (auto it = built.find(key); it != built.end()) return it->second;
    const EmbeddedModule* module = embeddedModule(spec.module_name);
    if (!module) return nullptr;
    KernelHandle pipeline = nullptr;
    if (!buildEncodePipeline(module->bytes, module->size, spec, &pipeline)) return nullptr;
    return built[key] = pipeline;
}

}  // namespace

const char* backendName(KernelBackend backend) { return backend == KernelBackend::Host ? "Host" : "Lavapipe"; }

struct KernelRig::Buffers {
    std::vector<std::vector<uint8_t>> host;  // Host backend
    std::vector<DeviceBufferHandle> device;  // Lavapipe backend
    std::vector<uint64_t> sizes;
};

KernelRig::KernelRig(KernelBackend backend) : backend_(backend), buffers_(std::make_unique<Buffers>()) {
    if (backend_ == KernelBackend::Lavapipe && !bringUpOnce()) throw std::runtime_error("lavapipe bring-up failed");
}

KernelRig::~KernelRig() {
    for (DeviceBufferHandle h : buffers_->device) gpuOps().memFree(h);
}

uint32_t KernelRig::buffer(std::span<const uint8_t> init) {
    const uint32_t id = uint32_t(buffers_->sizes.size());
    buffers_->sizes.push_back(init.size());
    if (backend_ == KernelBackend::Host) {
        // Never empty, so that every buffer has an address.
        buffers_->host.emplace_back(init.begin(), init.end());
        buffers_->host.back().reserve(1);
    } else {
        DeviceBufferHandle h = 0;
        if (gpuOps().memAlloc(&h, init.size()) != Error::None) throw std::runtime_error("memAlloc failed");
        buffers_->device.push_back(h);
        if (!init.empty() && gpuOps().memcpyHtoD(h, init.data(), init.size()) != Error::None)
            throw std::runtime_error("memcpyHtoD failed");
    }
    return id;
}

uint32_t KernelRig::buffer(size_t bytes, uint8_t fill) { return buffer(std::vector<uint8_t>(bytes, fill)); }

void KernelRig::write(uint32_t id, std::span<const uint8_t> bytes) {
    if (bytes.size() > buffers_->sizes.at(id)) throw std::runtime_error("write past the buffer");
    if (backend_ == KernelBackend::Host) {
        std::copy(bytes.begin(), bytes.end(), buffers_->host.at(id).begin());
    } else if (!bytes.empty() && gpuOps().memcpyHtoD(buffers_->device.at(id), bytes.data(), bytes.size()) != Error::None) {
        throw std::runtime_error("memcpyHtoD failed");
    }
}

std::vector<uint8_t> KernelRig::read(uint32_t id) {
    if (backend_ == KernelBackend::Host) return buffers_->host.at(id);
    std::vector<uint8_t> out(buffers_->sizes.at(id));
    if (!out.empty() && gpuOps().memcpyDtoH(out.data(), buffers_->device.at(id), out.size()) != Error::None)
        throw std::runtime_error("memcpyDtoH failed");
    return out;
}

std::string KernelRig::launch(const char* kernel, RigGrid grid, std::initializer_list<RigArg> args) {
    const host::HostKernel* host_kernel = host::findKernel(kernel);
    if (!host_kernel) return std::string("no host build of ") + kernel;

    if (backend_ == KernelBackend::Host) {
        std::vector<uint64_t> values;
        values.reserve(args.size());
        for (const RigArg& a : args) {
            if (a.kind == RigArg::Kind::U32) {
                values.push_back(a.value);
            } else {
                values.push_back(uint64_t(reinterpret_cast<uintptr_t>(buffers_->host.at(a.buffer).data())) + a.value);
            }
        }
        std::vector<void*> params;
        std::vector<uint32_t> sizes;
        for (size_t i = 0; i < values.size(); ++i) {
            params.push_back(&values[i]);  // little-endian: a u32 scalar is the low half
            sizes.push_back(std::data(args)[i].kind == RigArg::Kind::U32 ? 4 : 8);
        }
        if (std::string fault = host::checkArguments(*host_kernel, sizes.data(), uint32_t(sizes.size()));
            !fault.empty())
            return fault;
        return host::launchKernel(*host_kernel, {.grid_x = grid.x, .grid_y = grid.y}, params.data()).fault;
    }

    // Lavapipe: buffers become bindings, addresses and scalars push words.
    std::vector<DeviceBufferHandle> bindings;
    std::vector<uint64_t> offsets;
    std::vector<uint32_t> push;
    for (const RigArg& a : args) {
        switch (a.kind) {
            case RigArg::Kind::Buffer:
                bindings.push_back(buffers_->device.at(a.buffer));
                offsets.push_back(a.value);
                break;
            case RigArg::Kind::Address: {
                const uint64_t address = bufferDeviceAddress(buffers_->device.at(a.buffer)) + a.value;
                push.push_back(uint32_t(address));
                push.push_back(uint32_t(address >> 32));
                break;
            }
            case RigArg::Kind::U32:
                push.push_back(uint32_t(a.value));
                break;
        }
    }
    KernelHandle pipeline = nullptr;
    std::optional<TableLayout> layout;
    if (const KernelSpec* spec = decodeSpec(kernel)) {
        if (!embeddedModule(kernel)) return std::string("no SPIR-V module of ") + kernel;
        pipeline = getKernelHandle(spec->handle).value_or(nullptr);
        layout = TableLayout{spec->binding_count, spec->push_bytes};
    } else if (const EncodeKernelSpec* spec = encodeSpec(kernel)) {
        pipeline = ownPipeline(*spec);
        layout = TableLayout{spec->binding_count, spec->push_bytes};
    } else {
        pipeline = ownPipeline(EncodeKernelSpec{nullptr, kernel, kernel, uint32_t(bindings.size()),
                                                uint32_t(push.size() * 4), false, 0, 0, EncodeGroup::Alone});
    }
    if (!pipeline) return std::string("no pipeline for ") + kernel;
    if (layout) {
        // The library's layout: unused trailing bindings repeat the first
        // buffer, unread push words are zero.
        if (bindings.size() > layout->binding_count || push.size() * 4 > layout->push_bytes)
            return std::string("more arguments than the kernel table's layout of ") + kernel;
        while (bindings.size() < layout->binding_count) {
            bindings.push_back(bindings.empty() ? buffers_->device.at(buffer(4)) : bindings.front());
            offsets.push_back(0);
        }
        push.resize(layout->push_bytes / 4, 0);
    }

    std::vector<void*> params;
    for (DeviceBufferHandle& h : bindings) params.push_back(&h);
    for (uint32_t& w : push) params.push_back(&w);
    // A warp kernel's module runs one warp per workgroup.
    const uint32_t threads = host_kernel->block_x * host_kernel->block_y;
    const uint32_t groups_x =
        host_kernel->sync == host::SyncMode::Warps ? grid.x * (threads / kLavapipeWarp) : grid.x;
    const Error launched = gpuOps().launchKernel(pipeline, groups_x, grid.y, 1, host_kernel->block_x,
                                                 host_kernel->block_y, 1, 0, 0, params.data(), nullptr,
                                                 offsets.data());
    return launched == Error::None ? std::string() : std::string("launchKernel returned ") + errorName(launched);
}

}  // namespace kvn::test
