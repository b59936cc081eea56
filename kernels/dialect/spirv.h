// SPIR-V mapping of the kernel dialect (GLSL 4.50 through glslc).
#extension GL_EXT_shader_explicit_arithmetic_types : require
#extension GL_EXT_shader_8bit_storage : require
#extension GL_EXT_shader_16bit_storage : require
#extension GL_EXT_buffer_reference : require
#extension GL_EXT_buffer_reference_uvec2 : require

#define u8 uint8_t
#define u16 uint16_t
#define u32 uint
#define u64 uint64_t
#define i8 int8_t
#define i16 int16_t
#define i32 int
#define i64 int64_t

#define KVN_FN
#define KVN_CONST const
#define KVN_INOUT(T) inout T
#define KVN_OUT(T) out T
#define KVN_RO readonly
#define KVN_RW
#define KVN_SHARED(T, name, count) shared T name[count];
// A u32 fixed when the pipeline is built (specialization constant `id`); the
// CUDA build reads a module global of the same name instead.
#define KVN_LAUNCH_SWITCH(name, id) layout(constant_id = id) const u32 name = 0u;

u32 kvnMin(u32 a, u32 b) { return min(a, b); }
u32 kvnMax(u32 a, u32 b) { return max(a, b); }
i32 kvnMin(i32 a, i32 b) { return min(a, b); }
i32 kvnMax(i32 a, i32 b) { return max(a, b); }

u32 kvnPopcount(u32 x) { return u32(bitCount(x)); }
u32 kvnClz(u32 x) { return u32(31 - findMSB(x)); }  // findMSB(0) is -1
u32 kvnCtz(u32 x) { return x == 0u ? 32u : u32(findLSB(x)); }
u32 kvnBitReverse(u32 x) { return bitfieldReverse(x); }

// Atomics take the element itself (a buffer or shared array element) and
// return the previous value.
#define kvnAtomicAdd(element, v) atomicAdd(element, v)
#define kvnAtomicMin(element, v) atomicMin(element, v)
#define kvnAtomicMax(element, v) atomicMax(element, v)
#define kvnAtomicAnd(element, v) atomicAnd(element, v)
#define kvnAtomicOr(element, v) atomicOr(element, v)
#define kvnAtomicXor(element, v) atomicXor(element, v)
#define kvnAtomicExchange(element, v) atomicExchange(element, v)
#define kvnAtomicCompSwap(element, expected, v) atomicCompSwap(element, expected, v)

// barrier() in a compute shader also orders workgroup memory.
void kvnBarrier() { barrier(); }
void kvnMemoryFence() { memoryBarrier(); }
void kvnSpinPause() {}

// Parameter-table expansions (kernel_begin.h, kernel_end.h).
#define KVN_SPV_BUFFER(b, acc, T, name) \
    layout(set = 0, binding = b, std430) acc buffer KvnBuffer_##name { T name[]; };
#define KVN_SPV_ADDRESS(acc, T, name)                                                         \
    layout(buffer_reference, std430, buffer_reference_align = 4) acc buffer KvnAddress_##name { \
        T data[];                                                                              \
    };                                                                                         \
    KvnAddress_##name name;
#define KVN_SPV_COUNT3(a, b, c) +1
#define KVN_SPV_COUNT2(a, b) +1
// A device address travels as two 32-bit push words, low word first.
#define KVN_SPV_PUSH_ADDRESS(acc, T, name) u32 name##_lo; u32 name##_hi;
#define KVN_SPV_PUSH_SCALAR(T, name) T name;
#define KVN_SPV_INIT_ADDRESS(acc, T, name) name = KvnAddress_##name(uvec2(name##_lo, name##_hi));
