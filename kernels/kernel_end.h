// Closes the kernel entry opened by kernel_begin.h: the entry point that
// binds the parameters and runs kvnMain().

#if defined(KVN_TARGET_SPIRV)

void main() {
    KVN_PARAMS(KVN_IGNORE4, KVN_IGNORE4, KVN_SPV_INIT_ADDRESS, KVN_IGNORE2)
#if KVN_SYNC == KVN_SYNC_WARPS
    kvnWarpInit();
#endif
    kvnMain();
}

#elif defined(__CUDACC__)

};

#if defined(KVN_MIN_BLOCKS)
#define KVN_CU_LAUNCH_BOUNDS __launch_bounds__(KVN_BLOCK_X * KVN_BLOCK_Y, KVN_MIN_BLOCKS)
#else
#define KVN_CU_LAUNCH_BOUNDS __launch_bounds__(KVN_BLOCK_X * KVN_BLOCK_Y)
#endif

extern "C" __global__ void KVN_CU_LAUNCH_BOUNDS
    KVN_KERNEL(KVN_TAIL(KVN_PARAMS(KVN_CU_PARAM_BUFFER, KVN_IGNORE4, KVN_CU_PARAM_ADDRESS, KVN_CU_PARAM_SCALAR))) {
    KVN_CAT(KVN_KERNEL, _State) kvn_state;
    KVN_PARAMS(KVN_CU_BIND_BUFFER, KVN_CU_BIND_VIEW, KVN_CU_BIND_ADDRESS, KVN_CU_BIND_SCALAR)
    kvn_state.kvnMain();
}

#undef KVN_CU_LAUNCH_BOUNDS

#else  // host

};

static void KVN_CAT(KVN_KERNEL, _hostEntry)(void* const* kvn_params) {
    KVN_CAT(KVN_KERNEL, _State) kvn_state;
    u32 kvn_next = 0;
    KVN_PARAMS(KVN_HOST_BIND_BUFFER, KVN_HOST_BIND_VIEW, KVN_HOST_BIND_ADDRESS, KVN_HOST_BIND_SCALAR)
    (void)kvn_next;
    (void)kvn_params;
    kvn_state.kvnMain();
}

static const ::kvn::host::ParamKind KVN_CAT(KVN_KERNEL, _paramKinds)[] = {
    KVN_PARAMS(KVN_HOST_KIND_BUFFER, KVN_IGNORE4, KVN_HOST_KIND_ADDRESS, KVN_HOST_KIND_SCALAR)
    ::kvn::host::ParamKind::End};

static const ::kvn::host::KernelRegistration KVN_CAT(KVN_KERNEL, _registration)(::kvn::host::HostKernel{
    KVN_STRING(KVN_KERNEL), KVN_BLOCK_X, KVN_BLOCK_Y, ::kvn::host::SyncMode(KVN_SYNC),
    KVN_CAT(KVN_KERNEL, _paramKinds), &KVN_CAT(KVN_KERNEL, _hostEntry)});

#endif

#undef KVN_KERNEL
#undef KVN_BLOCK_X
#undef KVN_BLOCK_Y
#undef KVN_SYNC
#undef KVN_PARAMS
#undef KVN_MIN_BLOCKS
#undef kvnBarrier
