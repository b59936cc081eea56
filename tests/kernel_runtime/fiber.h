// User-space threads for the kernel runtime: a small context switch of our
// own (about as fast as a function call; glibc's ucontext costs a system call
// per switch), with AddressSanitizer told about every stack change.
#pragma once

#include <cstddef>

namespace kvn::host {

struct FiberContext {
    void* sp = nullptr;            // saved stack pointer while switched out
    const void* stack = nullptr;   // lowest address of the stack (for the sanitizer)
    size_t stack_size = 0;
    void* fake_stack = nullptr;    // the sanitizer's per-fiber state
    FiberContext* caller = nullptr;  // the context the fiber is first entered from
    void (*body)(void*) = nullptr;
    void* arg = nullptr;
};

// Prepares `fiber` to run body(arg) on the given stack when `caller` first
// switches to it. body must never return: it ends with exitFiber.
void initFiber(FiberContext& fiber, FiberContext& caller, void* stack, size_t stack_size, void (*body)(void*),
               void* arg);

// Saves the running context into `from` and resumes `to`.
void switchFiber(FiberContext& from, FiberContext& to);

// Like switchFiber, for a fiber that will never be resumed.
[[noreturn]] void exitFiber(FiberContext& from, FiberContext& to);

}  // namespace kvn::host
