// Parameter-table expansions of the host build (kernel_begin.h, kernel_end.h),
// shared with the table-only build (dialect/param_table.h). Parameters arrive
// as the CUDA driver passes them: params[i] points at the value.
#define KVN_HOST_BIND_BUFFER(b, acc, T, name) kvn_state.name = *static_cast<acc T* const*>(kvn_params[kvn_next++]);
#define KVN_HOST_BIND_VIEW(b, acc, T, name) \
    kvn_state.name = reinterpret_cast<acc T*>(*static_cast<acc void* const*>(kvn_params[b]));
#define KVN_HOST_BIND_ADDRESS(acc, T, name) kvn_state.name.data = *static_cast<acc T* const*>(kvn_params[kvn_next++]);
#define KVN_HOST_BIND_SCALAR(T, name) kvn_state.name = *static_cast<const T*>(kvn_params[kvn_next++]);
#define KVN_HOST_KIND_BUFFER(b, acc, T, name) ::kvn::host::ParamKind::Buffer,
#define KVN_HOST_KIND_ADDRESS(acc, T, name) ::kvn::host::ParamKind::Address,
#define KVN_HOST_KIND_SCALAR(T, name) ::kvn::host::ParamKind::Scalar,
#define KVN_STRING_I(x) #x
#define KVN_STRING(x) KVN_STRING_I(x)
