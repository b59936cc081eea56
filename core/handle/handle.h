// The record behind the opaque handle pointer of the C interface. Handles
// are not locked: one thread uses a handle at a time.
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>

#include "core/errors.h"
#include "core/handle/decoder_state.h"
#include "core/handle/encoder_state.h"
#include "core/handle/heap.h"
#include "core/platform/platform.h"

namespace kvn {

// The interface-family shape is made by kvnCreate; the Vulkan family's
// record (kvnCreate_vk) extends it with asynchronous slots and registered
// buffers, and only the calls that use those ask for it.
enum class HandleShape : uint8_t { Interface = 1, VulkanFamily = 2 };

}  // namespace kvn

struct KvnHandle {
    kvn::HandleShape shape = kvn::HandleShape::Interface;
    kvn::EncoderState encoder;
    kvn::DecoderState decoder;
    // Receives compressed output on the roads whose source or destination is
    // in device memory; grows, never shrinks.
    uint8_t* staging = nullptr;
    uint64_t staging_cap = 0;
    // Guards the two sides' timing lists between an asynchronous compress and
    // decompress of this handle, and which side has a job running.
    kvn::ExclusiveLock timing_lock;
    bool timed_job_running[2] = {};  // encoder, decoder
};

namespace kvn {

// A new handle record of type Record (KvnHandle or a record that extends it
// with trivially destructible members) from the C heap, every field zero and
// every list empty; nullptr when memory runs out.
template <typename Record>
Record* newHandle(HandleShape shape) {
    static_assert(std::is_base_of_v<KvnHandle, Record> || std::is_same_v<Record, KvnHandle>);
    void* block = heapAlloc(sizeof(Record));
    if (!block) return nullptr;
    Record* record = new (block) Record{};
    record->shape = shape;
    return record;
}

// Makes room for at least `capacity` bytes of staging: a smaller buffer is
// freed and max(16, capacity) bytes are allocated. On OutOfMemory the handle
// is left without a staging buffer.
Error growStaging(KvnHandle& handle, uint64_t capacity);

// Joins the handle's asynchronous jobs, frees everything it owns and the
// record itself. Null is accepted.
void destroyHandle(KvnHandle* handle);

}  // namespace kvn
