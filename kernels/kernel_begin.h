// Opens a kernel entry. Before including it, a source defines:
//   KVN_KERNEL   the entry name (kvn...Kernel)
//   KVN_BLOCK_X, KVN_BLOCK_Y   threads per block (literal numbers)
//   KVN_SYNC     one of the KVN_SYNC_* modes (dialect.h)
//   KVN_MIN_BLOCKS   (optional) resident blocks per multiprocessor the CUDA build asks for
//   KVN_PARAMS(BUFFER, VIEW, ADDRESS, SCALAR)   the parameter table:
//     BUFFER(binding, access, T, name)   storage buffer; bindings 0, 1, ... come first
//     VIEW(binding, access, T, name)     the same buffer seen with another element type
//     ADDRESS(access, T, name)           buffer reached through a device address (name.data[i])
//     SCALAR(T, name)                    32-bit value
//   with access KVN_RO or KVN_RW. Buffers become bindings of set 0 in order and
//   PTX u64 parameters; addresses and scalars become the push-constant block in
//   order (an address as two u32 words, low first) and PTX u64 / 32-bit parameters.
// Then the kernel's code follows, ending with `KVN_FN void kvnMain()`, and
// kernel_end.h closes the entry.

#if defined(KVN_TARGET_SPIRV)

#if KVN_SYNC == KVN_SYNC_GRID
#error "a grid barrier has no SPIR-V form: such a kernel is CUDA-only"
#endif

KVN_PARAMS(KVN_SPV_BUFFER, KVN_SPV_BUFFER, KVN_SPV_ADDRESS, KVN_IGNORE2)

#if (0 KVN_PARAMS(KVN_IGNORE4, KVN_IGNORE4, KVN_SPV_COUNT3, KVN_SPV_COUNT2)) > 0
layout(push_constant) uniform KvnPush {
    KVN_PARAMS(KVN_IGNORE4, KVN_IGNORE4, KVN_SPV_PUSH_ADDRESS, KVN_SPV_PUSH_SCALAR)
};
#endif

#if KVN_SYNC == KVN_SYNC_WARPS
#if (KVN_BLOCK_X * KVN_BLOCK_Y) % 32 != 0
#error "a kernel with warp collectives has blocks of whole warps"
#endif
// One warp per workgroup; the launcher dispatches kvn_workgroups_per_block
// workgroups for each block.
layout(local_size_x = 32) in;
const u32 kvn_workgroups_per_block = u32(KVN_BLOCK_X * KVN_BLOCK_Y / 32);
#else
layout(local_size_x = KVN_BLOCK_X * KVN_BLOCK_Y) in;
const u32 kvn_workgroups_per_block = 1u;
#endif
const u32 kvn_block_threads = u32(KVN_BLOCK_X * KVN_BLOCK_Y);

u32 kvnThreadIndex() { return (gl_WorkGroupID.x % kvn_workgroups_per_block) * 32u + gl_LocalInvocationID.x; }
u32 kvnThreadX() { return kvnThreadIndex() % u32(KVN_BLOCK_X); }
u32 kvnThreadY() { return kvnThreadIndex() / u32(KVN_BLOCK_X); }
u32 kvnBlockIndex() { return gl_WorkGroupID.x / kvn_workgroups_per_block; }
u32 kvnBlockIndexY() { return gl_WorkGroupID.y; }
u32 kvnGridBlocks() { return gl_NumWorkGroups.x / kvn_workgroups_per_block; }
u32 kvnGridBlocksY() { return gl_NumWorkGroups.y; }
u32 kvnLane() { return kvnThreadIndex() & 31u; }
u32 kvnWarpIndex() { return kvnThreadIndex() >> 5u; }

#if KVN_SYNC == KVN_SYNC_WARPS
#include "dialect/spirv_warp.h"
#include "dialect/warp.h"
#endif

#else  // CUDA and host

struct KVN_CAT(KVN_KERNEL, _State) {
    static constexpr u32 kvn_block_threads = u32(KVN_BLOCK_X * KVN_BLOCK_Y);
    KVN_PARAMS(KVN_CPP_MEMBER_BUFFER, KVN_CPP_MEMBER_BUFFER, KVN_CPP_MEMBER_ADDRESS, KVN_CPP_MEMBER_SCALAR)

#endif

#if KVN_SYNC == KVN_SYNC_WARPS
// In the SPIR-V build a warp is the whole workgroup, so a block barrier would
// quietly order one warp only: warp kernels use kvnWarpSync.
#define kvnBarrier() kvnBlockBarrierInAWarpKernel_UseKvnWarpSync()
#endif
