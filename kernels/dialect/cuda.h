// CUDA mapping of the kernel dialect (nvcc -ptx -arch=sm_80).
#include <cooperative_groups.h>

typedef unsigned char u8;
typedef unsigned short u16;
typedef unsigned int u32;
typedef unsigned long long u64;
typedef signed char i8;
typedef short i16;
typedef int i32;
typedef long long i64;

#define KVN_FN __device__ inline
#define KVN_CONST static constexpr
#define KVN_INOUT(T) T&
#define KVN_OUT(T) T&
#define KVN_RO const
#define KVN_RW
#define KVN_SHARED(T, name, count) static __shared__ T name[count];
// The module global the driver sets (cuModuleGetGlobal) where the SPIR-V build
// has specialization constant `id`.
#define KVN_LAUNCH_SWITCH(name, id) \
    extern "C" {                    \
    __device__ u32 name;            \
    }
// Shared memory sized at launch (CUDA-only kernels; SPIR-V has no such
// thing). Read through the function: `name()[i]`.
#define KVN_DYNAMIC_SHARED(T, name)                        \
    extern __shared__ __align__(8) T kvn_dynamic_##name[]; \
    __device__ inline T* name() { return kvn_dynamic_##name; }

// A buffer reached through a device address; kernels index `name.data[i]`
// as in the SPIR-V build's buffer reference.
template <class T>
struct KvnAddress {
    T* data;
};

KVN_FN u32 kvnMin(u32 a, u32 b) { return min(a, b); }
KVN_FN u32 kvnMax(u32 a, u32 b) { return max(a, b); }
KVN_FN i32 kvnMin(i32 a, i32 b) { return min(a, b); }
KVN_FN i32 kvnMax(i32 a, i32 b) { return max(a, b); }

KVN_FN u32 kvnPopcount(u32 x) { return u32(__popc(x)); }
KVN_FN u32 kvnClz(u32 x) { return u32(__clz(x)); }
KVN_FN u32 kvnCtz(u32 x) { return x == 0u ? 32u : u32(__ffs(x) - 1); }
KVN_FN u32 kvnBitReverse(u32 x) { return __brev(x); }

#define kvnAtomicAdd(element, v) atomicAdd(&(element), v)
#define kvnAtomicMin(element, v) atomicMin(&(element), v)
#define kvnAtomicMax(element, v) atomicMax(&(element), v)
#define kvnAtomicAnd(element, v) atomicAnd(&(element), v)
#define kvnAtomicOr(element, v) atomicOr(&(element), v)
#define kvnAtomicXor(element, v) atomicXor(&(element), v)
#define kvnAtomicExchange(element, v) atomicExch(&(element), v)
#define kvnAtomicCompSwap(element, expected, v) atomicCAS(&(element), expected, v)

KVN_FN void kvnBarrier() { __syncthreads(); }
KVN_FN void kvnMemoryFence() { __threadfence(); }
KVN_FN void kvnSpinPause() { __nanosleep(32); }
KVN_FN void kvnGridSync() { cooperative_groups::this_grid().sync(); }
// The multiprocessor's cycle counter (profile stamps of CUDA-only kernels).
KVN_FN u64 kvnClock() { return u64(clock64()); }

KVN_FN u32 kvnThreadIndex() { return threadIdx.x + threadIdx.y * blockDim.x; }
KVN_FN u32 kvnThreadX() { return threadIdx.x; }
KVN_FN u32 kvnThreadY() { return threadIdx.y; }
KVN_FN u32 kvnBlockIndex() { return blockIdx.x; }
KVN_FN u32 kvnBlockIndexY() { return blockIdx.y; }
KVN_FN u32 kvnGridBlocks() { return gridDim.x; }
KVN_FN u32 kvnGridBlocksY() { return gridDim.y; }
KVN_FN u32 kvnLane() { return kvnThreadIndex() & 31u; }
KVN_FN u32 kvnWarpIndex() { return kvnThreadIndex() >> 5u; }

// Warp collectives: the primitives the portable ones build on (dialect/warp.h).
#define KVN_FULL_WARP 0xFFFFFFFFu
KVN_FN u32 kvnShuffle(u32 v, u32 src_lane) { return __shfl_sync(KVN_FULL_WARP, v, int(src_lane & 31u)); }
KVN_FN u32 kvnBallot(bool p) { return __ballot_sync(KVN_FULL_WARP, p); }
KVN_FN u32 kvnMatchAny(u32 v) { return __match_any_sync(KVN_FULL_WARP, v); }
KVN_FN u32 kvnWarpReduceAdd(u32 v) { return __reduce_add_sync(KVN_FULL_WARP, v); }
KVN_FN u32 kvnWarpReduceMin(u32 v) { return __reduce_min_sync(KVN_FULL_WARP, v); }
KVN_FN u32 kvnWarpReduceMax(u32 v) { return __reduce_max_sync(KVN_FULL_WARP, v); }
KVN_FN void kvnWarpSync() { __syncwarp(KVN_FULL_WARP); }
KVN_FN u32 kvnWarpInclusiveAdd(u32 v) {
#pragma unroll
    for (u32 d = 1u; d < 32u; d <<= 1u) {
        u32 t = __shfl_up_sync(KVN_FULL_WARP, v, d);
        if (kvnLane() >= d) v += t;
    }
    return v;
}

// Parameter-table expansions (kernel_begin.h, kernel_end.h).
#define KVN_TAIL_I(first, ...) __VA_ARGS__
#define KVN_TAIL(...) KVN_TAIL_I(__VA_ARGS__)
#define KVN_CU_PARAM_BUFFER(b, acc, T, name) , acc T* KVN_CAT(kvn_binding, b)
#define KVN_CU_PARAM_ADDRESS(acc, T, name) , acc T* name
#define KVN_CU_PARAM_SCALAR(T, name) , T name
#define KVN_CU_BIND_BUFFER(b, acc, T, name) kvn_state.name = KVN_CAT(kvn_binding, b);
#define KVN_CU_BIND_VIEW(b, acc, T, name) kvn_state.name = reinterpret_cast<acc T*>(KVN_CAT(kvn_binding, b));
#define KVN_CU_BIND_ADDRESS(acc, T, name) kvn_state.name.data = name;
#define KVN_CU_BIND_SCALAR(T, name) kvn_state.name = name;
