#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"
#include "vulkan/device/host_import.h"
#include "vulkan/device/vulkan_context.h"

namespace kvn {
namespace {

using test::inChildProcess;
using test::readyOps;

constexpr auto kH2D = ImportDirection::HostToDevice;
constexpr auto kD2H = ImportDirection::DeviceToHost;

const HostImportSlot& slot(int32_t index) { return vulkanContext().import_slots[index]; }

// Imports and hands the import straight back, as a finished copy would.
int32_t importAndRelease(const void* address, uint64_t bytes, ImportDirection direction) {
    const std::optional<HostImport> import = importHostRange(address, bytes, direction);
    if (!import) return -2;
    releaseImport(import->buffer, import->memory, import->slot);
    return import->slot;
}

TEST(HostImport, IdenticalRequestsReuseTheirSlot) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        ASSERT_TRUE(vulkanContext().host_import_usable);
        ASSERT_EQ(vulkanContext().import_alignment, 4096u);
        void* pages = nullptr;
        void* next = nullptr;
        ASSERT_EQ(ops.memAllocHost(&pages, 64 << 10), Error::None);
        ASSERT_EQ(ops.memAllocHost(&next, 4096), Error::None);
        uint8_t* p = static_cast<uint8_t*>(pages);

        const std::optional<HostImport> first = importHostRange(p + 100, 5000, kH2D);
        ASSERT_TRUE(first);
        EXPECT_EQ(first->slot, 0);
        EXPECT_EQ(first->offset, 100u);
        EXPECT_TRUE(slot(0).in_use);  // pinned before anyone else could evict it
        EXPECT_EQ(slot(0).base, reinterpret_cast<uintptr_t>(p));
        EXPECT_EQ(slot(0).size, 8192u);
        // Pinned: an identical request makes an import of its own.
        const std::optional<HostImport> busy = importHostRange(p + 100, 5000, kH2D);
        ASSERT_TRUE(busy);
        EXPECT_EQ(busy->slot, 1);
        releaseImport(busy->buffer, busy->memory, busy->slot);
        releaseImport(first->buffer, first->memory, first->slot);
        EXPECT_FALSE(slot(0).in_use);

        // Same aligned base and size: the same import, whatever the offset.
        const std::optional<HostImport> again = importHostRange(p + 8, 8000, kH2D);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->slot, 0);
        EXPECT_EQ(again->buffer, first->buffer);
        EXPECT_EQ(again->offset, 8u);
        releaseImport(again->buffer, again->memory, again->slot);
        // The other direction is another import.
        EXPECT_EQ(importAndRelease(p + 100, 5000, kD2H), 2);

        // Only memAllocHost memory, wholly inside one allocation, and not empty.
        std::vector<uint8_t> ordinary(4096);
        EXPECT_EQ(importAndRelease(ordinary.data(), 4096, kH2D), -2);
        EXPECT_EQ(importAndRelease(p + (64 << 10) - 16, 32, kH2D), -2);
        if (next == p + (64 << 10)) EXPECT_EQ(importAndRelease(p + (64 << 10) - 16, 32, kH2D), -2);
        EXPECT_EQ(importAndRelease(p, 0, kH2D), -2);
        EXPECT_EQ(ops.memFreeHost(next), Error::None);
        EXPECT_EQ(ops.memFreeHost(pages), Error::None);
    });
}

TEST(HostImport, EvictsTheLeastRecentlyUsedIdleSlot) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        void* pages = nullptr;
        ASSERT_EQ(ops.memAllocHost(&pages, 32 * 4096), Error::None);
        uint8_t* p = static_cast<uint8_t*>(pages);
        // Sixteen imports of different sizes fill the cache in slot order.
        for (int32_t i = 0; i < 16; ++i) EXPECT_EQ(importAndRelease(p, 4096 * (i + 1), kH2D), i);
        // Touch slot 0 and slot 2: slot 1 is now the oldest, then 3.
        EXPECT_EQ(importAndRelease(p, 4096 * 1, kH2D), 0);
        EXPECT_EQ(importAndRelease(p, 4096 * 3, kH2D), 2);
        EXPECT_EQ(importAndRelease(p, 4096 * 17, kH2D), 1);
        EXPECT_EQ(slot(1).size, 17 * 4096u);
        EXPECT_EQ(importAndRelease(p, 4096 * 18, kH2D), 3);
        // The evicted import is gone: asking for it again evicts the next oldest.
        EXPECT_EQ(importAndRelease(p, 4096 * 2, kH2D), 4);

        // With every slot pinned, a new import lives outside the cache.
        std::vector<HostImport> pinned;
        for (int32_t i = 0; i < 16; ++i) {
            const std::optional<HostImport> import = importHostRange(p, slot(i).size, kH2D);
            ASSERT_TRUE(import);
            pinned.push_back(*import);
        }
        const std::optional<HostImport> outside = importHostRange(p, 4096 * 20, kH2D);
        ASSERT_TRUE(outside);
        EXPECT_EQ(outside->slot, -1);
        releaseImport(outside->buffer, outside->memory, outside->slot);  // destroyed (the layer checks)
        for (const HostImport& import : pinned) releaseImport(import.buffer, import.memory, import.slot);
        for (int32_t i = 0; i < 16; ++i) EXPECT_FALSE(slot(i).in_use) << i;
        EXPECT_EQ(ops.memFreeHost(pages), Error::None);
        for (int32_t i = 0; i < 16; ++i) EXPECT_FALSE(slot(i).valid) << i;
    });
}

TEST(HostImport, GivingPagesBackReleasesEveryOverlappingImport) {
    inChildProcess([] {
        const GpuOpsTable& ops = readyOps();
        void* a = nullptr;
        void* b = nullptr;
        ASSERT_EQ(ops.memAllocHost(&a, 8 * 4096), Error::None);
        ASSERT_EQ(ops.memAllocHost(&b, 8 * 4096), Error::None);
        uint8_t* pa = static_cast<uint8_t*>(a);
        EXPECT_EQ(importAndRelease(pa, 8 * 4096, kD2H), 0);
        EXPECT_EQ(importAndRelease(pa + 4096, 4096, kH2D), 1);
        const std::optional<HostImport> busy = importHostRange(b, 4096, kH2D);
        ASSERT_TRUE(busy);
        ASSERT_EQ(busy->slot, 2);

        // A range that starts inside slot 0's import still takes it.
        releaseHostImports(pa + 4096, 4096);
        EXPECT_FALSE(slot(0).valid);
        EXPECT_FALSE(slot(1).valid);

        // Pages freed while a recorded copy still holds their import: the
        // import is never reused and goes when the copy lets it go.
        EXPECT_EQ(ops.memFreeHost(b), Error::None);
        EXPECT_TRUE(slot(2).valid);
        EXPECT_TRUE(slot(2).stale);
        void* c = nullptr;
        ASSERT_EQ(ops.memAllocHost(&c, 4096), Error::None);
        const std::optional<HostImport> fresh = importHostRange(c, 4096, kH2D);
        ASSERT_TRUE(fresh);
        EXPECT_NE(fresh->slot, 2);
        releaseImport(fresh->buffer, fresh->memory, fresh->slot);
        releaseImport(busy->buffer, busy->memory, busy->slot);
        EXPECT_FALSE(slot(2).valid);
        EXPECT_EQ(ops.memFreeHost(c), Error::None);
        EXPECT_EQ(ops.memFreeHost(a), Error::None);
    });
}

}  // namespace
}  // namespace kvn
