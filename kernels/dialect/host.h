// Host mapping of the kernel dialect: plain C++ running on the test kernel
// runtime (tests/kernel_runtime), where each kernel thread is a fiber.
#include <cstdint>

#include "tests/kernel_runtime/device_side.h"

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int8_t i8;
typedef int16_t i16;
typedef int32_t i32;
typedef int64_t i64;

#define KVN_FN inline
#define KVN_CONST static constexpr
#define KVN_INOUT(T) T&
#define KVN_OUT(T) T&
#define KVN_RO const
#define KVN_RW
// One block runs on one OS thread at a time, so per-thread storage is per block.
#define KVN_SHARED(T, name, count) static thread_local T name[count];
// Process-wide on the host; a test or driver finds it with kvn::host::findGlobal.
#define KVN_LAUNCH_SWITCH(name, id) \
    static u32 name = 0u;           \
    static const ::kvn::host::GlobalRegistration name##_registration(#name, &name);
#define KVN_DYNAMIC_SHARED(T, name) \
    inline T* name() { return static_cast<T*>(kvn::host::dynamicShared()); }

template <class T>
struct KvnAddress {
    T* data;
};

inline u32 kvnMin(u32 a, u32 b) { return a < b ? a : b; }
inline u32 kvnMax(u32 a, u32 b) { return a > b ? a : b; }
inline i32 kvnMin(i32 a, i32 b) { return a < b ? a : b; }
inline i32 kvnMax(i32 a, i32 b) { return a > b ? a : b; }

inline u32 kvnPopcount(u32 x) { return u32(__builtin_popcount(x)); }
inline u32 kvnClz(u32 x) { return x == 0u ? 32u : u32(__builtin_clz(x)); }
inline u32 kvnCtz(u32 x) { return x == 0u ? 32u : u32(__builtin_ctz(x)); }
inline u32 kvnBitReverse(u32 x) {
    x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
    x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
    x = ((x >> 4) & 0x0F0F0F0Fu) | ((x & 0x0F0F0F0Fu) << 4);
    return __builtin_bswap32(x);
}

template <class T>
inline T kvnHostAtomicMin(T& element, T v) {
    T seen = __atomic_load_n(&element, __ATOMIC_RELAXED);
    while (v < seen && !__atomic_compare_exchange_n(&element, &seen, v, true, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
    }
    return seen;
}
template <class T>
inline T kvnHostAtomicMax(T& element, T v) {
    T seen = __atomic_load_n(&element, __ATOMIC_RELAXED);
    while (v > seen && !__atomic_compare_exchange_n(&element, &seen, v, true, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
    }
    return seen;
}
template <class T>
inline T kvnHostAtomicCompSwap(T& element, T expected, T v) {
    __atomic_compare_exchange_n(&element, &expected, v, false, __ATOMIC_RELAXED, __ATOMIC_RELAXED);
    return expected;
}

#define kvnAtomicAdd(element, v) __atomic_fetch_add(&(element), v, __ATOMIC_RELAXED)
#define kvnAtomicMin(element, v) kvnHostAtomicMin(element, v)
#define kvnAtomicMax(element, v) kvnHostAtomicMax(element, v)
#define kvnAtomicAnd(element, v) __atomic_fetch_and(&(element), v, __ATOMIC_RELAXED)
#define kvnAtomicOr(element, v) __atomic_fetch_or(&(element), v, __ATOMIC_RELAXED)
#define kvnAtomicXor(element, v) __atomic_fetch_xor(&(element), v, __ATOMIC_RELAXED)
#define kvnAtomicExchange(element, v) __atomic_exchange_n(&(element), v, __ATOMIC_RELAXED)
#define kvnAtomicCompSwap(element, expected, v) kvnHostAtomicCompSwap(element, expected, v)

inline void kvnBarrier() { kvn::host::blockBarrier(); }
inline void kvnMemoryFence() { __atomic_thread_fence(__ATOMIC_SEQ_CST); }
inline void kvnSpinPause() { kvn::host::spinPause(); }
inline void kvnGridSync() { kvn::host::gridBarrier(); }
// The processor's time-stamp counter stands for the device's cycle counter.
inline u64 kvnClock() { return u64(__builtin_ia32_rdtsc()); }

inline u32 kvnThreadIndex() { return kvn::host::currentThread().index; }
inline u32 kvnThreadX() { return kvn::host::currentThread().x; }
inline u32 kvnThreadY() { return kvn::host::currentThread().y; }
inline u32 kvnBlockIndex() { return kvn::host::currentThread().block_x; }
inline u32 kvnBlockIndexY() { return kvn::host::currentThread().block_y; }
inline u32 kvnGridBlocks() { return kvn::host::currentThread().grid_x; }
inline u32 kvnGridBlocksY() { return kvn::host::currentThread().grid_y; }
inline u32 kvnLane() { return kvnThreadIndex() & 31u; }
inline u32 kvnWarpIndex() { return kvnThreadIndex() >> 5u; }

inline u32 kvnShuffle(u32 v, u32 src_lane) { return kvn::host::warpCollective(kvn::host::WarpOp::Shuffle, v, src_lane); }
inline u32 kvnBallot(bool p) { return kvn::host::warpCollective(kvn::host::WarpOp::Ballot, p ? 1u : 0u, 0u); }
inline u32 kvnMatchAny(u32 v) { return kvn::host::warpCollective(kvn::host::WarpOp::MatchAny, v, 0u); }
inline u32 kvnWarpReduceAdd(u32 v) { return kvn::host::warpCollective(kvn::host::WarpOp::ReduceAdd, v, 0u); }
inline u32 kvnWarpReduceMin(u32 v) { return kvn::host::warpCollective(kvn::host::WarpOp::ReduceMin, v, 0u); }
inline u32 kvnWarpReduceMax(u32 v) { return kvn::host::warpCollective(kvn::host::WarpOp::ReduceMax, v, 0u); }
inline u32 kvnWarpInclusiveAdd(u32 v) { return kvn::host::warpCollective(kvn::host::WarpOp::InclusiveAdd, v, 0u); }

// Any collective orders the warp on the host: its lanes all stop there.
inline void kvnWarpSync() { kvn::host::warpCollective(kvn::host::WarpOp::ReduceAdd, 0u, 0u); }

#include "host_params.h"
