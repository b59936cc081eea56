// A kernel's host build as the test kernel runtime sees it. kernel_end.h
// registers one HostKernel per entry; a runtime finds it by its entry name,
// as the CUDA driver finds a PTX entry.
#pragma once

#include <cstdint>
#include <string_view>

namespace kvn::host {

// Values match the KVN_SYNC_* modes of the kernel dialect.
enum class SyncMode : uint8_t {
    None = 0,      // no barrier, no collective: threads run one after another, without fibers
    Barriers = 1,  // block barriers
    Warps = 2,     // warp collectives (and barriers)
    Grid = 3,      // grid barrier: needs a cooperative launch
};

enum class ParamKind : uint8_t {
    End,      // ends the list
    Buffer,   // device address of a storage buffer (8 bytes)
    Address,  // device address passed as a push member (8 bytes)
    Scalar,   // 32-bit value
};

// Runs one kernel thread; params[i] points at parameter i's value.
using KernelEntry = void (*)(void* const* params);

struct HostKernel {
    const char* name;
    uint32_t block_x;
    uint32_t block_y;
    SyncMode sync;
    const ParamKind* params;  // ends with ParamKind::End
    KernelEntry entry;
};

// A static registration object per entry puts it in the process-wide list.
class KernelRegistration {
public:
    explicit KernelRegistration(const HostKernel& kernel);
    KernelRegistration(const KernelRegistration&) = delete;
    KernelRegistration& operator=(const KernelRegistration&) = delete;

private:
    friend const HostKernel* findKernel(std::string_view name);
    HostKernel kernel_;
    KernelRegistration* next_;
};

// nullptr when no linked host build has an entry of that name.
const HostKernel* findKernel(std::string_view name);

uint32_t paramCount(const HostKernel& kernel);

// A kernel module's global (KVN_LAUNCH_SWITCH), which the CUDA driver reaches
// by name between launches.
class GlobalRegistration {
public:
    GlobalRegistration(const char* name, uint32_t* value);
    GlobalRegistration(const GlobalRegistration&) = delete;
    GlobalRegistration& operator=(const GlobalRegistration&) = delete;

private:
    friend uint32_t* findGlobal(std::string_view name);
    const char* name_;
    uint32_t* value_;
    GlobalRegistration* next_;
};

// nullptr when no linked host build has a global of that name.
uint32_t* findGlobal(std::string_view name);

}  // namespace kvn::host
