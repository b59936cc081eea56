#include <cerrno>
#include <new>

#include "core/platform/fault_countdown.h"
#include "core/platform/platform.h"

namespace kvn {
namespace {

FaultCountdown g_thread_start_fault;

struct Trampoline {
    ThreadBody body;
    void* arg;
};

void* runTrampoline(void* raw) {
    Trampoline t = *static_cast<Trampoline*>(raw);
    delete static_cast<Trampoline*>(raw);
    t.body(t.arg);
    return nullptr;
}

Error errorFromPthread(int code) {
    switch (code) {
        case EAGAIN: return Error::ThreadQuotaExceeded;
        case ENOMEM: return Error::SystemResources;
        case EPERM: return Error::LockedMemoryLimitExceeded;
        default: return Error::Unexpected;
    }
}

}  // namespace

void injectThreadStartFailure(int after) { g_thread_start_fault.arm(after); }

Error startThread(Thread* thread, ThreadBody body, void* arg, size_t stack_size) {
    thread->started = false;
    if (g_thread_start_fault.fires()) return Error::Unexpected;

    auto* trampoline = new (std::nothrow) Trampoline{body, arg};
    if (!trampoline) return Error::OutOfMemory;

    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        delete trampoline;
        return Error::Unexpected;
    }
    int rc = pthread_attr_setstacksize(&attr, stack_size);
    if (rc == 0) rc = pthread_create(&thread->id, &attr, runTrampoline, trampoline);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete trampoline;
        return errorFromPthread(rc);
    }
    thread->started = true;
    return Error::None;
}

uintptr_t currentThreadTag() {
    static thread_local const char tag = 0;
    return reinterpret_cast<uintptr_t>(&tag);
}

void joinThread(Thread* thread) {
    if (!thread->started) return;
    pthread_join(thread->id, nullptr);
    thread->started = false;
}

}  // namespace kvn
