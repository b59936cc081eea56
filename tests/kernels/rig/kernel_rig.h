// Runs one kernel the same way on two backends: the host kernel runtime and
// lavapipe through the Vulkan device layer. Tests fill buffers, launch with
// the kernel's own argument list and read the buffers back, so that a table
// of cases runs unchanged on both.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kvn::test {

enum class KernelBackend { Host, Lavapipe };

const char* backendName(KernelBackend backend);

// Grid in blocks of the kernel's own CUDA block size (KVN_BLOCK_X x KVN_BLOCK_Y).
struct RigGrid {
    uint32_t x = 1;
    uint32_t y = 1;
};

struct RigArg {
    enum class Kind : uint8_t { Buffer, Address, U32 } kind;
    uint32_t buffer = 0;
    uint64_t value = 0;  // byte offset into the buffer, or the scalar
};

// A BUFFER parameter: storage-buffer binding at a byte offset (a multiple of 16).
inline RigArg rigBuffer(uint32_t id, uint64_t offset = 0) { return {RigArg::Kind::Buffer, id, offset}; }
// An ADDRESS parameter: the buffer's device address plus offset.
inline RigArg rigAddress(uint32_t id, uint64_t offset = 0) { return {RigArg::Kind::Address, id, offset}; }
// A SCALAR parameter.
inline RigArg rigU32(uint32_t value) { return {RigArg::Kind::U32, 0, value}; }

class KernelRig {
public:
    // On lavapipe the device comes up once per process: the decode kernels
    // this program embeds are built as the library builds them (so the table's
    // layout and KVN_FLOOR_COPY at that moment apply); encode kernels get the
    // encode table's layout and specialisation (kvnLzEncodeGreedy16Kernel is
    // the greedy module with 16-bit hash entries); other kernels get a
    // pipeline of the layout their arguments ask for.
    explicit KernelRig(KernelBackend backend);
    ~KernelRig();
    KernelRig(const KernelRig&) = delete;
    KernelRig& operator=(const KernelRig&) = delete;

    KernelBackend backend() const { return backend_; }

    uint32_t buffer(std::span<const uint8_t> init);
    uint32_t buffer(size_t bytes, uint8_t fill = 0);
    template <class T>
    uint32_t bufferOf(const std::vector<T>& values) {
        return buffer(std::span(reinterpret_cast<const uint8_t*>(values.data()), values.size() * sizeof(T)));
    }
    void write(uint32_t id, std::span<const uint8_t> bytes);
    std::vector<uint8_t> read(uint32_t id);
    template <class T>
    std::vector<T> readAs(uint32_t id) {
        const std::vector<uint8_t> bytes = read(id);
        std::vector<T> out(bytes.size() / sizeof(T));
        std::memcpy(out.data(), bytes.data(), out.size() * sizeof(T));
        return out;
    }

    // Empty when the launch ran; otherwise what went wrong.
    std::string launch(const char* kernel, RigGrid grid, std::initializer_list<RigArg> args);

private:
    struct Buffers;
    KernelBackend backend_;
    std::unique_ptr<Buffers> buffers_;
};

}  // namespace kvn::test
