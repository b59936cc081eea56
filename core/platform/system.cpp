#include <dlfcn.h>
#include <sched.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "core/platform/platform.h"

namespace kvn {

double hostTimeMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) * 1e-6;
}

uint32_t processorCount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1u : uint32_t(n);
}

void* allocPages(size_t bytes) {
    if (bytes == 0) bytes = 1;
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void* allocHugePages(size_t bytes) {
    constexpr size_t kHuge = size_t{2} << 20;
    if (bytes == 0) bytes = 1;
    // Map one huge page more than asked and trim both ends to an aligned range.
    size_t mapped = bytes + kHuge;
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(p);
    uintptr_t aligned = (start + kHuge - 1) & ~(kHuge - 1);
    size_t length = (bytes + 4095) & ~size_t{4095};
    if (aligned > start) munmap(p, aligned - start);
    uintptr_t end = aligned + length;
    if (start + mapped > end) munmap(reinterpret_cast<void*>(end), start + mapped - end);
    madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);  // a hint; plain pages also work
    return reinterpret_cast<void*>(aligned);
}

void freePages(void* pages, size_t bytes) {
    if (pages) munmap(pages, bytes == 0 ? 1 : bytes);
}

void yieldThread() { sched_yield(); }

static size_t pageSize() { return size_t(sysconf(_SC_PAGESIZE)); }

void* allocGuardedStack(size_t bytes) {
    size_t page = pageSize();
    bytes = (bytes + page - 1) / page * page;
    void* p = mmap(nullptr, bytes + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    if (mprotect(p, page, PROT_NONE) != 0) {
        munmap(p, bytes + page);
        return nullptr;
    }
    return static_cast<char*>(p) + page;
}

namespace {

bool writeFile(const char* path, const char* mode, const void* bytes, uint64_t len) {
    std::FILE* file = std::fopen(path, mode);
    if (!file) return false;
    const bool written = len == 0 || std::fwrite(bytes, 1, len, file) == len;
    return std::fclose(file) == 0 && written;
}

}  // namespace

bool writeWholeFile(const char* path, const void* bytes, uint64_t len) { return writeFile(path, "wb", bytes, len); }

bool appendToFile(const char* path, const void* bytes, uint64_t len) { return writeFile(path, "ab", bytes, len); }

void* openLibrary(const char* name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }

void* findSymbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

const char* envText(const char* name) { return std::getenv(name); }

bool envPresent(const char* name) { return std::getenv(name) != nullptr; }

}  // namespace kvn
