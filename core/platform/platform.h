// The small operating-system layer. Nothing else in the tree calls pthreads,
// dlopen, clock_gettime or getenv directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include <pthread.h>

#include "core/errors.h"

namespace kvn {

// ---- threads -------------------------------------------------------------

using ThreadBody = void (*)(void* arg);

struct Thread {
    pthread_t id{};
    bool started = false;
};

inline constexpr size_t kStack16MiB = size_t{16} << 20;
inline constexpr size_t kStack32MiB = size_t{32} << 20;

// Starts body(arg) on a new thread with the given stack size. Every started
// thread must be joined. Failures map to the thread-start names of the error set.
Error startThread(Thread* thread, ThreadBody body, void* arg, size_t stack_size);
void joinThread(Thread* thread);

// A value naming the calling thread, never 0, unique among running threads.
uintptr_t currentThreadTag();

// Test seam: the next `after` thread starts succeed, the one after fails with
// `Unexpected`, and later starts succeed again. A negative value disarms it.
void injectThreadStartFailure(int after);

// ---- exclusive locks -----------------------------------------------------

class ExclusiveLock {
public:
    ExclusiveLock() = default;
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    void lock() { pthread_mutex_lock(&mutex_); }
    void unlock() { pthread_mutex_unlock(&mutex_); }

private:
    pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
};

class LockGuard {
public:
    explicit LockGuard(ExclusiveLock& lock) : lock_(lock) { lock_.lock(); }
    ~LockGuard() { lock_.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    ExclusiveLock& lock_;
};

// ---- time and machine ----------------------------------------------------

// Monotonic host time in milliseconds.
double hostTimeMs();
uint32_t processorCount();

// Gives the processor to another runnable thread (for spin waits).
void yieldThread();

// ---- whole pages ---------------------------------------------------------

void* allocPages(size_t bytes);  // zeroed; nullptr on failure
// Zeroed like allocPages, aligned to 2 MiB and backed by huge pages where the
// system offers them: for large tables probed at random. Freed by freePages.
void* allocHugePages(size_t bytes);
void freePages(void* pages, size_t bytes);

// A stack for user-space context switching: `bytes` usable bytes above one
// inaccessible guard page, so an overflow faults instead of overwriting the
// neighbouring stack. Returns the lowest usable address, nullptr on failure.
// Callers keep such stacks for reuse; they are never unmapped.
void* allocGuardedStack(size_t bytes);

// ---- files ---------------------------------------------------------------

// Creates or replaces the file at `path` with `len` bytes; false when any
// step fails. Used by the diagnostic dumps, whose failures are ignored.
bool writeWholeFile(const char* path, const void* bytes, uint64_t len);
// Adds `len` bytes at the end of the file at `path`, creating it when it
// does not exist; false when any step fails.
bool appendToFile(const char* path, const void* bytes, uint64_t len);

// ---- dynamic loading -----------------------------------------------------

void* openLibrary(const char* name);  // nullptr when it cannot be loaded
void* findSymbol(void* library, const char* name);

// ---- environment ---------------------------------------------------------

const char* envText(const char* name);  // nullptr when unset
bool envPresent(const char* name);      // set at all, even empty

// The one integer parser for numeric environment variables: decimal digits
// with an optional leading '+', single underscores between digits, and '-'
// followed only by zeros read as 0. Any other form, or a value above
// max_value, counts as unset.
std::optional<uint64_t> parseEnvInteger(std::string_view text, uint64_t max_value);
std::optional<uint64_t> envInteger(const char* name, uint64_t max_value);
// The strict form, for variables whose values are plain unsigned decimals:
// digits only, at most max_value.
std::optional<uint64_t> parseDecimal(std::string_view text, uint64_t max_value);

}  // namespace kvn
