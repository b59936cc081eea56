// The kernel dialect. Every kernel source includes this file first; the same
// source then compiles three ways:
//   glslc  -DKVN_TARGET_SPIRV  -> one SPIR-V module per entry (Vulkan library)
//   nvcc -ptx                  -> one PTX module per source  (CUDA library)
//   g++                        -> host build on the test kernel runtime
// The README's "Writing kernels" note lists the rules a kernel follows.
// Written in the common subset of GLSL 4.50 and C++: no templates, pointers,
// references or overloaded operators in kernel code.
#ifndef KVN_DIALECT_H
#define KVN_DIALECT_H

// How a kernel synchronises; chooses the SPIR-V workgroup shape and whether
// the host runtime needs fibers.
#define KVN_SYNC_NONE 0      // no barrier, no collective
#define KVN_SYNC_BARRIERS 1  // block barriers; no warp collectives
#define KVN_SYNC_WARPS 2     // warp collectives; SPIR-V runs one warp per workgroup
#define KVN_SYNC_GRID 3      // grid barrier (cooperative launch); no SPIR-V build

#define KVN_CAT_I(a, b) a##b
#define KVN_CAT(a, b) KVN_CAT_I(a, b)
#define KVN_IGNORE2(a, b)
#define KVN_IGNORE3(a, b, c)
#define KVN_IGNORE4(a, b, c, d)

#if defined(KVN_TARGET_SPIRV)
#include "dialect/spirv.h"
#elif defined(__CUDACC__)
#include "dialect/cuda.h"
#elif defined(KVN_TARGET_PARAM_TABLE)
#include "dialect/param_table.h"
#else
#include "dialect/host.h"
#endif

#include "dialect/bits.h"

#if !defined(KVN_TARGET_SPIRV)
// SPIR-V defines the collectives per kernel (they need the workgroup shape).
#include "dialect/warp.h"

// C++ builds keep an entry's parameters as members of a per-entry struct whose
// member functions are the kernel's code, so code reads them by name as the
// SPIR-V build reads its global buffers and push constants.
#define KVN_CPP_MEMBER_BUFFER(b, acc, T, name) acc T* name;
#define KVN_CPP_MEMBER_ADDRESS(acc, T, name) KvnAddress<acc T> name;
#define KVN_CPP_MEMBER_SCALAR(T, name) \
    T name;                            \
    static_assert(sizeof(T) == 4, "scalar parameters are 32-bit push words");
#endif

#endif
