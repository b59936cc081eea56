#include "tests/kernel_runtime/fiber.h"

#include <cstdint>
#include <cstdlib>

// GCC says __SANITIZE_ADDRESS__; clang only answers __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) && !defined(__SANITIZE_ADDRESS__)
#define __SANITIZE_ADDRESS__ 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#define KVN_FIBER_ASAN 1
#else
#define KVN_FIBER_ASAN 0
#endif

// kvn_fiber_switch(save_sp, next_sp): pushes the callee-saved registers and the
// SSE and x87 control words, stores the stack pointer, and pops the same from
// the next stack. A new fiber's stack is laid out so that the pop "returns"
// into kvn_fiber_start, which calls r13(r12).
asm(R"(
    .pushsection .text
    .p2align 4
    .globl kvn_fiber_switch
    .hidden kvn_fiber_switch
    .type kvn_fiber_switch, @function
kvn_fiber_switch:
    pushq %rbp
    pushq %rbx
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    subq $8, %rsp
    stmxcsr (%rsp)
    fnstcw 4(%rsp)
    movq %rsp, (%rdi)
    movq %rsi, %rsp
    ldmxcsr (%rsp)
    fldcw 4(%rsp)
    addq $8, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rbx
    popq %rbp
    ret
    .size kvn_fiber_switch, .-kvn_fiber_switch

    .p2align 4
    .globl kvn_fiber_start
    .hidden kvn_fiber_start
    .type kvn_fiber_start, @function
kvn_fiber_start:
    movq %r12, %rdi
    callq *%r13
    ud2
    .size kvn_fiber_start, .-kvn_fiber_start
    .popsection
)");

extern "C" void kvn_fiber_switch(void** save_sp, void* next_sp);
extern "C" void kvn_fiber_start();

namespace kvn::host {

static void fiberEntry(FiberContext* self) {
#if KVN_FIBER_ASAN
    // The first entry learns the caller's stack, which the sanitizer needs
    // when the fiber switches back.
    const void* bottom = nullptr;
    size_t size = 0;
    __sanitizer_finish_switch_fiber(nullptr, &bottom, &size);
    self->caller->stack = bottom;
    self->caller->stack_size = size;
#endif
    self->body(self->arg);
    std::abort();  // bodies end with exitFiber
}

void initFiber(FiberContext& fiber, FiberContext& caller, void* stack, size_t stack_size, void (*body)(void*),
               void* arg) {
#if KVN_FIBER_ASAN
    // Frames of the stack's previous fiber never returned; their poisoned
    // red zones would be taken for overflows of the new frames.
    __asan_unpoison_memory_region(stack, stack_size);
#endif
    fiber.stack = stack;
    fiber.stack_size = stack_size;
    fiber.fake_stack = nullptr;
    fiber.caller = &caller;
    fiber.body = body;
    fiber.arg = arg;

    // Eight words, popped by kvn_fiber_switch: control words, r15, r14, r13,
    // r12, rbx, rbp, return address. The stack is 16-byte aligned at
    // kvn_fiber_start, as its call expects.
    uintptr_t top = (reinterpret_cast<uintptr_t>(stack) + stack_size) & ~uintptr_t{15};
    auto* frame = reinterpret_cast<uint64_t*>(top - 8 * sizeof(uint64_t));
    frame[0] = uint64_t{0x1F80} | (uint64_t{0x037F} << 32);  // default MXCSR, x87 control word
    frame[1] = 0;
    frame[2] = 0;
    frame[3] = reinterpret_cast<uint64_t>(&fiberEntry);
    frame[4] = reinterpret_cast<uint64_t>(&fiber);
    frame[5] = 0;
    frame[6] = 0;
    frame[7] = reinterpret_cast<uint64_t>(&kvn_fiber_start);
    fiber.sp = frame;
}

void switchFiber(FiberContext& from, FiberContext& to) {
#if KVN_FIBER_ASAN
    __sanitizer_start_switch_fiber(&from.fake_stack, to.stack, to.stack_size);
#endif
    kvn_fiber_switch(&from.sp, to.sp);
#if KVN_FIBER_ASAN
    __sanitizer_finish_switch_fiber(from.fake_stack, nullptr, nullptr);
#endif
}

void exitFiber(FiberContext& from, FiberContext& to) {
#if KVN_FIBER_ASAN
    __sanitizer_start_switch_fiber(nullptr, to.stack, to.stack_size);
#endif
    kvn_fiber_switch(&from.sp, to.sp);
    std::abort();  // never resumed
}

}  // namespace kvn::host
